#pragma once
// A 640 x 480 camera whose field of view is 90 degrees both ways (focal
// lengths of half the image, principal point in the middle), with a little
// radial and tangential distortion: its panel texts are easy to work out.
#include "calibration/calibration_records.h"

inline CameraParameters Square90Camera() {
  CameraParameters p;
  p.K[0] = 320;
  p.K[2] = 319.5;
  p.K[4] = 240;
  p.K[5] = 239.5;
  p.K[8] = 1;
  p.d[0] = -0.125;
  p.d[2] = 0.0625;
  p.width = 640;
  p.height = 480;
  return p;
}
