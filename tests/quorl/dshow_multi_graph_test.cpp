// The multi-stream graph: three generated clips, each of its own size so a
// frame names its file, in three windows under one media control.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com/com.h"
#include "dshow/platform.h"
#include "media_fixtures.h"
#include "quorl_dshow/multi_graph.h"

using namespace dshow_test;

namespace {

constexpr int kStreams = 3;
constexpr int kFrames = 8;
constexpr int kWidths[kStreams] = {32, 48, 64};

// What each stream's callback saw: the widths and the blue of each frame.
struct StreamSeen {
  std::mutex lock;
  std::vector<int> widths, blues;
};
std::array<StreamSeen, kStreams> seen;
std::atomic<int> calls{0};

template <int Stream>
long Record(unsigned char* data, int width, int height, int stride) {
  const int blue = data[static_cast<std::size_t>(std::abs(height) / 2) * stride + 3 * (width / 2)];
  std::lock_guard<std::mutex> lock(seen[Stream].lock);
  seen[Stream].widths.push_back(width);
  seen[Stream].blues.push_back(blue);
  ++calls;
  return 0;
}
constexpr DShow::FrameCallback kRecorders[kStreams] = {Record<0>, Record<1>, Record<2>};


// The graph a new running-object-table entry holds (as a graph viewer
// reaches it); `before` is the table's names before the graph was made.
CComPtr<IFilterGraph> NewGraph(const std::vector<std::string>& before) {
  CComPtr<IFilterGraph> graph;
  for (const std::string& name : dshow::RunningObjectNames())
    if (std::find(before.begin(), before.end(), name) == before.end())
      if (CComPtr<IUnknown> object = dshow::RunningObject(name))
        object->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(&graph));
  return graph;
}

std::vector<std::wstring> FilterNames(IFilterGraph* graph) {
  std::vector<std::wstring> names;
  CComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return names;
  CComPtr<IBaseFilter> filter;
  ULONG got = 0;
  while (filters->Next(1, &filter, &got) == S_OK && got == 1) {
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    names.emplace_back(info.achName);
    if (info.pGraph) info.pGraph->Release();
    filter = nullptr;
  }
  return names;
}

class MultiGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = win::SetWindowServices(&windows);
    for (HWND& w : window) w = windows.Create(40, 30);
    for (StreamSeen& s : seen) {
      std::lock_guard<std::mutex> lock(s.lock);
      s.widths.clear();
      s.blues.clear();
    }
    calls = 0;
    for (int i = 0; i < kStreams; ++i) {
      std::string why;
      clip[i] = TempPath(std::to_string(::getpid()) + "_stream" + std::to_string(i) + ".avi");
      ASSERT_TRUE(MakeClip(clip[i], kWidths[i], 24, kFrames, 25, nullptr, "avimux", &why)) << why;
    }
  }
  void TearDown() override {
    for (const std::string& c : clip) std::remove(c.c_str());
    win::SetWindowServices(previous);
  }

  void OpenAll(DShow::CDShowMultiGraph& graph) {
    ASSERT_EQ(graph.InitVMR9(window, kStreams), S_OK);
    for (int i = 0; i < kStreams; ++i) {
      ASSERT_EQ(graph.OpenMediaFile(clip[i].c_str(), i), S_OK) << i;
      ASSERT_NE(graph.GetSampler(i), nullptr);
      ASSERT_EQ(graph.GetSampler(i)->SetProcessFunction(kRecorders[i]), S_OK);
    }
  }

  FakeWindows windows;
  win::WindowServices* previous = nullptr;
  HWND window[kStreams] = {};
  std::string clip[kStreams];
};

TEST_F(MultiGraph, EachStreamGetsAllFramesOfItsOwnFileUnderOneControl) {
  DShow::CDShowMultiGraph graph;
  OpenAll(graph);
  EXPECT_EQ(graph.GetSampler(kStreams), nullptr);
  EXPECT_EQ(graph.GetSampler(-1), nullptr);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([] { return calls >= kStreams * kFrames; }, 30000)) << calls;
  for (int i = 0; i < kStreams; ++i) {
    std::lock_guard<std::mutex> lock(seen[i].lock);
    ASSERT_EQ(static_cast<int>(seen[i].widths.size()), kFrames) << "stream " << i;
    for (int k = 0; k < kFrames; ++k) {
      EXPECT_EQ(seen[i].widths[k], kWidths[i]) << "stream " << i << " saw another file's frame";
      EXPECT_NEAR(seen[i].blues[k], 20 * k, 1);
    }
  }
  // One control pauses every stream: nothing moves once paused.
  ASSERT_TRUE(SUCCEEDED(graph.Pause()));
  ASSERT_TRUE(SUCCEEDED(graph.Stop()));
  RECT destination{0, 0, 40, 30};
  for (int i = 0; i < kStreams; ++i) {
    EXPECT_EQ(graph.SetVideoPosition(nullptr, &destination, i), S_OK);
    EXPECT_EQ(graph.RepaintVideo(window[i], nullptr, i), S_OK);
  }
  for (int stream : {kStreams, -1}) {
    EXPECT_EQ(graph.SetVideoPosition(nullptr, &destination, stream), E_FAIL) << stream;
    EXPECT_EQ(graph.RepaintVideo(window[0], nullptr, stream), E_FAIL) << stream;
  }
}

