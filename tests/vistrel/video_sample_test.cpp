// Video sample processing on the test's own samples: frames split, undistorted
// and merged in place, the grab copy, reconfiguration and the two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <opencv2/core/core_c.h>

#include "MVG/gdi_frames.h"
#include "MVG/mvg_camera.h"
#include "MVG/weights_index_map.h"
#include "app_core/scoped_lock.h"
#include "app_core/video_sample.h"
#include "dshow/testing/fakes.h"
#include "undistortion_lens/undistortion_lens.h"
#include "video_frames/video_frames.h"

using dshow::testing::FakeMediaSample;
using video_frames::Stride;

namespace {

// Memory row m, column c: blue m, green c, red the high bits of both, so
// every pixel of frames up to 4096 x 4096 is told apart.
void Encode(BYTE* data, int width, int height) {
  const int stride = Stride(width);
  for (int m = 0; m < height; ++m)
    for (int c = 0; c < width; ++c) {
      BYTE* p = data + static_cast<std::size_t>(m) * stride + 3 * c;
      p[0] = static_cast<BYTE>(m);
      p[1] = static_cast<BYTE>(c);
      p[2] = static_cast<BYTE>(((m >> 8) << 4) | (c >> 8));
    }
}

CameraParameters Barrel(int width, int height) {
  const MVG::Camera lens = undistortion_lens::Lens(width, height, undistortion_lens::kBarrel);
  CameraParameters c;
  for (int i = 0; i < 5; ++i) c.d[i] = lens.d[i];
  for (int i = 0; i < 9; ++i) c.K[i] = lens.K[i];
  c.width = width;
  c.height = height;
  return c;
}

// The map the sampler should use: the record's lens with k3 = 0.
std::vector<int> ReferenceMap(const CameraParameters& c) {
  MVG::Camera record{};
  for (int i = 0; i < 4; ++i) record.d[i] = static_cast<float>(c.d[i]);
  for (int i = 0; i < 9; ++i) record.K[i] = static_cast<float>(c.K[i]), record.R[i] = static_cast<float>(c.R[i]);
  record.width = static_cast<float>(c.width);
  record.height = static_cast<float>(c.height);
  std::vector<int> map(5 * static_cast<std::size_t>(c.width) * c.height);
  int* maps[1] = {map.data()};
  MVG::ComputeUndistortionMapCoefficients(&record, 1, maps);
  return map;
}

// What a bottom-up frame should look like after processing, built pixel
// by pixel: camera image s's row y (top-down) is frame memory row Row(s, y)
// at column Column(s); warped streams go through IP::WarpByWeightsIndex;
// one field doubles each row into the row above it (single and stereo).
struct Layout {
  int width, height, splitting, deinterlace;
  int Count() const { return splitting == 0 ? 1 : splitting == 1 ? 2 : 4; }
  int CameraWidth() const { return splitting == 0 ? width : width / 2; }
  int CameraHeight() const {
    const int h = splitting == 2 ? height / 2 : height;
    return deinterlace ? h / 2 : h;
  }
  int Step() const { return deinterlace ? 2 : 1; }
  int Row(int s, int y) const {
    const int start = splitting == 2 && s >= 2 ? (height - 1) / 2 : height - 1;
    return start - y * Step();
  }
  int Column(int s) const { return (s % 2) * CameraWidth(); }
  bool Doubles() const { return deinterlace && splitting != 2; }
};

std::vector<BYTE> Expected(const std::vector<BYTE>& input, const Layout& l, const std::vector<const int*>& maps) {
  std::vector<BYTE> out = input;
  const int stride = Stride(l.width), cw = l.CameraWidth(), ch = l.CameraHeight();
  for (int s = 0; s < l.Count(); ++s) {
    IplImage* camera = cvCreateImage(cvSize(cw, ch), IPL_DEPTH_8U, 3);
    IplImage* warped = cvCreateImage(cvSize(cw, ch), IPL_DEPTH_8U, 3);
    for (int y = 0; y < ch; ++y)
      std::memcpy(camera->imageData + y * camera->widthStep,
                  input.data() + static_cast<std::size_t>(l.Row(s, y)) * stride + 3 * l.Column(s), 3 * cw);
    IplImage* result = camera;
    if (s < static_cast<int>(maps.size()) && maps[s]) {
      IP::WarpByWeightsIndex(camera, warped, maps[s]);
      result = warped;
    }
    for (int y = 0; y < ch; ++y) {
      const int row = l.Row(s, y);
      for (int r : {row, row - 1}) {
        if (r != row && !l.Doubles()) continue;
        std::memcpy(out.data() + static_cast<std::size_t>(r) * stride + 3 * l.Column(s),
                    result->imageData + y * result->widthStep, 3 * cw);
      }
    }
    cvReleaseImage(&camera);
    cvReleaseImage(&warped);
  }
  return out;
}

// Counts mismatching bytes (a readable failure on large frames).
std::size_t Differences(const BYTE* a, const BYTE* b, std::size_t n) {
  std::size_t d = 0;
  for (std::size_t i = 0; i < n; ++i) d += a[i] != b[i];
  return d;
}

class Probe : public CVideoSample {
 public:
  int MapBuilds() const { return mapBuilds_; }
};

class VideoSample : public ::testing::Test {
 protected:
  void SetType(int width, int height) {
    AM_MEDIA_TYPE type = video_frames::MakeVideoType(width, height);
    sampler.SetMediaType(type);
    FreeMediaType(type);
    width_ = width;
    height_ = std::abs(height);
  }
  // A coded frame of the current size; returns what the sampler left in it.
  std::vector<BYTE> Process(std::vector<BYTE>* input = nullptr) {
    const std::size_t bytes = static_cast<std::size_t>(Stride(width_)) * height_;
    CComPtr<FakeMediaSample> sample;
    sample.Attach(new FakeMediaSample(bytes));
    Encode(sample->Data(), width_, height_);
    if (input) input->assign(sample->Data(), sample->Data() + bytes);
    EXPECT_EQ(sampler.SampleCB(0.0, sample), S_OK);
    return std::vector<BYTE>(sample->Data(), sample->Data() + bytes);
  }
  // The clone, as bytes (empty for none).
  std::vector<BYTE> Clone(SampleFrameInfo* info = nullptr) {
    IplImage* clone = sampler.CloneFrame(info);
    if (!clone) return {};
    std::vector<BYTE> bytes(clone->imageData, clone->imageData + static_cast<std::size_t>(clone->imageSize));
    EXPECT_EQ(clone->widthStep, Stride(width_));
    cvReleaseImage(&clone);
    return bytes;
  }
  void Configure(int splitting, int deinterlace) { sampler.SetStreamConfiguration(deinterlace, splitting, 0, 1, 2, 3); }

