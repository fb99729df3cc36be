#pragma once
// Load camera parameters for a data-view entry, without any window. The
// store's record, the camera's engine and its calibrated flag change only
// when the file holds a calibrated camera: a file written for a camera that
// never ran carries fx = fy = 0 and would mark an unusable camera as
// calibrated.
#include <string>

class CalibrationDataStore;

enum class LoadParametersResult {
  kNotApplicable,  // no selection or a rig entry: nothing happens
  kLoaded,
  kFailed,  // message says why; nothing changed
};

// On kLoaded the entry is marked calibrated. message gets "Cannot open: %s!"
// for a file that does not open and "No calibrated camera parameters in:
// %s!" for one that does not convert or has fx or fy <= 0.
LoadParametersResult LoadCameraParametersForEntry(CalibrationDataStore& store, int entry, const char* path,
                                                  std::string& message);

// The panel text of loaded parameters: fx, fy, cx, cy, k1, k2, p1, p2.
std::string LoadedParametersText(const CalibrationDataStore& store, int camera);
