#pragma once
// A calibration project on disk: the project file, one data file per entry
// and each camera's intrinsics, extrinsics, images and image points, all in
// the project file's folder (names inside the files are bare).
//
// Project file: the entry count, then per entry its data file's name, a
// camera's followed by its line "<images> <squaresX> <squaresY>
// <squareSizeX> <squareSizeY> <windowX> <windowY>". A camera at entry i
// writes "Camera_<i>_Data.txt", "Camera_<i>_Intrinsic.txt",
// "Camera_<i>_Extrinsic.txt", "Camera_<i>_Image_<j>.<ext>" and
// "Camera_<i>_Points_<j>.txt"; a rig of entries a and b writes
// "StereoCamera_<a><b>_Data.txt" naming its two camera files
// "StereoCamera_<a><b>_Intrinsic_<a>.txt" and "..._Intrinsic_<b>.txt" (named
// after the pair, so two rigs sharing a camera keep their own copies).
// Names keep the entry index; the store is addressed by camera index.
#include <filesystem>
#include <string>
#include <vector>

class CalibrationDataStore;

// Writes the whole store as a project at projectPath, images in the format
// of extension ("bmp", "png", "tif", "jpg" or "gif"). All or nothing (see
// file_set_writer.h): on failure the files of an earlier save are unchanged
// and *message says why:
//   "There is nothing to save: the workbench has no entries!"
//   "A project holds at most 9 entries; this one has <n>!"
//   "<name> is the name of a file the project writes!" (the chosen name)
//   "Cannot write: <path>!"
bool WriteProject(const CalibrationDataStore& store, const std::filesystem::path& projectPath,
                  const std::string& extension, std::string* message);

struct ProjectReadReport {
  // Why nothing was loaded (ReadProject false).
  std::string message;
  // Full paths of a camera's own files that could not be opened or read; the
  // project loaded without them: an image is left out with its points file, a
  // points file leaves its image undetected, intrinsics leave the camera
  // uncalibrated, extrinsics give it no views, a rig camera file leaves the
  // rig uncalibrated.
  std::vector<std::string> skipped;
};

// Reads the project at projectPath into staged, behind whatever staged holds
// (normally nothing: the caller appends staged to the workbench). The
// structure is read and checked first: a bad project or a data file that
// cannot be opened gives false with report->message and adds nothing.
// A camera is calibrated only when its intrinsics loaded with fx, fy > 0; a
// rig only when both its camera files loaded.
bool ReadProject(const std::filesystem::path& projectPath, CalibrationDataStore& staged, ProjectReadReport* report);

// The one message listing skipped files: "Cannot open: <path>!" each, one a
// line; empty when nothing was skipped.
std::string SkippedFilesMessage(const std::vector<std::string>& skipped);
