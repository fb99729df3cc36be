#pragma once
// CStereoCamera: two cameras (0 the first or left, 1 the second or right) and
// the relative pose of the second, X2 = Rrel X1 + Trel.
#include <opencv2/core/types_c.h>

#include "MVG/camera.h"

class CStereoCamera {
 public:
  CStereoCamera();
  // Assigns with CCamera::operator=, so neither camera is calibrated here.
  CStereoCamera(const CCamera& first, const CCamera& second);
  CStereoCamera(const CStereoCamera& other) = default;
  CStereoCamera& operator=(const CStereoCamera& other);

  CCamera GetCamera(int i) const { return cameras_[i]; }
  void SetCamera(const CCamera& first, const CCamera& second);
  void ZeroDistortion();

  // Rrel = R2 R1^T, stored.
  double* GetRelativeRotation();
  // Rrel as above and Trel = T2 - Rrel T1, both stored.
  double* GetRelativeTranslation();

  // Midpoint of the common perpendicular of the two viewing rays, in the
  // first camera's frame when camera 0 sits at the origin (as a calibrated
  // rig stores it): uses camera 1's own R and T, not Rrel and Trel.
  CvPoint3D32f Triangulate3DPoint(const CvPoint2D32f* first, const CvPoint2D32f* second) const;

  // The stereo file holds two white-space-free paths of camera-parameter
  // files, the first camera's, then the second's. A token of 260 characters
  // or more refuses the file with both cameras unchanged; a camera file that
  // does not load leaves that camera as it was. True when both loaded.
  bool Load(const char* path);
  // Camera 0 to firstPath, camera 1 to secondPath; no stereo file.
  bool Save(const char* firstPath, const char* secondPath) const;
  // Writes both camera files beside path (path's name without its extension,
  // then "_camera0.txt" and "_camera1.txt") and the stereo file at path that
  // names them, so that Load(path) restores the pair. Refuses a path with
  // white space or one whose names would be too long for Load.
  bool Save(const char* path) const;

 private:
  double Rrel_[9];
  double Trel_[3];
  CCamera cameras_[2];
};
