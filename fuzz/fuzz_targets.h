#pragma once
// One entry per file reader: the bytes are the file (or, for the readers that
// follow names to further files, a several-file input; see fuzz_support.h).
// Each returns 0 and aborts when the reader's result breaks its invariants.
#include <cstddef>
#include <cstdint>

int FuzzCameraFile(const std::uint8_t* data, std::size_t size);        // CCamera::Load
int FuzzStereoCameraFile(const std::uint8_t* data, std::size_t size);  // CStereoCamera::Load
int FuzzMvgCameras(const std::uint8_t* data, std::size_t size);        // MVG::LoadCameras
int FuzzMvgMultiCameras(const std::uint8_t* data, std::size_t size);   // MVG::LoadMultiCameras
int FuzzBoardFile(const std::uint8_t* data, std::size_t size);         // ReadDefaultBoardFile
int FuzzIntrinsicsFile(const std::uint8_t* data, std::size_t size);    // ReadIntrinsicsFile
int FuzzViewExtrinsicsFile(const std::uint8_t* data, std::size_t size);  // ReadViewExtrinsicsFile
int FuzzImagePointsFile(const std::uint8_t* data, std::size_t size);   // ReadImagePointsFile
int FuzzProjectFile(const std::uint8_t* data, std::size_t size);       // the project file and its data files
int FuzzImageFile(const std::uint8_t* data, std::size_t size);         // GDI::LoadBitmapA
int FuzzGraphFile(const std::uint8_t* data, std::size_t size);         // the graph-file container