  Probe sampler;
  int width_ = 0, height_ = 0;
};

TEST(StreamConfigurationTest, CountsAndAssignsSlots) {
  const struct {
    int splitting;
    int cameras[4];
    int count;
  } cases[] = {{0, {0, -1, -1, -1}, 1}, {1, {0, 1, -1, -1}, 2}, {2, {0, 1, 2, 3}, 4}, {7, {-1, -1, -1, -1}, 0}};
  for (const auto& c : cases) {
    StreamConfiguration config{0, c.splitting, {5, 5, 5, 5}};
    EXPECT_EQ(config.CameraCount(), 4);
    config.AssignStreamSlots();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(config.cameras[i], c.cameras[i]) << c.splitting << " slot " << i;
    EXPECT_EQ(config.CameraCount(), c.count);
  }
  StreamConfiguration standard;
  EXPECT_EQ(standard.deinterlace, 0);
  EXPECT_EQ(standard.splitting, 0);
  EXPECT_EQ(standard.CameraCount(), 0);
}

TEST_F(VideoSample, CameraSizeAndConfigurationTextFollowSplittingFieldAndFrame) {
  const struct {
    int width, height;
  } frames[] = {{640, 480}, {641, 481}, {1366, 768}};
  const char* const names[] = {"Single", "Stereo", "Quad"};
  for (const auto& f : frames) {
    SetType(f.width, f.height);
    for (int splitting = 0; splitting < 3; ++splitting)
      for (int deinterlace = 0; deinterlace < 2; ++deinterlace) {
        Configure(splitting, deinterlace);
        const Layout l{f.width, f.height, splitting, deinterlace};
        const SampleFrameInfo info = sampler.GetFrameInfo();
        EXPECT_TRUE(info.prepared);
        EXPECT_EQ(info.cameraWidth, l.CameraWidth());
        EXPECT_EQ(info.cameraHeight, l.CameraHeight());
        EXPECT_EQ(info.frameWidth, f.width);
        EXPECT_EQ(info.frameHeight, f.height);
        const std::string want = std::string("Data Streams: ") + names[splitting] + "\nDeinterlacing: " +
                                 (deinterlace ? "Half fields" : "None") + "\nCamera Frame Size: " +
                                 std::to_string(l.CameraWidth()) + " x " + std::to_string(l.CameraHeight());
        EXPECT_EQ(sampler.GetConfigurationText(), want);
      }
  }
  // Quad of one field: half the width, a quarter of the height.
  SetType(640, 480);
  Configure(2, 1);
  EXPECT_EQ(sampler.GetConfigurationText(), "Data Streams: Quad\nDeinterlacing: Half fields\nCamera Frame Size: 320 x 120");
  // Other values add no line and keep the camera size.
  Configure(7, 3);
  EXPECT_EQ(sampler.GetConfigurationText(), "Camera Frame Size: 320 x 120");
}

TEST_F(VideoSample, FramesWithoutUndistortionKeepTheirBytesOrDoubleTheirField) {
  const struct {
    int width, height;
  } frames[] = {{64, 48}, {65, 47}};
  for (const auto& f : frames)
    for (int splitting : {0, 1, 2, 7})
      for (int deinterlace : {0, 1}) {
        SetType(f.width, f.height);
        Configure(splitting, deinterlace);
        std::vector<BYTE> input;
        const std::vector<BYTE> output = Process(&input);
        const Layout l{f.width, f.height, splitting, deinterlace};
        const std::vector<BYTE> want = splitting == 7 ? input : Expected(input, l, {});
        EXPECT_EQ(Differences(output.data(), want.data(), want.size()), 0u)
            << f.width << " x " << f.height << " splitting " << splitting << " field " << deinterlace;
        if (!deinterlace || splitting == 2 || splitting == 7) {
          EXPECT_EQ(output, input) << "a pass-through";
        }
        EXPECT_EQ(Clone(), output) << "the grab takes the processed frame";
      }
}

TEST_F(VideoSample, AnEarlyFrameIsProcessedAsASingleStream) {
  SetType(64, 48);
  EXPECT_EQ(Clone(), std::vector<BYTE>()) << "nothing before the first frame";
  EXPECT_FALSE(sampler.GetFrameInfo().prepared);
  Process();
  const SampleFrameInfo info = sampler.GetFrameInfo();
  EXPECT_EQ(info.configuration.splitting, 0);
  EXPECT_EQ(info.cameraWidth, 64);
  EXPECT_EQ(info.cameraHeight, 48);
  EXPECT_TRUE(info.bottomUp);
  EXPECT_TRUE(sampler.ToggleUndistortion(Barrel(64, 48), 0));
}

TEST_F(VideoSample, NothingHappensWithoutAUsableTypeOrAWholeSample) {
  Configure(1, 0);  // before any type: stored, nothing prepared
  EXPECT_FALSE(sampler.GetFrameInfo().prepared);
  width_ = 64, height_ = 48;
  std::vector<BYTE> input;
  EXPECT_EQ(Process(&input), input);
  EXPECT_TRUE(Clone().empty());
  SetType(64, 48);
  ASSERT_TRUE(sampler.ToggleUndistortion(Barrel(32, 48), 1) == false) << "not prepared yet: no camera size";
  CComPtr<FakeMediaSample> sample;
  sample.Attach(new FakeMediaSample(Stride(64) * 48));
  sample->SetActualDataLength(Stride(64) * 48 - 1);
  EXPECT_EQ(sampler.SampleCB(0.0, sample), S_OK);
  EXPECT_TRUE(Clone().empty()) << "a short sample is not a frame";
  EXPECT_EQ(sampler.SampleCB(0.0, nullptr), S_OK);
  Process();
  SampleFrameInfo info;
  EXPECT_FALSE(Clone(&info).empty());
  EXPECT_EQ(info.configuration.splitting, 1) << "the stored configuration, once a type came";
  EXPECT_EQ(info.cameraWidth, 32);
}

struct WarpCase {
  const char* name;
  int width, height, splitting, deinterlace;
  std::vector<int> streams;  // switched on
};

class Undistortion : public VideoSample, public ::testing::WithParamInterface<WarpCase> {};

TEST_P(Undistortion, EqualsTheResamplerThroughTheLensMapMergedBack) {
  const WarpCase& c = GetParam();
  SetType(c.width, c.height);
  Configure(c.splitting, c.deinterlace);
  const Layout l{c.width, c.height, c.splitting, c.deinterlace};
  const CameraParameters camera = Barrel(l.CameraWidth(), l.CameraHeight());
  const std::vector<int> map = ReferenceMap(camera);
  std::vector<const int*> maps(4, nullptr);
  for (int s : c.streams) {
    ASSERT_TRUE(sampler.ToggleUndistortion(camera, s)) << "stream " << s;
    maps[s] = map.data();
  }
  std::vector<BYTE> input;
  const std::vector<BYTE> output = Process(&input);
  const std::vector<BYTE> want = Expected(input, l, maps);
  EXPECT_EQ(Differences(output.data(), want.data(), want.size()), 0u);
  EXPECT_NE(output, input);
  EXPECT_EQ(Clone(), output);
  EXPECT_EQ(sampler.MapBuilds(), static_cast<int>(c.streams.size()));
}

void PrintTo(const WarpCase& c, std::ostream* os) { *os << c.name; }

// The single stream is undistorted upright: its lens centre lies off the
// middle row, so an upside-down warp would not match.
INSTANTIATE_TEST_SUITE_P(
    Frames, Undistortion,
    ::testing::Values(WarpCase{"single", 160, 120, 0, 0, {0}}, WarpCase{"single_field", 160, 120, 0, 1, {0}},
                      WarpCase{"stereo_right_only", 160, 120, 1, 0, {1}},
                      WarpCase{"stereo_padded_halves", 644, 48, 1, 0, {0, 1}},
                      WarpCase{"stereo_field", 160, 120, 1, 1, {0, 1}},
                      WarpCase{"quad_padded", 1366, 96, 2, 0, {0, 1, 2, 3}},
                      WarpCase{"quad_field_two", 160, 120, 2, 1, {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoSample, MapsAreReusedForTheSameLensAndRebuiltForAnother) {
  SetType(64, 48);
  Configure(0, 0);
  const CameraParameters camera = Barrel(64, 48);
  ASSERT_TRUE(sampler.ToggleUndistortion(camera, 0));   // on
  ASSERT_TRUE(sampler.ToggleUndistortion(camera, 0));   // off
  ASSERT_TRUE(sampler.ToggleUndistortion(camera, 0));   // on again
  EXPECT_EQ(sampler.MapBuilds(), 1);
  CameraParameters moved = camera;
  moved.R[1] = 0.5;
  moved.T[2] = 3;
  ASSERT_TRUE(sampler.ToggleUndistortion(moved, 0));    // off
  ASSERT_TRUE(sampler.ToggleUndistortion(moved, 0));    // on: R and T do not count
  EXPECT_EQ(sampler.MapBuilds(), 1);
  const auto changed = [&](auto change) {
    CameraParameters c = camera;
    change(c);
    return c;
  };
  const CameraParameters others[] = {changed([](CameraParameters& c) { c.K[0] += 1e-9; }),
                                     changed([](CameraParameters& c) { c.d[1] += 0.01; }),
                                     changed([](CameraParameters& c) { c.d[4] = 0.3; })};
  int builds = 1;
  for (const CameraParameters& other : others) {
    ASSERT_TRUE(sampler.ToggleUndistortion(other, 0));  // off
    ASSERT_TRUE(sampler.ToggleUndistortion(other, 0));  // on, rebuilt
    EXPECT_EQ(sampler.MapBuilds(), ++builds);
  }
  EXPECT_TRUE(CVideoSample::HasSameCameraModel(camera, moved));
  EXPECT_FALSE(CVideoSample::HasSameCameraModel(camera, others[0]));
}

TEST_F(VideoSample, RefusedSwitchesChangeNothing) {
  SetType(64, 48);
  Configure(1, 0);
  const CameraParameters good = Barrel(32, 48);
  const auto with = [&](auto change) {
    CameraParameters c = good;
    change(c);
    return c;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* why;
    CameraParameters camera;
    int stream;
  } refusals[] = {
      {"stream -1", good, -1},
      {"stream 4", good, 4},
      {"frame size, not camera size", Barrel(64, 48), 0},
      {"zero fx", with([](CameraParameters& c) { c.K[0] = 0; }), 0},
      {"negative fy", with([](CameraParameters& c) { c.K[4] = -40; }), 0},
      {"NaN fy", with([nan](CameraParameters& c) { c.K[4] = nan; }), 1},
      {"infinite fx", with([inf](CameraParameters& c) { c.K[0] = inf; }), 1},
  };
  std::vector<BYTE> input;
  for (const auto& r : refusals) {
    EXPECT_FALSE(sampler.ToggleUndistortion(r.camera, r.stream)) << r.why;
    EXPECT_EQ(Process(&input), input) << r.why << ": no stream was switched on";
  }
  EXPECT_EQ(sampler.MapBuilds(), 0);
  // A record too large for a map is refused before anything is allocated.
  CameraParameters huge = good;
  huge.width = huge.height = 50000;
  EXPECT_FALSE(sampler.BuildUndistortionMap(huge, 0));
  EXPECT_FALSE(sampler.BuildUndistortionMap(good, 4));
  // Off works with any record, even one that could never switch on.
  ASSERT_TRUE(sampler.ToggleUndistortion(good, 1));
  EXPECT_NE(Process(&input), input);
  EXPECT_TRUE(sampler.ToggleUndistortion(refusals[3].camera, 1));
  EXPECT_EQ(Process(&input), input);
}

TEST_F(VideoSample, ANewSizeSwitchesStreamsOffAndTheGrabWaitsForItsFrame) {
  SetType(640, 480);
  Configure(1, 0);
  ASSERT_TRUE(sampler.ToggleUndistortion(Barrel(320, 480), 0));
  ASSERT_TRUE(sampler.ToggleUndistortion(Barrel(320, 480), 1));
  Process();
  EXPECT_FALSE(Clone().empty());
  // A new type: sizes follow at the next frame, and no old frame is handed out.
  for (const auto& size : {std::pair{320, 240}, std::pair{1366, 768}}) {
    SetType(size.first, size.second);
    EXPECT_TRUE(Clone().empty()) << "after a new type, before its frame";
    std::vector<BYTE> input;
    EXPECT_EQ(Process(&input), input) << "every stream is off at the new size";
    SampleFrameInfo info;
    EXPECT_EQ(Clone(&info), input);
    EXPECT_EQ(info.frameWidth, size.first);
    EXPECT_EQ(info.cameraWidth, size.first / 2);
  }
  // Back to the first size: the old maps exist, but the flags stay off.
  SetType(640, 480);
  std::vector<BYTE> input;
  EXPECT_EQ(Process(&input), input);
  // Stereo to single and back: the map of the other layout never applies.
  ASSERT_TRUE(sampler.ToggleUndistortion(Barrel(320, 480), 0));
  EXPECT_NE(Process(&input), input);
  Configure(0, 0);
  EXPECT_TRUE(Clone().empty()) << "after a reconfiguration, before its frame";
  EXPECT_EQ(Process(&input), input);
  EXPECT_FALSE(sampler.ToggleUndistortion(Barrel(320, 480), 0)) << "off already: this is a switch-on";
}

TEST_F(VideoSample, ALayoutOfTheSameCameraSizeKeepsItsFlags) {
  SetType(160, 120);
  Configure(2, 0);  // quad: 80 x 60
  const CameraParameters camera = Barrel(80, 60);
  const std::vector<int> map = ReferenceMap(camera);
  for (int s = 0; s < 4; ++s) ASSERT_TRUE(sampler.ToggleUndistortion(camera, s));
  Configure(1, 1);  // stereo of one field: 80 x 60 as well
  std::vector<BYTE> input;
  const std::vector<BYTE> output = Process(&input);
  const std::vector<BYTE> want = Expected(input, Layout{160, 120, 1, 1}, {map.data(), map.data()});
  EXPECT_EQ(Differences(output.data(), want.data(), want.size()), 0u);
  // Switching off still works for the streams beyond the image count.
  EXPECT_TRUE(sampler.ToggleUndistortion(camera, 3));
  EXPECT_TRUE(sampler.ToggleUndistortion(camera, 3));
}

TEST_F(VideoSample, TopDownFramesKeepTheirOrientation) {
  // Switched on for bottom-up frames; a top-down type of the same size
  // keeps the switch and must still undistort the upright picture.
  SetType(64, 48);
  Configure(0, 0);
  const CameraParameters camera = Barrel(64, 48);
  ASSERT_TRUE(sampler.ToggleUndistortion(camera, 0));
  Process();
  SetType(64, -48);
  std::vector<BYTE> input;
  const std::vector<BYTE> output = Process(&input);
  EXPECT_FALSE(sampler.GetFrameInfo().bottomUp);
  // Top-down: the memory rows are the picture's rows as they stand.
  IplImage* in = cvCreateImageHeader(cvSize(64, 48), IPL_DEPTH_8U, 3);
  cvSetData(in, input.data(), Stride(64));
  IplImage* warped = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 3);
  const std::vector<int> map = ReferenceMap(camera);
  IP::WarpByWeightsIndex(in, warped, map.data());
  EXPECT_EQ(Differences(output.data(), reinterpret_cast<BYTE*>(warped->imageData), output.size()), 0u);
  cvReleaseImage(&warped);
  cvReleaseImageHeader(&in);
}

// The frame as the split and merge functions make it: the frame is split
// (walked from its last row up when it is bottom-up, so the images stand
// upright), each switched-on stream's image is warped and copied back, and
// the images are merged with the same flags. A single whole frame has no
// split function: it is copied, turned upright when bottom-up.
std::vector<BYTE> Composed(const std::vector<BYTE>& input, int width, int height, bool bottomUp, int splitting,
                           int deinterlace, const std::vector<const int*>& maps) {
  std::vector<BYTE> out = input;
  IplImage* frame = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 3);
  cvSetData(frame, out.data(), Stride(width));
  const Layout l{width, height, splitting, deinterlace};
  IplImage* images[4] = {};
  for (int s = 0; s < l.Count(); ++s)
    images[s] = cvCreateImage(cvSize(l.CameraWidth(), l.CameraHeight()), IPL_DEPTH_8U, 3);
  const bool field = deinterlace != 0;
  bool done = false;
  if (splitting == 0 && field) done = GDI::SplitFrameField(frame, images[0], bottomUp);
  if (splitting == 0 && !field) {
    if (bottomUp) cvFlip(frame, images[0], 0);
    else cvCopy(frame, images[0]);
    done = true;
  }
  if (splitting == 1) done = GDI::SplitFrameStereo(frame, images, bottomUp, field);
  if (splitting == 2) done = GDI::SplitFrameQuad(frame, images, bottomUp, field);
  EXPECT_TRUE(done) << "split";
  for (int s = 0; s < l.Count(); ++s) {
    if (s >= static_cast<int>(maps.size()) || !maps[s]) continue;
    IplImage* warped = cvCreateImage(cvGetSize(images[s]), IPL_DEPTH_8U, 3);
    IP::WarpByWeightsIndex(images[s], warped, maps[s]);
    std::memcpy(images[s]->imageData, warped->imageData, static_cast<std::size_t>(warped->imageSize));
    cvReleaseImage(&warped);
  }
  done = false;
  if (splitting == 0 && field) done = GDI::MergeFrameField(frame, images[0], bottomUp);
  if (splitting == 0 && !field) {
    if (bottomUp) cvFlip(images[0], frame, 0);
    else cvCopy(images[0], frame);
    done = true;
  }
  if (splitting == 1) done = GDI::MergeFrameStereo(frame, images, bottomUp, field);
  if (splitting == 2) done = GDI::MergeFrameQuad(frame, images, bottomUp, field);
  EXPECT_TRUE(done) << "merge";
  for (IplImage*& image : images)
    if (image) cvReleaseImage(&image);
  cvReleaseImageHeader(&frame);
  return out;
}

// Every splitting, field and row order, with every stream undistorted and
// with none: the sampler's frame is byte for byte the composition above.
// Odd sizes give odd camera sizes and padded frame and camera rows.
TEST_F(VideoSample, ProcessingEqualsSplittingWarpingAndMerging) {
  const struct {
    int width, height;
  } frames[] = {{160, 120}, {94, 71}};
  for (const auto& f : frames)
    for (const bool bottomUp : {true, false})
      for (int splitting = 0; splitting < 3; ++splitting)
        for (int deinterlace = 0; deinterlace < 2; ++deinterlace)
          for (const bool warp : {false, true}) {
            SCOPED_TRACE(testing::Message() << f.width << " x " << f.height << (bottomUp ? " bottom-up" : " top-down")
                                            << " splitting " << splitting << " field " << deinterlace
                                            << (warp ? " undistorted" : " as it stands"));
            SetType(f.width, bottomUp ? f.height : -f.height);
            Configure(splitting, deinterlace);
            const Layout l{f.width, f.height, splitting, deinterlace};
            // A lens per stream, so that a stream warped with another's map shows.
            std::vector<std::vector<int>> owned;
            std::vector<const int*> maps(4, nullptr);
            if (warp)
              for (int s = 0; s < l.Count(); ++s) {
                CameraParameters camera = Barrel(l.CameraWidth(), l.CameraHeight());
                camera.K[2] += 2 * s;
                owned.push_back(ReferenceMap(camera));
                ASSERT_TRUE(sampler.ToggleUndistortion(camera, s)) << "stream " << s;
              }
            for (size_t s = 0; s < owned.size(); ++s) maps[s] = owned[s].data();
            std::vector<BYTE> input;
            const std::vector<BYTE> output = Process(&input);
            EXPECT_EQ(sampler.GetFrameInfo().bottomUp, bottomUp);
            const std::vector<BYTE> want = Composed(input, f.width, f.height, bottomUp, splitting, deinterlace, maps);
            ASSERT_EQ(output.size(), want.size());
            EXPECT_EQ(Differences(output.data(), want.data(), want.size()), 0u);
            if (warp) {
              EXPECT_NE(output, input);
            }
            // Off again, for the next layout.
            for (int s = 0; s < static_cast<int>(owned.size()); ++s) ASSERT_TRUE(sampler.ToggleUndistortion({}, s));
          }
}

// The streaming thread feeds frames filled with 4 x their sequence number
// while this thread switches lenses, layouts and types and grabs: a grab
// never mixes two frames. Undistortion leaves a value v or v - 1, or 0
// outside the lens' view.
TEST(VideoSampleThreads, AGrabNeverMixesTwoFrames) {
  CVideoSample sampler;
  constexpr int kMaxWidth = 128, kMaxHeight = 96, kFrames = 600;
  const auto setType = [&](int w, int h) {
    AM_MEDIA_TYPE type = video_frames::MakeVideoType(w, h);
    sampler.SetMediaType(type);
    FreeMediaType(type);
  };
  setType(kMaxWidth, kMaxHeight);
  std::atomic<bool> done{false};
  std::atomic<int> round{0};
  std::thread streaming([&] {
    CComPtr<FakeMediaSample> sample;
    sample.Attach(new FakeMediaSample(static_cast<std::size_t>(Stride(kMaxWidth)) * kMaxHeight));
    for (int k = 1; k <= kFrames; ++k) {
      // Paced by the other thread, so both sides meet throughout.
      while (round < k / 2) std::this_thread::yield();
      std::memset(sample->Data(), (4 * k) & 0xFF, static_cast<std::size_t>(sample->GetSize()));
      sampler.SampleCB(k, sample);
    }
    done = true;
  });
  const std::pair<int, int> sizes[] = {{kMaxWidth, kMaxHeight}, {96, 64}};
  int clones = 0;
  while (!done) {
    ++round;
    if (round % 7 == 0) setType(sizes[round / 7 % 2].first, sizes[round / 7 % 2].second);
    if (round % 5 == 0) sampler.SetStreamConfiguration(round / 5 % 2, round / 10 % 3, 0, 1, 2, 3);
    const SampleFrameInfo info = sampler.GetFrameInfo();
    if (info.cameraWidth > 0) {
      CameraParameters camera = Barrel(info.cameraWidth, info.cameraHeight);
      camera.K[0] += round % 2;  // two lenses: every switch-on builds
      sampler.ToggleUndistortion(camera, round % 4);
    }
    SampleFrameInfo cloned;
    if (IplImage* clone = sampler.CloneFrame(&cloned)) {
      ++clones;
      int bucket = -1;
      bool mixed = false;
      for (int y = 0; y < clone->height && !mixed; ++y)
        for (int x = 0; x < clone->width * 3; ++x) {
          const int v = static_cast<unsigned char>(clone->imageData[y * clone->widthStep + x]);
          if (v == 0) continue;
          const int b = (v + 2) / 4;
          if (bucket < 0) bucket = b;
          if (b != bucket) {
            mixed = true;
            break;
          }
        }
      EXPECT_FALSE(mixed) << "round " << round;
      EXPECT_EQ(clone->width, cloned.frameWidth);
      cvReleaseImage(&clone);
    }
  }
  streaming.join();
  EXPECT_GT(clones, 0);
}

TEST(ScopedLock, HoldsTheSectionForItsScope) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  std::atomic<bool> entered{false};
  std::thread other;
  {
    CScopedLock lock(&section);
    other = std::thread([&] {
      CScopedLock inner(&section);
      entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    CScopedLock again(&section);  // recursive, as on the platform
  }
  other.join();
  EXPECT_TRUE(entered);
  DeleteLock(&section);
  EXPECT_EQ(section.mutex, nullptr);
  CScopedLock none(nullptr);
}

}  // namespace
