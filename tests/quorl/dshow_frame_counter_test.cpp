// The frame-counting graph: generated clips of known length in several
// containers, failures that must not leave the owner waiting, and teardown
// in the middle of a count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "com/com.h"
#include "media_fixtures.h"
#include "quorl_dshow/frame_counter_graph.h"

using namespace dshow_test;
using Counter = DShow::CDShowMpeg2FrameCounterGraph;

namespace {

constexpr UINT kCountMessage = 1124;  // WM_USER + 100

std::atomic<int> callbackCalls{0};
long Called(unsigned char*, int, int, int) {
  ++callbackCalls;
  return 0;
}

class FrameCounter : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = win::SetWindowServices(&windows);
    window = windows.Create(8, 8);
  }
  void TearDown() override {
    for (const std::string& clip : clips) std::remove(clip.c_str());
    win::SetWindowServices(previous);
  }

  std::string Clip(const std::string& name, int width, int height, int frames, const char* encoder,
                   const char* muxer) {
    // Per process: runs of the same test at once must not share a file.
    const std::string path = TempPath(std::to_string(::getpid()) + "_" + name);
    if (!MakeClip(path, width, height, frames, 25, encoder, muxer, &clipProblem)) return "";
    clips.push_back(path);
    return path;
  }

  // The event codes that arrived once message 1124 was posted; empty when
  // it never came.
  std::vector<long> AwaitEnd(Counter& counter, int timeoutMs = 30000) {
    std::vector<long> codes;
    if (!WaitUntil([&] { return windows.Posts(kCountMessage) > 0; }, timeoutMs)) return codes;
    long code;
    LONG_PTR p1, p2;
    while (counter.mediaEvents && counter.mediaEvents->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
    return codes;
  }

  FakeWindows windows;
  win::WindowServices* previous = nullptr;
  HWND window = nullptr;
  std::vector<std::string> clips;
  std::string clipProblem;  // why the last Clip gave none
};

struct CountCase {
  const char* name;
  const char* encoder;
  const char* muxer;
  int frames;
};

class Counts : public FrameCounter, public ::testing::WithParamInterface<CountCase> {};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

TEST_P(Counts, EveryFrameIsCountedWithoutAClock) {
  const CountCase& c = GetParam();
  const std::string path = Clip(c.name, 64, 48, c.frames, c.encoder, c.muxer);
  if (path.empty()) MEDIA_FIXTURE_MISSING("cannot make the " + std::string(c.name) + " clip: " + clipProblem);
  Counter counter;
  counter.notifyWindow = window;
  ASSERT_EQ(counter.Count(path.c_str()), S_OK);
  CComPtr<IMediaFilter> filter;
  ASSERT_TRUE(SUCCEEDED(counter.mediaEvents.QueryInterface(&filter)));
  CComPtr<IReferenceClock> clock;
  filter->GetSyncSource(&clock);
  EXPECT_EQ(clock.p(), nullptr) << "counting runs without a reference clock";
  const std::vector<long> codes = AwaitEnd(counter);
  ASSERT_FALSE(codes.empty()) << "no completion message";
  EXPECT_EQ(codes.front(), EC_COMPLETE);
  EXPECT_EQ(counter.counter.count.load(), c.frames);
}

INSTANTIATE_TEST_SUITE_P(Containers, Counts,
                         ::testing::Values(CountCase{"raw.avi", nullptr, "avimux", 17},
                                           CountCase{"mjpeg.avi", "jpegenc", "avimux", 12},
                                           CountCase{"mpeg2.mpg", "mpeg2enc", "avmux_mpeg", 25},
                                           CountCase{"wmv2.wmv", "avenc_wmv2", "asfmux", 9}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

TEST(CounterSampler, CountsWithoutReadingTheSampleOrCallingBack) {
  Counter::CCounterSampler sampler;
  ASSERT_EQ(sampler.SetProcessFunction(Called), S_OK);
  callbackCalls = 0;
  // A null sample and a sample whose buffer cannot be had: each is counted,
  // neither is read.
  EXPECT_EQ(sampler.SampleCB(0.0, nullptr), S_OK);
  EXPECT_EQ(sampler.SampleCB(0.04, nullptr), S_OK);
  EXPECT_EQ(sampler.count.load(), 2);
  EXPECT_EQ(callbackCalls.load(), 0);
}

TEST_F(FrameCounter, UnreadableFilesFailOrAbortAndNeverLeaveTheOwnerWaiting) {
  const std::string missing = TempPath(std::to_string(::getpid()) + "_no_such_clip.avi");
  Counter absent;
  absent.notifyWindow = window;
  EXPECT_TRUE(FAILED(absent.Count(missing.c_str())));
  EXPECT_EQ(absent.Count(missing.c_str()), E_FAIL) << "once per graph";

  const std::string garbage = TempPath(std::to_string(::getpid()) + "_garbage.avi");
  clips.push_back(garbage);
  {
    std::ofstream out(garbage, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 7919) & 0xFF));
  }
  Counter broken;
  broken.notifyWindow = window;
  const HRESULT hr = broken.Count(garbage.c_str());
  if (SUCCEEDED(hr)) {
    const std::vector<long> codes = AwaitEnd(broken, 20000);
    ASSERT_FALSE(codes.empty()) << "a started count must end with a message";
    EXPECT_EQ(codes.front(), EC_ERRORABORT);
  }

  Counter unnamed;
  EXPECT_EQ(unnamed.Count(nullptr), E_POINTER);
}

TEST_F(FrameCounter, ASecondCountIsRefusedAndAddsNothing) {
  const std::string path = Clip("clip.avi", 32, 24, 5, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  Counter counter;
  counter.notifyWindow = window;
  ASSERT_EQ(counter.Count(path.c_str()), S_OK);
  ASSERT_FALSE(AwaitEnd(counter).empty());
  EXPECT_EQ(counter.Count(path.c_str()), E_FAIL);
  EXPECT_EQ(counter.counter.count.load(), 5);
}

TEST_F(FrameCounter, WithoutAWindowTheCountStillEndsButNoMessageIsSent) {
  const std::string path = Clip("clip.avi", 32, 24, 6, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  Counter counter;
  ASSERT_EQ(counter.Count(path.c_str()), S_OK);
  ASSERT_TRUE(WaitForEvent(counter.mediaEvents, EC_COMPLETE, 30000));
  EXPECT_EQ(counter.counter.count.load(), 6);
  EXPECT_EQ(windows.Posts(kCountMessage), 0);
}

TEST_F(FrameCounter, DestructionInTheMiddleOfACountIsClean) {
  const std::string path = Clip("long.avi", 320, 240, 200, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  for (int round = 0; round < 3; ++round) {
    Counter counter;
    counter.notifyWindow = window;
    ASSERT_EQ(counter.Count(path.c_str()), S_OK);
    // Whatever has been counted when the graph goes; ASan reports a call
    // into the counter after it was destroyed.
    WaitUntil([&] { return counter.counter.count.load() > round * 20; }, 10000);
  }
  const int before = CoInitializeCountForThread();
  { Counter idle; }
  EXPECT_EQ(CoInitializeCountForThread(), before + 1) << "COM is left initialised";
}

}  // namespace
