#pragma once
// The structure of a saved calibration project: which entries it holds and
// the names of each entry's files, read and checked in full before anything
// is loaded, so a bad project changes nothing.
//
// A project is a folder of text files and images: the project file names
// each entry's data file ("Camera_<i>_Data.txt" followed by the camera line,
// or "StereoCamera_<a><b>_Data.txt"); a camera's data file names its
// intrinsics, its extrinsics and, per image, "<enabled> <image>" and
// "<detected> <points>"; a rig's names its two camera files. Names are bare
// (no folder) and read as whitespace-separated tokens, so CR LF is accepted.
#include <filesystem>
#include <string>
#include <vector>

#include "calibration/calibration_records.h"

struct ProjectImageFiles {
  bool enabled = false;
  std::string image;
  bool detected = false;
  std::string points;
};

struct ProjectEntryFiles {
  bool isRig = false;
  std::string dataName;
  // A camera: its files and board (both counts 0: no board).
  std::string intrinsics;
  std::string extrinsics;
  CalibrationObjectSettings board;
  std::vector<ProjectImageFiles> images;
  // A rig: its two camera files and the project entries it joins.
  std::string firstCamera;
  std::string secondCamera;
  int entryA = -1;
  int entryB = -1;
};

// Entries a project may hold; the entry digits of a rig's name are single.
constexpr int kMaxProjectEntries = 9;
// Longest file name the project names.
constexpr std::size_t kMaxProjectName = 255;
// Most grid points a camera's views may hold (images times board points): a
// thousand images of the largest board fit; a forged image count is refused
// before the views are sized for it.
constexpr long long kMaxProjectViewPoints = 1LL << 24;

extern const char* const kInvalidProjectMessage;  // "This does not appear to be a valid calibration project..!!"

// Reads the project file at `projectPath` and every data file it names
// (beside it; a project file or data file over 16 MiB is not a project's). False, `entries` emptied, with *message set to
// kInvalidProjectMessage for a bad structure, or "Cannot open: <path>!" for
// the project or a data file that cannot be read.
//
// A rig joins the two entries its name's digits give when they are two
// distinct cameras before it; otherwise the two entries just before it when
// both are cameras; otherwise the project is refused.
bool ReadProjectStructure(const std::filesystem::path& projectPath, std::vector<ProjectEntryFiles>& entries,
                          std::string* message);

// True for a name the project may hold: a bare token of 1..255 characters
// without white space, "/", "\" or "..".
bool IsBareProjectName(const std::string& name);
