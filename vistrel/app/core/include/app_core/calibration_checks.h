#pragma once
// What the data view checks before Calibrate and Calibrate Stereo run an
// engine, without any window. Everything is checked before the first run,
// so a refused command changes nothing. Entries are entry indices; the
// result names the cameras (camera indices) the runs must use.
#include <string>
#include <vector>

class CalibrationDataStore;

enum class CommandVerdict {
  kNothing,  // no selection, or an entry the command does not apply to
  kRefused,  // show message and stop
  kRun,
};

// Fewer usable images than this cannot constrain a calibration.
constexpr int kMinimumCalibrationImages = 5;

extern const char kNotConstrainedMessage[];
extern const char kNotConstrainedStereoMessage[];

struct CalibrateCheck {
  CommandVerdict verdict = CommandVerdict::kNothing;
  std::string message;
  int camera = -1;
  // The usable (enabled and detected) images, in image order: the engine
  // gets one pose per entry of this list.
  std::vector<int> usableImages;
  int width = 0, height = 0;
};

// Calibrate for entry (-1: no selection). A rig entry does nothing; fewer
// than five usable images, or usable images of different sizes, refuse.
CalibrateCheck CheckCalibrate(const CalibrationDataStore& store, int entry);

struct CalibrateStereoCheck {
  CommandVerdict verdict = CommandVerdict::kNothing;
  std::string message;
  int cameraA = -1, cameraB = -1;
  int widthA = 0, heightA = 0, widthB = 0, heightB = 0;
};

// Calibrate Stereo for entry and entry + 1 (-1: no selection). A rig at
// either, or a missing entry + 1, counts as no images. Both need at least
// five images (disabled ones count), the same number, every image detected
// and one image size each.
CalibrateStereoCheck CheckCalibrateStereo(const CalibrationDataStore& store, int entry);

// The size every listed image of camera shares: false with "The images of
// Camera %d do not all have the same size!" when they differ (or one is
// missing).
bool CommonImageSize(const CalibrationDataStore& store, int camera, const std::vector<int>& images, int& width,
                     int& height, std::string& message);
