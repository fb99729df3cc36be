#pragma once
// Capture devices: the media library's video sources, after fake devices
// that tests (or QUORL_FAKE_VIDEO_DEVICES for the program run headless) add.
#include <functional>
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
};

// Fake devices are listed first, in the order added. Returns an id.
int AddFakeDevice(FakeDevice device);
void RemoveFakeDevice(int id);
void ClearFakeDevices();

}  // namespace dshow
