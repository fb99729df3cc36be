// Counting the frames of a 640 x 480 MPEG-2 file of 500 frames with the
// frame-counting graph, against plain GStreamer decoding the same file to
// BGR without a clock; prints the time ratio ours / plain (target: at most
// 1.3, our grabber also flips the rows). Best of a few runs each.
#include <gst/gst.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "com/com.h"
#include "quorl_dshow/frame_counter_graph.h"

namespace {

constexpr int kFrames = 500, kRuns = 3;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool RunToEnd(const std::string& description, double* seconds) {
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return false;
  const auto start = Clock::now();
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, 300 * GST_SECOND,
                                             static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  *seconds = Seconds(Clock::now() - start);
  const bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
  if (m) gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

bool CountOurs(const std::string& path, double* seconds, double* building, int* count) {
  const auto start = Clock::now();
  DShow::CDShowMpeg2FrameCounterGraph counter;
  if (FAILED(counter.Count(path.c_str()))) return false;
  *building = Seconds(Clock::now() - start);
  long code = 0;
  LONG_PTR p1, p2;
  while (counter.mediaEvents->GetEvent(&code, &p1, &p2, 300000) == S_OK && code != EC_COMPLETE)
    if (code == EC_ERRORABORT) return false;
  *seconds = Seconds(Clock::now() - start);
  *count = counter.counter.count.load();
  return code == EC_COMPLETE;
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(nullptr, nullptr);
  // An MPEG-2 file of 500 frames may be given; otherwise one is made.
  const bool given = argc > 1;
  const std::string path = given ? argv[1] : "/tmp/frame_counter_bench_" + std::to_string(::getpid()) + ".mpg";
  double made = 0;
  if (!given && !RunToEnd("videotestsrc num-buffers=" + std::to_string(kFrames) +
                    " pattern=ball ! video/x-raw,width=640,height=480,framerate=25/1 ! videoconvert ! mpeg2enc ! "
                    "avmux_mpeg ! filesink location=" + path,
                &made)) {
    std::fprintf(stderr, "cannot make the MPEG-2 file (mpeg2enc, avmux_mpeg)\n");
    return 1;
  }
  double ours = 1e9, plain = 1e9, build = 1e9;
  int count = 0;
  for (int run = 0; run < kRuns; ++run) {
    double s = 0, b = 0;
    if (!CountOurs(path, &s, &b, &count)) {
      std::fprintf(stderr, "the count failed\n");
      return 1;
    }
    ours = std::min(ours, s);
    build = std::min(build, b);
    if (!RunToEnd("filesrc location=" + path +
                      " ! decodebin ! videoconvert ! video/x-raw,format=BGR ! fakesink sync=false",
                  &s)) {
      std::fprintf(stderr, "plain decoding failed\n");
      return 1;
    }
    plain = std::min(plain, s);
  }
  if (!given) std::remove(path.c_str());
  std::printf("frames counted: %d of %d\n", count, kFrames);
  std::printf("of ours, building the graph (the source probes the file) until Count returns: %.3f s\n", build);
  std::printf("ours %.3f s, plain GStreamer %.3f s, ratio ours / plain %.2f (target <= 1.3)\n", ours, plain,
              ours / plain);
  return 0;
}
