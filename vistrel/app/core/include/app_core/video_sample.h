#pragma once
// The workbench's sample-grabber callback: every frame is split into the
// camera images it carries (one, a side-by-side pair or a quad, optionally
// one field of an interlaced frame), lens distortion is removed where it was
// switched on, and the images are merged back into the sample, so the
// renderer shows the processed frame. A copy of the processed frame is kept
// for grabs.
//
// Threads: SampleCB runs on the streaming thread; everything else on the
// user-interface thread. One lock (the sampler lock) guards all state.
#include <string>

#include <opencv2/core/types_c.h>

#include "calibration/calibration_records.h"
#include "quorl_dshow/frame_sampler.h"

// deinterlace: 0 none, 1 one field; splitting: 0 single, 1 stereo, 2 quad;
// cameras: the data store's camera of streams 0 to 3 (-1: none). The
// sampler reads only the first two; the cameras serve the panel.
struct StreamConfiguration {
  int deinterlace = 0;
  int splitting = 0;
  int cameras[4] = {-1, -1, -1, -1};

  int CameraCount() const;
  // Streams 0 .. images - 1 get cameras 0, 1, ...; the rest -1.
  void AssignStreamSlots();
};

// What a frame was prepared for. frameHeight is |biHeight|; bottomUp
// follows biHeight's sign.
struct SampleFrameInfo {
  bool prepared = false;
  bool bottomUp = true;
  int frameWidth = 0, frameHeight = 0;
  int cameraWidth = 0, cameraHeight = 0;
  StreamConfiguration configuration;
};

class CVideoSample : public DShow::CFrameSampler {
 public:
  CVideoSample();
  ~CVideoSample() override;

  // Stores the configuration and prepares the images for it (nothing is
  // prepared before a usable media type is known).
  void SetStreamConfiguration(int deinterlace, int splitting, int camera0, int camera1, int camera2, int camera3);
  // Sizes the frame and camera images for the media type and configuration;
  // false (nothing changed) without a usable type. A change of the camera
  // size switches every stream's undistortion off.
  bool PrepareImages(StreamConfiguration configuration);
  HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
  // Takes a copy of the type (the caller frees its own) and makes the next
  // frame prepare the images anew.
  void SetMediaType(AM_MEDIA_TYPE mediaType);

  // Switches a stream's undistortion. Off always works for streams 0-3. On
  // needs the camera's size to be the current camera size, fx and fy finite
  // and positive, and the map (reused while the camera model is unchanged);
  // false changes nothing.
  bool ToggleUndistortion(const CameraParameters& camera, int stream);
  // Distortion, K and size exactly equal; R and T do not count.
  static bool HasSameCameraModel(const CameraParameters& a, const CameraParameters& b);
  // Builds the stream's map for the camera (outside the lock) and swaps it
  // in; the stream's undistortion is then off. False when the map cannot be
  // allocated.
  bool BuildUndistortionMap(const CameraParameters& camera, int stream);

  std::string GetConfigurationText();
  SampleFrameInfo GetFrameInfo();
  // A copy of the last processed frame (the caller releases it), with what
  // it was prepared for; null while no frame of the current preparation has
  // arrived.
  IplImage* CloneFrame(SampleFrameInfo* info);

 protected:
  // Warp maps built so far (diagnostics and tests: reuse is otherwise
  // invisible, a reused map gives the same frames).
  int mapBuilds_ = 0;

 private:
  bool PrepareLocked(const StreamConfiguration& configuration);
  void ProcessFrame(BYTE* data);
  bool WarpApplies(int stream) const;
  void ReleaseImages();
  // Puts a new map in place (lock held); the old one is freed.
  void InstallMap(int stream, int* map, bool bottomUp, const CameraParameters& camera);

  CRITICAL_SECTION samplerLock_;
  StreamConfiguration configuration_;
  StreamConfiguration prepared_;  // what the images were made for
  bool initialised_ = false;
  bool bottomUp_ = true;
  bool hasFrame_ = false;
  int frameStride_ = 0;
  int frameWidth_ = 0, frameHeight_ = 0;
  int cameraWidth_ = 0, cameraHeight_ = 0;
  int imageCount_ = 0;
  IplImage* frameImage_ = nullptr;  // the last processed frame, for grabs
  // A warped camera image is read where it lies in the sample (through a
  // header on its rows) when its rows lie packed there, else from a packed
  // copy (the resampler's fast road); its undistorted image is copied back.
  IplImage regionHeader_;
  IplImage* cameraImages_[4] = {};
  IplImage* undistortedImages_[4] = {};
  CameraParameters mapCameras_[4];
  bool undistort_[4] = {};
  bool mapValid_[4] = {};
  int* warpMaps_[4] = {};
  // The map is laid out for bottom-up rows (see FlipMapRows).
  bool mapBottomUp_[4] = {};
};
