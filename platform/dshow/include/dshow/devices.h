#pragma once
// Capture devices: the media library's video sources, after fake devices
// that tests (or QUORL_FAKE_VIDEO_DEVICES for the program run headless) add.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dshow/interfaces.h"

namespace dshow {

struct DeviceFormat {
  GUID subtype = MEDIASUBTYPE_YUY2;
  int width = 640;
  int height = 480;
  int fps = 30;
};

// Writes one frame: packed B, G, R rows, top row first.
using FrameGenerator = std::function<void(long frame, BYTE* bgr, int width, int height, int stride)>;

struct FakeDevice {
  std::string name;
  std::vector<DeviceFormat> formats{DeviceFormat{}};  // the first is the default
  // Physical connector types of the inputs; two or more give a crossbar.
  std::vector<long> inputs;
  // Names of the controls the device offers (its property page lists them).
  std::vector<std::string> controls;
  // Frames: this generator, else a test pattern that changes with the input.
  FrameGenerator generator;
  // For tests of code above the stand-in: makes the device's filter instead.
  std::function<IBaseFilter*()> makeFilter;

  // The output pin: tagged capture (as a usual device), tagged preview
  // only, without a category, or none at all.
  enum class Output { Capture, PreviewOnly, Untagged, None };
  Output output = Output::Capture;
  // false: the device exposes no IAMDroppedFrames (neither filter nor pin).
  bool droppedFrames = true;
  // Set: the dropped-frame count the device reports, read at each call, so
  // the test can change it while frames flow. Else gaps in the frame numbers.
  std::shared_ptr<std::atomic<long>> droppedCount;
  // An analogue video input pin with no crossbar behind it (used when fewer
  // than two inputs are listed; two or more bring their crossbar anyway).
  bool analogInputWithoutCrossbar = false;
  // true: the capture filter answers IAMVfwCaptureDialogs (no dialogs).
  bool vfwDialogs = false;
};

// Fake devices are listed first, in the order added. Returns an id.
int AddFakeDevice(FakeDevice device);
void RemoveFakeDevice(int id);
void ClearFakeDevices();

// Testing switch: the compressor category and the encoder list read empty.
void SetCompressorsHidden(bool hidden);
bool CompressorsHidden();

}  // namespace dshow
