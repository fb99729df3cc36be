#include "app_core/video_sample.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <opencv2/core/core_c.h>

#include "MVG/gdi_frames.h"
#include "MVG/mvg_camera.h"
#include "MVG/weights_index_map.h"
#include "app_core/scoped_lock.h"

int StreamConfiguration::CameraCount() const {
  int n = 0;
  for (int camera : cameras) n += camera != -1;
  return n;
}

void StreamConfiguration::AssignStreamSlots() {
  const int images = splitting == 0 ? 1 : splitting == 1 ? 2 : splitting == 2 ? 4 : 0;
  for (int i = 0; i < 4; ++i) cameras[i] = i < images ? i : -1;
}

namespace {

bool FocalLengthsUsable(const CameraParameters& c) {
  return std::isfinite(c.K[0]) && std::isfinite(c.K[4]) && c.K[0] > 0 && c.K[4] > 0;
}

// The camera's warp map (5 ints per pixel), or null when the record cannot
// give one or the memory is not there. Offsets are ints: 3 x pixels must fit.
int* MakeUndistortionMap(const CameraParameters& c) {
  if (!FocalLengthsUsable(c) || c.width <= 0 || c.height <= 0) return nullptr;
  const std::size_t pixels = static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height);
  if (pixels > static_cast<std::size_t>(INT_MAX) / 5) return nullptr;
  int* map = new (std::nothrow) int[5 * pixels];
  if (!map) return nullptr;
  MVG::Camera record{};
  for (int i = 0; i < 4; ++i) record.d[i] = static_cast<float>(c.d[i]);
  record.d[4] = 0;  // the fifth coefficient is never calibrated
  for (int i = 0; i < 9; ++i) record.K[i] = static_cast<float>(c.K[i]), record.R[i] = static_cast<float>(c.R[i]);
  for (int i = 0; i < 3; ++i) record.T[i] = static_cast<float>(c.T[i]);
  record.width = static_cast<float>(c.width);
  record.height = static_cast<float>(c.height);
  MVG::ComputeUndistortionMapCoefficients(&record, 1, &map);
  return map;
}

void ReleaseImage(IplImage** image) {
  if (*image) cvReleaseImage(image);
  *image = nullptr;
}

// Makes *image an 8-bit three-channel image of the size, keeping it when it
// already is one.
void EnsureImage(IplImage** image, int width, int height) {
  if (*image && (*image)->width == width && (*image)->height == height) return;
  ReleaseImage(image);
  *image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
}

}  // namespace

CVideoSample::CVideoSample() {
  InitializeCriticalSection(&samplerLock_);
  std::memset(&sampleHeader_, 0, sizeof(sampleHeader_));
}

CVideoSample::~CVideoSample() {
  for (int i = 0; i < 4; ++i) delete[] warpMaps_[i];
  ReleaseImages();
  DeleteLock(&samplerLock_);
}

void CVideoSample::ReleaseImages() {
  for (int i = 0; i < 4; ++i) {
    ReleaseImage(&cameraImages_[i]);
    ReleaseImage(&undistortedImages_[i]);
  }
  ReleaseImage(&frameImage_);
}

void CVideoSample::SetStreamConfiguration(int deinterlace, int splitting, int camera0, int camera1, int camera2,
                                          int camera3) {
  CScopedLock lock(&samplerLock_);
  configuration_ = StreamConfiguration{deinterlace, splitting, {camera0, camera1, camera2, camera3}};
  PrepareLocked(configuration_);
}

bool CVideoSample::PrepareImages(StreamConfiguration configuration) {
  CScopedLock lock(&samplerLock_);
  return PrepareLocked(configuration);
}

