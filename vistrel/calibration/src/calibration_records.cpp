#include "calibration/calibration_records.h"

#include <cmath>

CameraParameters* InitCameraParameters(CameraParameters* parameters) {
    if (parameters) *parameters = CameraParameters{};
    return parameters;
}

CalibrationObjectSettings* InitCalibrationObjectSettings(CalibrationObjectSettings* settings) {
    if (settings) *settings = CalibrationObjectSettings{};
    return settings;
}

bool IsValidBoard(const CalibrationObjectSettings& s) {
    auto within = [](int value, int low, int high) { return value >= low && value <= high; };
    auto positive = [](double value) { return std::isfinite(value) && value > 0.0; };
    return within(s.squaresX, 2, 101) && within(s.squaresY, 2, 101) && positive(s.squareSizeX) &&
           positive(s.squareSizeY) && within(s.windowX, 1, 100) && within(s.windowY, 1, 1000);
}
