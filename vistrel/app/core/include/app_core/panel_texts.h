#pragma once
// The data view's panel texts, worded from the store, an engine's last run
// or a rig's cameras. Numbers use the C formats as they stand ("%.4lf",
// "%lf"), so the process locale's decimal comma must not be active.
#include <string>

#include "calibration/calibration_records.h"

class CalibrationDataStore;
class CMonoCameraCalibrationEngine;
class CStereoCamera;

// After Calibrate: the committed result, the engine's reprojection error
// (mean |x|, mean |y|, mean distance) and field of view.
std::string CalibrationResultText(const CameraParameters& result, const CMonoCameraCalibrationEngine& engine);

// What RefreshPanels writes for a camera entry: a calibrated camera's
// parameters, its engine's field of view and its image size; otherwise
// "Not calibrated.".
std::string RefreshedCameraText(const CalibrationDataStore& store, int entry);

// A rig's relative rotation (row-major) and translation. After Calibrate
// Stereo the text starts with "Intrinsic parameters reoptimized!\n".
std::string StereoRigText(const CStereoCamera& rig, bool reoptimized);

// The text a rig entry shows on refresh: its stored stereo camera once the
// rig is calibrated, otherwise "Not calibrated.".
std::string RefreshedRigText(const CalibrationDataStore& store, int rig);