bool CVideoSample::PrepareLocked(const StreamConfiguration& c) {
  int width = 0, signedHeight = 0, stride = 0;
  if (!DShow::GetVideoInfoLayout(mediaType_, &width, &signedHeight, &stride)) return false;
  const int height = std::abs(signedHeight);
  int cameraWidth = cameraWidth_, cameraHeight = cameraHeight_, count = 0;
  switch (c.splitting) {
    case 0:
      cameraWidth = width, cameraHeight = height, count = 1;
      break;
    case 1:
      cameraWidth = width / 2, cameraHeight = height, count = 2;
      break;
    case 2:
      cameraWidth = width / 2, cameraHeight = height / 2, count = 4;
      break;
    default:  // passes frames through; the camera size stays
      break;
  }
  if (count && c.deinterlace) cameraHeight /= 2;
  if (cameraWidth <= 0 || cameraHeight <= 0) count = 0;  // a frame too small to split
  try {
    EnsureImage(&frameImage_, width, height);
    for (int i = 0; i < count; ++i) {
      EnsureImage(&cameraImages_[i], cameraWidth, cameraHeight);
      EnsureImage(&undistortedImages_[i], cameraWidth, cameraHeight);
    }
  } catch (const std::exception&) {
    ReleaseImages();
    initialised_ = hasFrame_ = false;
    imageCount_ = 0;
    return false;
  }
  // A map of another size cannot apply: a flag left on would make the next
  // toggle a silent "off".
  if (cameraWidth != cameraWidth_ || cameraHeight != cameraHeight_)
    for (bool& on : undistort_) on = false;
  frameWidth_ = width;
  frameHeight_ = height;
  frameStride_ = stride;
  cameraWidth_ = cameraWidth;
  cameraHeight_ = cameraHeight;
  imageCount_ = count;
  bottomUp_ = signedHeight > 0;
  prepared_ = c;
  initialised_ = true;
  hasFrame_ = false;
  return true;
}

void CVideoSample::SetMediaType(AM_MEDIA_TYPE mediaType) {
  CScopedLock lock(&samplerLock_);
  CFrameSampler::SetMediaType(mediaType);
  initialised_ = false;
  hasFrame_ = false;
}

bool CVideoSample::WarpApplies(int stream) const {
  return stream < imageCount_ && undistort_[stream] && mapValid_[stream] && warpMaps_[stream] &&
         mapCameras_[stream].width == cameraWidth_ && mapCameras_[stream].height == cameraHeight_;
}

void CVideoSample::ProcessFrame(IplImage* frame) {
  bool anyWarp = false;
  for (int i = 0; i < imageCount_; ++i) anyWarp = anyWarp || WarpApplies(i);
  const bool field = prepared_.deinterlace != 0;
  // Without a field to double or an image to warp, splitting and merging
  // give back the frame's own bytes.
  if (imageCount_ == 0 || (!field && !anyWarp)) return;
  const bool flip = bottomUp_;
  IplImage** cameras = cameraImages_;
  switch (prepared_.splitting) {
    case 0:
      if (field)
        GDI::SplitFrameField(frame, cameras[0], flip);
      else if (flip)
        cvFlip(frame, cameras[0], 0);  // the map is for the upright picture
      else
        cvCopy(frame, cameras[0]);
      break;
    case 1:
      GDI::SplitFrameStereo(frame, cameras, flip, field);
      break;
    case 2:
      GDI::SplitFrameQuad(frame, cameras, flip, field);
      break;
  }
  // A warped stream merges straight from its undistorted image.
  IplImage* merged[4] = {};
  for (int i = 0; i < imageCount_; ++i) {
    merged[i] = cameras[i];
    if (!WarpApplies(i)) continue;
    IP::WarpByWeightsIndex(cameras[i], undistortedImages_[i], warpMaps_[i]);
    merged[i] = undistortedImages_[i];
  }
  switch (prepared_.splitting) {
    case 0:
      if (field)
        GDI::MergeFrameField(frame, merged[0], flip);
      else if (flip)
        cvFlip(merged[0], frame, 0);
      else
        cvCopy(merged[0], frame);
      break;
    case 1:
      GDI::MergeFrameStereo(frame, merged, flip, field);
      break;
    case 2:
      GDI::MergeFrameQuad(frame, merged, flip, field);
      break;
  }
}