TEST_F(MultiGraph, PauseHoldsEveryStreamAtOnce) {
  // Long clips, so the streams are still running when paused.
  for (int i = 0; i < kStreams; ++i) {
    std::string why;
    ASSERT_TRUE(MakeClip(clip[i], kWidths[i], 24, 100, 25, nullptr, "avimux", &why)) << why;
  }
  DShow::CDShowMultiGraph graph;
  OpenAll(graph);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil(
      [] {
        for (StreamSeen& s : seen) {
          std::lock_guard<std::mutex> lock(s.lock);
          if (s.widths.size() < 2) return false;
        }
        return true;
      },
      30000));
  ASSERT_TRUE(SUCCEEDED(graph.Pause()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int paused = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(calls, paused) << "a stream kept running after Pause";
  EXPECT_LT(paused, kStreams * 100);
}

TEST_F(MultiGraph, RenderersAreNamedAndEventsGoToTheFirstWindow) {
  const std::vector<std::string> before = dshow::RunningObjectNames();
  DShow::CDShowMultiGraph graph;
  CComPtr<IFilterGraph> filters = NewGraph(before);
  ASSERT_NE(filters.p(), nullptr);
  HWND none[1] = {nullptr};
  EXPECT_EQ(graph.InitVMR9(window, 0), E_INVALIDARG);
  EXPECT_EQ(graph.InitVMR9(nullptr, 2), E_POINTER);
  EXPECT_TRUE(FilterNames(filters).empty()) << "a refused call added a renderer";
  EXPECT_EQ(graph.OpenMediaFile(clip[0].c_str(), 0), E_INVALIDARG) << "no renderer yet";
  ASSERT_EQ(graph.InitVMR9(window, kStreams), S_OK);
  const std::vector<std::wstring> renderers{L"Video Mixing Renderer 9", L"Video Mixing Renderer 9 0001",
                                            L"Video Mixing Renderer 9 0002"};
  EXPECT_EQ(FilterNames(filters), renderers);
  EXPECT_EQ(graph.InitVMR9(none, 1), E_FAIL) << "a second call";
  EXPECT_EQ(FilterNames(filters), renderers);
  // Every renderer fed, so the whole graph completes.
  for (int i = 0; i < kStreams; ++i) ASSERT_EQ(graph.OpenMediaFile(clip[i].c_str(), i), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([&] { return windows.Posts(1124) > 0; }, 30000)) << "the end of stream goes to window 0";
}

TEST_F(MultiGraph, StreamsOpenInOrderAndAFailedOpenLeavesNothingBehind) {
  DShow::CDShowMultiGraph graph;
  ASSERT_EQ(graph.InitVMR9(window, kStreams), S_OK);
  EXPECT_EQ(graph.OpenMediaFile(clip[1].c_str(), 1), E_INVALIDARG) << "stream 1 before stream 0";
  EXPECT_EQ(graph.GetSampler(0), nullptr);
  const std::string missing = TempPath(std::to_string(::getpid()) + "_missing.avi");
  EXPECT_TRUE(FAILED(graph.OpenMediaFile(missing.c_str(), 0)));
  EXPECT_EQ(graph.GetSampler(0), nullptr) << "the failed stream added a sampler";
  EXPECT_EQ(graph.OpenMediaFile(nullptr, 0), E_POINTER);
  // The same stream then opens with a good file, and the rest follow.
  ASSERT_EQ(graph.OpenMediaFile(clip[0].c_str(), 0), S_OK);
  EXPECT_EQ(graph.OpenMediaFile(clip[0].c_str(), 0), E_INVALIDARG) << "opened twice";
  ASSERT_EQ(graph.OpenMediaFile(clip[1].c_str(), 1), S_OK);
  ASSERT_EQ(graph.OpenMediaFile(clip[2].c_str(), 2), S_OK);
  EXPECT_EQ(graph.OpenMediaFile(clip[2].c_str(), 3), E_INVALIDARG) << "no fourth window";
  for (int i = 0; i < kStreams; ++i) graph.GetSampler(i)->SetProcessFunction(kRecorders[i]);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([] { return calls >= kStreams * kFrames; }, 30000)) << calls;
  for (int i = 0; i < kStreams; ++i) {
    std::lock_guard<std::mutex> lock(seen[i].lock);
    EXPECT_EQ(static_cast<int>(seen[i].widths.size()), kFrames) << i;
  }
}

TEST_F(MultiGraph, CopiesShareTheGraphAndTheLastEndsItBeforeTheSamplersGo) {
  for (int i = 0; i < kStreams; ++i) {
    std::string why;
    ASSERT_TRUE(MakeClip(clip[i], kWidths[i], 24, 200, 25, nullptr, "avimux", &why)) << why;
  }
  const int com = CoInitializeCountForThread();
  const std::size_t entries = dshow::RunningObjectNames().size();
  {
    auto original = std::make_unique<DShow::CDShowMultiGraph>();
    OpenAll(*original);
    EXPECT_EQ(dshow::RunningObjectNames().size(), entries + 1);
    DShow::CDShowMultiGraph copy(*original);
    EXPECT_EQ(copy.GetSampler(1), original->GetSampler(1));
    ASSERT_TRUE(SUCCEEDED(original->Run()));
    ASSERT_TRUE(WaitUntil([] { return calls >= 3; }, 30000));
    original.reset();
    EXPECT_EQ(dshow::RunningObjectNames().size(), entries + 1) << "the copy keeps the entry";
    const int afterOriginal = calls;
    ASSERT_TRUE(WaitUntil([&] { return calls >= afterOriginal + 3; }, 30000)) << "the copy keeps running";
    DShow::CDShowMultiGraph assigned;
    assigned = copy;
    EXPECT_TRUE(SUCCEEDED(assigned.Pause()));
  }
  // The last copy went while frames flowed: no callback afterwards (ASan
  // reports a call into a freed sampler), the entry revoked once, COM even.
  const int afterLast = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(calls, afterLast);
  EXPECT_EQ(dshow::RunningObjectNames().size(), entries);
  EXPECT_EQ(CoInitializeCountForThread(), com);
}

}  // namespace
