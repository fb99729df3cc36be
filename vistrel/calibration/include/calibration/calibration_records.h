#pragma once
// The plain per-camera, per-rig and per-image records of the calibration
// data store, and the one rule a board definition must pass before a store
// or an engine uses it.

struct CameraParameters {
    // k1, k2, p1, p2; the fifth value is carried along but never computed,
    // saved or loaded.
    double d[5] = {0, 0, 0, 0, 0};
    // Row-major: fx = K[0], cx = K[2], fy = K[4], cy = K[5]; K[1] unused.
    double K[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double T[3] = {0, 0, 0};
    int width = 0;
    int height = 0;
};

// squaresX, squaresY count grid points (corners), not squares; the window is
// the half size of the sub-pixel corner search.
struct CalibrationObjectSettings {
    double squareSizeX = 0.0;
    double squareSizeY = 0.0;
    int squaresX = 0;
    int squaresY = 0;
    int windowX = 3;
    int windowY = 3;
};

struct StereoPairRecord {
    int cameraA = 0;
    int cameraB = 0;
    int reserved = 0;
};

// Both return the record they were given, reset to its initial state.
CameraParameters* InitCameraParameters(CameraParameters* parameters);
CalibrationObjectSettings* InitCalibrationObjectSettings(CalibrationObjectSettings* settings);

// Grid points 2..101 on each axis, both spacings finite and > 0 (in any unit:
// a board in metres is as good as one in millimetres), windowX 1..100 and
// windowY 1..1000.
bool IsValidBoard(const CalibrationObjectSettings& settings);