HRESULT CVideoSample::SampleCB(double, IMediaSample* sample) {
  CScopedLock lock(&samplerLock_);
  if (!sample) return S_OK;
  // A frame before any configuration is prepared with the default.
  if (!initialised_ && !PrepareLocked(configuration_)) return S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long frameBytes = static_cast<long>(frameStride_) * frameHeight_;
  if (!data || sample->GetActualDataLength() < frameBytes) return S_OK;
  // Processed in place through a header on the sample: the grabber lends
  // the buffer only for this call.
  cvInitImageHeader(&sampleHeader_, cvSize(frameWidth_, frameHeight_), IPL_DEPTH_8U, 3, IPL_ORIGIN_TL, 4);
  cvSetData(&sampleHeader_, data, frameStride_);
  ProcessFrame(&sampleHeader_);
  std::memcpy(frameImage_->imageData, data, static_cast<std::size_t>(frameBytes));
  hasFrame_ = true;
  return S_OK;
}

bool CVideoSample::HasSameCameraModel(const CameraParameters& a, const CameraParameters& b) {
  for (int i = 0; i < 5; ++i)
    if (a.d[i] != b.d[i]) return false;
  for (int i = 0; i < 9; ++i)
    if (a.K[i] != b.K[i]) return false;
  return a.width == b.width && a.height == b.height;
}

bool CVideoSample::BuildUndistortionMap(const CameraParameters& camera, int stream) {
  if (stream < 0 || stream > 3) return false;
  int* map = MakeUndistortionMap(camera);
  if (!map) return false;
  CScopedLock lock(&samplerLock_);
  delete[] warpMaps_[stream];
  warpMaps_[stream] = map;
  mapValid_[stream] = true;
  undistort_[stream] = false;
  mapCameras_[stream] = camera;
  return true;
}

bool CVideoSample::ToggleUndistortion(const CameraParameters& camera, int stream) {
  if (stream < 0 || stream > 3) return false;
  const auto fits = [&] {
    return camera.width == cameraWidth_ && camera.height == cameraHeight_ && FocalLengthsUsable(camera);
  };
  {
    CScopedLock lock(&samplerLock_);
    if (undistort_[stream]) {
      undistort_[stream] = false;  // the map stays for a later switch-on
      return true;
    }
    if (!fits()) return false;
    if (mapValid_[stream] && HasSameCameraModel(camera, mapCameras_[stream])) {
      undistort_[stream] = true;
      return true;
    }
  }
  // Built without the lock, so frames keep flowing meanwhile.
  int* map = MakeUndistortionMap(camera);
  if (!map) return false;
  CScopedLock lock(&samplerLock_);
  if (!fits()) {  // a new frame size arrived while the map was built
    delete[] map;
    return false;
  }
  delete[] warpMaps_[stream];
  warpMaps_[stream] = map;
  mapValid_[stream] = true;
  mapCameras_[stream] = camera;
  undistort_[stream] = true;
  return true;
}

std::string CVideoSample::GetConfigurationText() {
  CScopedLock lock(&samplerLock_);
  static const char* const kSplitting[] = {"Data Streams: Single\n", "Data Streams: Stereo\n",
                                           "Data Streams: Quad\n"};
  static const char* const kDeinterlace[] = {"Deinterlacing: None\n", "Deinterlacing: Half fields\n"};
  std::string text;
  if (configuration_.splitting >= 0 && configuration_.splitting <= 2) text += kSplitting[configuration_.splitting];
  if (configuration_.deinterlace == 0 || configuration_.deinterlace == 1)
    text += kDeinterlace[configuration_.deinterlace];
  char size[64];
  std::snprintf(size, sizeof(size), "Camera Frame Size: %d x %d", cameraWidth_, cameraHeight_);
  return text + size;
}

SampleFrameInfo CVideoSample::GetFrameInfo() {
  CScopedLock lock(&samplerLock_);
  SampleFrameInfo info;
  info.prepared = initialised_;
  info.bottomUp = bottomUp_;
  info.frameWidth = frameWidth_;
  info.frameHeight = frameHeight_;
  info.cameraWidth = cameraWidth_;
  info.cameraHeight = cameraHeight_;
  info.configuration = prepared_;
  return info;
}

IplImage* CVideoSample::CloneFrame(SampleFrameInfo* info) {
  CScopedLock lock(&samplerLock_);
  if (!hasFrame_ || !frameImage_) return nullptr;
  IplImage* clone = nullptr;
  try {
    clone = cvCloneImage(frameImage_);
  } catch (const std::exception&) {
    return nullptr;
  }
  if (info) *info = GetFrameInfo();
  return clone;
}
