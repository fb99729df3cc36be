// The live frame road of one frame: CVideoSample::SampleCB with every stream
// undistorted (split, undistort, merge and the grab copy) against the same
// work through OpenCV on the same buffers: per camera image a copy of its
// region, cv::remap through initUndistortRectifyMap's maps (16SC2 and
// 32FC1, built outside the timing) and a copy back; per frame one copy.
// One core. Prints time per frame, frames per second and ours / OpenCV
// (above 1: ours is slower). Run from a build without sanitizers.
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "app_core/video_sample.h"
#include "median_time.h"
#include "dshow/testing/fakes.h"
#include "undistortion_lens/undistortion_lens.h"
#include "video_frames/video_frames.h"

namespace {

// Median milliseconds per call over enough calls to fill about 0.3 s.
double TimeMs(const std::function<void()>& f) { return bench::MedianMs(f, 300); }

struct Case {
  const char* name;
  int width, height, splitting;
};

// The barrel lens without its k3: the sampler's maps never use one.
MVG::Camera Lens(int width, int height) {
  MVG::Camera lens = undistortion_lens::Lens(width, height, undistortion_lens::kBarrel);
  lens.d[4] = 0;
  return lens;
}

CameraParameters Record(const MVG::Camera& lens) {
  CameraParameters c;
  for (int i = 0; i < 5; ++i) c.d[i] = lens.d[i];
  for (int i = 0; i < 9; ++i) c.K[i] = lens.K[i];
  c.width = static_cast<int>(lens.width);
  c.height = static_cast<int>(lens.height);
  return c;
}

void Run(const Case& c) {
  const int images = c.splitting == 0 ? 1 : c.splitting == 1 ? 2 : 4;
  const int cw = c.splitting == 0 ? c.width : c.width / 2;
  const int ch = c.splitting == 2 ? c.height / 2 : c.height;
  const int stride = video_frames::Stride(c.width);
  const std::size_t bytes = static_cast<std::size_t>(stride) * c.height;
  const MVG::Camera lens = Lens(cw, ch);

  CVideoSample sampler;
  AM_MEDIA_TYPE type = video_frames::MakeVideoType(c.width, c.height);
  sampler.SetMediaType(type);
  FreeMediaType(type);
  sampler.SetStreamConfiguration(0, c.splitting, 0, 1, 2, 3);
  for (int s = 0; s < images; ++s)
    if (!sampler.ToggleUndistortion(Record(lens), s)) std::printf("  (stream %d not switched on)\n", s);
  CComPtr<dshow::testing::FakeMediaSample> sample;
  sample.Attach(new dshow::testing::FakeMediaSample(bytes));
  for (std::size_t i = 0; i < bytes; ++i) sample->Data()[i] = static_cast<BYTE>(i * 7 + i / 4093);
  const std::function<void()> oursRoad = [&] { sampler.SampleCB(0.0, sample); };

  cv::Mat frame(c.height, c.width, CV_8UC3, sample->Data(), stride);
  cv::Mat grab(c.height, c.width, CV_8UC3);
  std::vector<cv::Mat> cameras(images), undistorted(images);
  std::vector<cv::Rect> regions;
  for (int s = 0; s < images; ++s) regions.emplace_back((s % 2) * cw, (s / 2) * ch, cw, ch);
  cv::Mat maps[2][2];
  const int forms[2] = {CV_16SC2, CV_32FC1};
  std::function<void()> openCvRoad[2];
  for (int f = 0; f < 2; ++f) {
    undistortion_lens::OpenCvMaps(lens, forms[f], &maps[f][0], &maps[f][1]);
    openCvRoad[f] = [&, f] {
      for (int s = 0; s < images; ++s) {
        frame(regions[s]).copyTo(cameras[s]);
        cv::remap(cameras[s], undistorted[s], maps[f][0], maps[f][1], cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        undistorted[s].copyTo(frame(regions[s]));
      }
      frame.copyTo(grab);
    };
  }
  // The machine is shared: three interleaved rounds, the best median of each.
  double ours = 1e30, theirs[2] = {1e30, 1e30};
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, TimeMs(oursRoad));
    for (int f = 0; f < 2; ++f) theirs[f] = std::min(theirs[f], TimeMs(openCvRoad[f]));
  }
  std::printf("%-22s ours %7.3f ms %6.1f fps | 16SC2 %7.3f ms %6.1f fps ratio %5.2f | 32FC1 %7.3f ms %6.1f fps ratio %5.2f\n",
              c.name, ours, 1000 / ours, theirs[0], 1000 / theirs[0], ours / theirs[0], theirs[1], 1000 / theirs[1],
              ours / theirs[1]);
}

}  // namespace

int main() {
  // One core: the streaming thread has one.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu() < 0 ? 0 : sched_getcpu(), &one);
  if (sched_setaffinity(0, sizeof(one), &one) != 0) std::printf("(could not pin to one core)\n");
  cv::setNumThreads(1);
  const Case cases[] = {{"single 640 x 480", 640, 480, 0},    {"stereo 640 x 480", 640, 480, 1},
                        {"quad 640 x 480", 640, 480, 2},      {"single 1920 x 1080", 1920, 1080, 0},
                        {"stereo 1920 x 1080", 1920, 1080, 1}, {"quad 1920 x 1080", 1920, 1080, 2},
                        {"stereo 1366 x 768", 1366, 768, 1}};
  for (const Case& c : cases) Run(c);
  return 0;
}
