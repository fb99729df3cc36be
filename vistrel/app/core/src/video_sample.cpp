#include "app_core/video_sample.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <opencv2/core/core_c.h>

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

// Rewrites a map built for upright rows into one for the same picture
// stored bottom-up (and back: it is its own inverse). Output row m takes the
// entry of row h - 1 - m; a sample pair at rows (r, r + 1) lies at rows
// (h - 2 - r, h - 1 - r) once flipped, so the top-left moves and the row
// weights swap: (w1, w2, w3, w4) becomes (w2, w1, w4, w3). The resampler
// adds the same four products, so every output byte is unchanged.
void FlipEntry(int* e, int width, int height) {
  if (e[1] == 0 && e[2] == 0 && e[3] == 0 && e[4] == 0) return;  // outside the picture
  const int rowBytes = 3 * width;
  const int row = e[0] / rowBytes, column = e[0] % rowBytes;
  e[0] = (height - 2 - row) * rowBytes + column;
  std::swap(e[1], e[2]);
  std::swap(e[3], e[4]);
}

void FlipMapRows(int* map, int width, int height) {
  const std::size_t rowInts = 5 * static_cast<std::size_t>(width);
  for (int top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
    int* a = map + top * rowInts;
    int* b = map + bottom * rowInts;
    for (int x = 0; x < width; ++x) {
      FlipEntry(a + 5 * x, width, height);
      if (a != b) {
        FlipEntry(b + 5 * x, width, height);
        std::swap_ranges(a + 5 * x, a + 5 * x + 5, b + 5 * x);
      }
    }
  }
}

void ReleaseImage(IplImage** image) {
  if (*image) cvReleaseImage(image);
  *image = nullptr;
}

// Makes *image an 8-bit three-channel image of the size, keeping it when it
// already is one. Rows are padded to 4 bytes, or packed (OpenCV takes no
// alignment below 4, so the row length is set by hand).
void EnsureImage(IplImage** image, int width, int height, bool packed = false) {
  const int step = packed ? 3 * width : (3 * width + 3) & ~3;
  if (*image && (*image)->width == width && (*image)->height == height && (*image)->widthStep == step) return;
  ReleaseImage(image);
  IplImage* made = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 3);
  made->widthStep = step;
  made->imageSize = step * height;
  try {
    cvCreateData(made);
  } catch (...) {
    cvReleaseImageHeader(&made);
    throw;
  }
  *image = made;
}

}  // namespace

CVideoSample::CVideoSample() {
  InitializeCriticalSection(&samplerLock_);
  std::memset(&regionHeader_, 0, sizeof(regionHeader_));
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
      EnsureImage(&cameraImages_[i], cameraWidth, cameraHeight, true);
      EnsureImage(&undistortedImages_[i], cameraWidth, cameraHeight, true);
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

// The frame is processed where it lies. Camera image s (top-down) row y is
// frame memory row start - y step on a bottom-up frame (start + y step on a
// top-down one), at byte 3 x camera width into the row for the right-hand
// images; step is 2 for one field; the lower quad pair starts at the middle
// row. These are the rows the frame split and merge functions walk, so
// reading, warping and writing back here gives the bytes that splitting,
// warping, copying back and merging give, without the split's copy.
void CVideoSample::ProcessFrame(BYTE* data) {
  const bool field = prepared_.deinterlace != 0;
  // One field is merged back doubled (each row also into the row beside it
  // in the walking direction), except in a quad.
  const bool doubles = field && prepared_.splitting != 2;
  const std::ptrdiff_t rowStep = static_cast<std::ptrdiff_t>(field ? 2 : 1) * frameStride_;
  const std::ptrdiff_t beside = bottomUp_ ? -frameStride_ : frameStride_;
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(cameraWidth_);
  for (int s = 0; s < imageCount_; ++s) {
    const bool warp = WarpApplies(s);
    if (!warp && !doubles) continue;  // split and merged back unchanged
    const bool lower = prepared_.splitting == 2 && s >= 2;
    const int step = field ? 2 : 1;
    const int firstRow = bottomUp_ ? (lower ? (frameHeight_ - 1) / 2 : frameHeight_ - 1) - (cameraHeight_ - 1) * step
                                   : (lower ? frameHeight_ / 2 : 0);
    // The image's rows in memory order: bottom-up they hold the picture
    // upside down, and the map is laid out to match.
    BYTE* first = data + static_cast<std::ptrdiff_t>(firstRow) * frameStride_ + (s % 2) * rowBytes;
    if (warp) {
      if (mapBottomUp_[s] != bottomUp_) {
        FlipMapRows(warpMaps_[s], cameraWidth_, cameraHeight_);
        mapBottomUp_[s] = bottomUp_;
      }
      // The rows as an image, in place. The resampler's fast road needs
      // packed source rows: where they lie packed in the sample (a single
      // whole frame) it reads them there and writes into the undistorted
      // image, which is copied back; otherwise it reads a packed copy and
      // writes straight into the sample.
      cvInitImageHeader(&regionHeader_, cvSize(cameraWidth_, cameraHeight_), IPL_DEPTH_8U, 3, IPL_ORIGIN_TL, 4);
      regionHeader_.widthStep = static_cast<int>(rowStep);
      regionHeader_.imageData = reinterpret_cast<char*>(first);
      if (rowStep == static_cast<std::ptrdiff_t>(rowBytes)) {
        IplImage* undistorted = undistortedImages_[s];
        IP::WarpByWeightsIndex(&regionHeader_, undistorted, warpMaps_[s]);
        for (int y = 0; y < cameraHeight_; ++y)
          std::memcpy(first + y * rowStep, undistorted->imageData + y * undistorted->widthStep, rowBytes);
      } else {
        IplImage* packed = cameraImages_[s];
        for (int y = 0; y < cameraHeight_; ++y) std::memcpy(packed->imageData + y * rowBytes, first + y * rowStep, rowBytes);
        IP::WarpByWeightsIndex(packed, &regionHeader_, warpMaps_[s]);
      }
    }
    if (doubles)
      for (int y = 0; y < cameraHeight_; ++y) std::memcpy(first + y * rowStep + beside, first + y * rowStep, rowBytes);
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
  // Processed in place: the grabber lends the buffer only for this call,
  // so the grab takes a copy.
  ProcessFrame(data);
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
  InstallMap(stream, map, false, camera);  // laid out for the rows at its first frame
  undistort_[stream] = false;
  return true;
}

void CVideoSample::InstallMap(int stream, int* map, bool bottomUp, const CameraParameters& camera) {
  delete[] warpMaps_[stream];
  warpMaps_[stream] = map;
  mapBottomUp_[stream] = bottomUp;
  ++mapBuilds_;
  mapValid_[stream] = true;
  mapCameras_[stream] = camera;
}

bool CVideoSample::ToggleUndistortion(const CameraParameters& camera, int stream) {
  if (stream < 0 || stream > 3) return false;
  const auto fits = [&] {
    return camera.width == cameraWidth_ && camera.height == cameraHeight_ && FocalLengthsUsable(camera);
  };
  bool bottomUp = true;
  {
    CScopedLock lock(&samplerLock_);
    bottomUp = bottomUp_;
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
  // Built (and laid out for the frame's row order) without the lock, so
  // frames keep flowing meanwhile.
  int* map = MakeUndistortionMap(camera);
  if (!map) return false;
  if (bottomUp) FlipMapRows(map, camera.width, camera.height);
  CScopedLock lock(&samplerLock_);
  if (!fits()) {  // a new frame size arrived while the map was built
    delete[] map;
    return false;
  }
  InstallMap(stream, map, bottomUp, camera);
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
