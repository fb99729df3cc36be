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
  // Cameras (by position among the project's cameras, in order) whose views
  // were dropped: the views go with the usable images by position, so a
  // camera that lost an image, or the points of a usable image, keeps its
  // intrinsics but gets no views, as if its extrinsics had been skipped.
  std::vector<int> camerasWithoutViews;
};

// Reads the project at projectPath into staged, behind whatever staged holds
// (normally nothing: the caller appends staged to the workbench). The
// structure is read and checked first: a bad project or a data file that
// cannot be opened gives false with report->message and adds nothing.
// A camera is calibrated only when its intrinsics loaded with fx, fy > 0; a
// rig only when both its camera files loaded with fx, fy > 0.
bool ReadProject(const std::filesystem::path& projectPath, CalibrationDataStore& staged, ProjectReadReport* report);

// The one message after a load that did without files: a first line "The
// project was opened without the files below:" (naming before the colon the
// cameras that lost their views: ", and Camera 2 without its views",
// ", and Cameras 1 and 3 without their views", numbered from firstCamera + 1
// as their columns are), then "Cannot open: <path>!" a line each. Empty when
// nothing was done without.
std::string SkippedFilesMessage(const ProjectReadReport& report, int firstCamera = 0);
