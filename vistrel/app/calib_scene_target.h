#pragma once
// What the data view asks of the 3D results dialog. CCalib3DScene is the
// real one; tests put a recorder in its place. Keys are data-view entries.
#include <opencv2/core/types_c.h>

#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"

class ICalibSceneTarget {
 public:
  virtual ~ICalibSceneTarget() = default;

  // R and T hold `views` poses (9 and 3 doubles each); images[i] belongs to
  // pose i and the list may be shorter (or empty: untextured views).
  virtual void AddScene(int key, CCamera camera, double* R, double* T, int views, int boardW, int boardH,
                        double square, std::vector<IplImage*>& images) = 0;
  virtual void AddStereoScene(int key, CStereoCamera rig, double* R, double* T, int views, int boardW, int boardH,
                              double square, std::vector<IplImage*>& leftImages,
                              std::vector<IplImage*>& rightImages) = 0;
  virtual void RemoveScene(int key) = 0;
  // The key of the scene on show, -1 for none.
  virtual int GetShownKey() const = 0;
  virtual void OnEntryInserted(int entry) = 0;
  virtual void OnEntryRemoved(int entry) = 0;
  // Brings the dialog up (modeless; it is created hidden).
  virtual void ShowResults() = 0;
};
