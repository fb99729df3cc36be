// The file, live and mixed graphs over the media stand-in: generated clips,
// fake devices and windows whose surfaces the renderer draws into.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "com/com.h"
#include "dshow/devices.h"
#include "media_fixtures.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/dshow_graph.h"
#include "quorl_dshow/graph_functions.h"

using namespace dshow_test;

namespace {

// What the frame callback saw.
struct Seen {
  int width, height, stride;
  int blue;              // middle pixel
  bool firstRowRed;      // the first row in memory
  bool lastRowRed;
};
std::mutex seenLock;
std::vector<Seen> seen;
std::atomic<int> calls{0};

long Record(unsigned char* data, int width, int height, int stride) {
  const int h = std::abs(height);
  const unsigned char* middle = data + static_cast<std::size_t>(h / 2) * stride + 3 * (width / 2);
  const unsigned char* last = data + static_cast<std::size_t>(h - 1) * stride;
  std::lock_guard<std::mutex> lock(seenLock);
  seen.push_back({width, height, stride, middle[0], data[2] > 128, last[2] > 128});
  ++calls;
  return 0;
}

std::vector<Seen> Frames() {
  std::lock_guard<std::mutex> lock(seenLock);
  return seen;
}

// Reaches the fields a test reads.
template <class Graph>
struct Open : Graph {
  using Graph::Graph;
  IFilterGraph2* FilterGraph() const { return this->filterGraph_; }
  IMediaEventEx* Events() const { return this->mediaEvents_; }
  DShow::CFrameSampler* Sampler() const { return this->sampler_; }
  int CrossbarInputs() const { return this->crossbarInputCount_; }
  DShow::CCrossbar* Crossbar() const { return this->crossbar_; }
  bool HasClock() const {
    CComPtr<IMediaFilter> filter;
    this->filterGraph_.QueryInterface(&filter);
    CComPtr<IReferenceClock> clock;
    filter->GetSyncSource(&clock);
    return clock.p() != nullptr;
  }
};
using FileGraph = Open<DShow::CDShowFileGraph>;
using LiveGraph = Open<DShow::CDShowLiveGraph>;
using MixedGraph = Open<DShow::CDShowMixedGraph>;

bool HasFilter(IFilterGraph* graph, const wchar_t* name) {
  CComPtr<IBaseFilter> filter;
  return SUCCEEDED(graph->FindFilterByName(name, &filter)) && filter;
}

CLSID ClassOf(IFilterGraph* graph, const wchar_t* name) {
  CComPtr<IBaseFilter> filter;
  CLSID clsid = GUID_NULL;
  if (SUCCEEDED(graph->FindFilterByName(name, &filter)) && filter) filter->GetClassID(&clsid);
  return clsid;
}

// Generous: a machine busy with sanitizer builds can stall the streaming
// thread for seconds.
bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return WaitUntil(done, ms); }

constexpr int kFrames = 10;

class Graphs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    previous = win::SetWindowServices(&windows);
    window = windows.Create(66, 40);
    dshow::ClearFakeDevices();
    std::lock_guard<std::mutex> lock(seenLock);
    seen.clear();
    calls = 0;
  }
  void TearDown() override {
    dshow::ClearFakeDevices();
    for (const std::string& clip : clips) std::remove(clip.c_str());
    win::SetWindowServices(previous);
  }

  // A clip of kFrames frames: frame k blue 20k, the top row red.
  // Empty when the clip cannot be made; clipProblem then tells why.
  std::string Clip(const char* name, int width, int height, const char* encoder, const char* muxer) {
    // Per process: runs of the same test at once must not share a file.
    const std::string path = TempPath(std::to_string(::getpid()) + "_" + name);
    if (!MakeClip(path, width, height, kFrames, 25, encoder, muxer, &clipProblem)) return "";
    clips.push_back(path);
    return path;
  }

  // The blue of the window's middle pixel after a repaint.
  int ShownBlue(DShow::CDShowGraph& graph) {
    graph.RepaintVideo(window, nullptr);
    return static_cast<int>(windows.Pixel(window, 33, 20) & 0xFF);
  }

  static dshow::FakeDevice Device(const std::string& name, int width, int height, std::vector<long> inputs = {}) {
    dshow::FakeDevice d;
    d.name = name;
    d.formats = {{MEDIASUBTYPE_RGB24, width, height, 30}};
    d.inputs = std::move(inputs);
    return d;
  }

  FakeWindows windows;
  win::WindowServices* previous = nullptr;
  HWND window = nullptr;
  std::vector<std::string> clips;
  std::string clipProblem;
};

struct ClipCase {
  const char* name;
  int width, height;
  const char* encoder;
  const char* muxer;
  int tolerance;
};

class FileClips : public Graphs, public ::testing::WithParamInterface<ClipCase> {};

void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

TEST_P(FileClips, EveryFrameOnceBottomUpThroughNamedFilters) {
  const ClipCase& c = GetParam();
  const std::string path = Clip(c.name, c.width, c.height, c.encoder, c.muxer);
  if (path.empty()) MEDIA_FIXTURE_MISSING("cannot make the " + std::string(c.name) + " clip: " + clipProblem);
  FileGraph graph(window);
  ASSERT_EQ(graph.OpenMediaFile(path.c_str()), S_OK);
  IFilterGraph* filters = graph.FilterGraph();
  EXPECT_TRUE(HasFilter(filters, L"Video Mixing Renderer 9"));
  EXPECT_TRUE(HasFilter(filters, L"Sample Gabber"));
  EXPECT_TRUE(HasFilter(filters, L"Media File Source"));
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitForEvent(graph.Events(), EC_COMPLETE, 20000));
  graph.Stop();
  const auto frames = Frames();
  ASSERT_EQ(static_cast<int>(frames.size()), kFrames);
  for (int k = 0; k < kFrames; ++k) {
    EXPECT_EQ(frames[k].width, c.width);
    EXPECT_EQ(frames[k].height, c.height);
    EXPECT_EQ(frames[k].stride, (3 * c.width + 3) & ~3);
    EXPECT_NEAR(frames[k].blue, 20 * k, c.tolerance) << "frame " << k;
    EXPECT_FALSE(frames[k].firstRowRed) << "the picture's bottom row comes first";
    EXPECT_TRUE(frames[k].lastRowRed);
  }
}

INSTANTIATE_TEST_SUITE_P(Clips, FileClips,
                         ::testing::Values(ClipCase{"raw", 33, 20, nullptr, "avimux", 1},
                                           ClipCase{"mjpeg", 64, 48, "jpegenc", "avimux", 25},
                                           ClipCase{"wmv", 64, 48, "avenc_wmv2", "asfmux", 41}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Graphs, MixedCaseWindowsMediaNamesTakeTheAsfReader) {
  const std::string path = Clip("clip.WmV", 64, 48, "avenc_wmv2", "asfmux");
  if (path.empty()) MEDIA_FIXTURE_MISSING("cannot make the Windows Media clip: " + clipProblem);
  FileGraph graph(window);
  ASSERT_EQ(graph.OpenMediaFile(path.c_str()), S_OK);
  EXPECT_EQ(ClassOf(graph.FilterGraph(), L"Media File Source"), CLSID_WMAsfReader);
  const std::string avi = Clip("clip.avi", 33, 20, nullptr, "avimux");
  ASSERT_FALSE(avi.empty()) << clipProblem;
  FileGraph other(window);
  ASSERT_EQ(other.OpenMediaFile(avi.c_str()), S_OK);
  EXPECT_NE(ClassOf(other.FilterGraph(), L"Media File Source"), CLSID_WMAsfReader);
}

TEST_F(Graphs, MissingFilesAndMissingPartsAreReported) {
  const auto start = std::chrono::steady_clock::now();
  FileGraph graph(window);
  const std::string missing = ::testing::TempDir() + "/no_such_clip.avi";
  EXPECT_EQ(graph.OpenMediaFile(missing.c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  MixedGraph mixed(window);
  EXPECT_EQ(mixed.OpenMediaFile(missing.c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(graph.SetCallback(Record), E_FAIL) << "no sampler before a source";
  EXPECT_EQ(graph.OpenMediaFile(nullptr), E_POINTER);

  // Without a window there is no renderer and no media control.
  const std::string path = Clip("clip.avi", 33, 20, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  FileGraph bare;
  EXPECT_TRUE(FAILED(bare.OpenMediaFile(path.c_str()))) << "nothing to connect the grabber to";
  for (HRESULT hr : {bare.Run(), bare.Pause(), bare.Stop(), bare.FwStep(), bare.RwStep(), bare.FwEnd(),
                     bare.RwStart(), bare.RepaintVideo(window, nullptr), bare.SetVideoPosition(nullptr, nullptr)})
    EXPECT_EQ(hr, E_FAIL);
  // Built without a window, then given one: the normal road.
  FileGraph late;
  ASSERT_EQ(late.InitVMR9(window), S_OK);
  EXPECT_EQ(late.OpenMediaFile(path.c_str()), S_OK);
}

TEST_F(Graphs, SteppingShowsTheAskedFrameAndClampsAtBothEnds) {
  const std::string path = Clip("clip.avi", 33, 20, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  FileGraph graph(window);
  ASSERT_EQ(graph.OpenMediaFile(path.c_str()), S_OK);
  RECT destination{0, 0, 66, 40};
  ASSERT_EQ(graph.SetVideoPosition(nullptr, &destination), S_OK);
  const struct {
    const char* command;
    HRESULT (FileGraph::*step)();
    int frame;
  } table[] = {{"RwStart", &FileGraph::RwStart, 0}, {"FwStep", &FileGraph::FwStep, 1},
               {"FwStep", &FileGraph::FwStep, 2},   {"RwStep", &FileGraph::RwStep, 1},
               {"RwStep", &FileGraph::RwStep, 0},   {"RwStep at 0", &FileGraph::RwStep, 0},
               {"FwEnd", &FileGraph::FwEnd, kFrames - 1}, {"FwStep at the end", &FileGraph::FwStep, kFrames - 1},
               {"RwStart", &FileGraph::RwStart, 0}};
  for (const auto& row : table) {
    EXPECT_TRUE(SUCCEEDED((graph.*row.step)())) << row.command;
    EXPECT_TRUE(WaitFor([&] { return ShownBlue(graph) == 20 * row.frame; }, 10000))
        << row.command << ": shows blue " << ShownBlue(graph) << ", wanted frame " << row.frame;
  }
}

TEST_F(Graphs, LiveGraphDeliversKeepsItsClockAndCountsCrossbarInputs) {
  dshow::AddFakeDevice(Device("Tuner", 64, 48, {2, 3}));
  LiveGraph graph(window);
  ASSERT_EQ(graph.ConnectToLiveSource(1), S_OK);
  EXPECT_EQ(graph.CrossbarInputs(), 2);
  EXPECT_NE(graph.Crossbar(), nullptr);
  EXPECT_TRUE(HasFilter(graph.FilterGraph(), L"Capture Source"));
  EXPECT_TRUE(graph.HasClock());
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitFor([] { return calls >= 3; }));
  graph.Stop();
  const Seen last = Frames().back();
  EXPECT_EQ(last.width, 64);
  EXPECT_EQ(last.height, 48);
  EXPECT_EQ(last.stride, 192);
}

TEST_F(Graphs, LiveSourcesThatDoNotExistAreReported) {
  dshow::AddFakeDevice(Device("Only", 32, 24));
  for (int index : {0, 2, -1}) {
    LiveGraph graph(window);
    EXPECT_EQ(graph.ConnectToLiveSource(index), E_FAIL) << index;
    EXPECT_EQ(graph.SetCallback(Record), E_FAIL);
  }
  dshow::ClearFakeDevices();
  MixedGraph mixed(window);
  EXPECT_EQ(mixed.ConnectToLiveSource(1), E_FAIL);
}

TEST_F(Graphs, CopiesShareTheRunningGraphAndTheLastOneEndsIt) {
  dshow::AddFakeDevice(Device("Tuner", 32, 24, {2, 3}));
  // Held in optionals: the test ends each copy at a point of its choosing.
  std::optional<LiveGraph> original(std::in_place, window);
  ASSERT_EQ(original->ConnectToLiveSource(1), S_OK);
  ASSERT_EQ(original->SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(original->Run()));
  ASSERT_TRUE(WaitFor([] { return calls >= 2; }));
  std::optional<LiveGraph> copy(std::in_place, *original);
  LiveGraph assigned(window);
  assigned = *copy;
  EXPECT_EQ(copy->Sampler(), original->Sampler());
  EXPECT_EQ(assigned.Crossbar(), original->Crossbar());
  original.reset();
  const int afterOriginal = calls;
  ASSERT_TRUE(WaitFor([&] { return calls >= afterOriginal + 3; })) << "the copy keeps the graph running";
  // The copy can still drive the shared crossbar.
  EXPECT_EQ(copy->Crossbar()->SetInputIndex(1), S_OK);
  copy.reset();
  const int afterCopy = calls;
  ASSERT_TRUE(WaitFor([&] { return calls >= afterCopy + 2; }));
  // The assigned copy drives the same graph (S_FALSE: still changing state).
  EXPECT_TRUE(SUCCEEDED(assigned.Stop()));
  EXPECT_TRUE(SUCCEEDED(assigned.Run()));
  // Assigning another graph lets go of the last share: the samplers and
  // the crossbar are freed (ASan reports a second free or a call after it).
  assigned = LiveGraph(window);
  const int afterLast = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(calls, afterLast) << "a callback ran after the last copy was gone";
}

TEST_F(Graphs, ASecondSamplerKeepsTheFirstAlive) {
  const std::string path = Clip("clip.avi", 33, 20, nullptr, "avimux");
  ASSERT_FALSE(path.empty()) << clipProblem;
  FileGraph graph(window);
  ASSERT_EQ(graph.OpenMediaFile(path.c_str()), S_OK);
  DShow::CFrameSampler* first = graph.Sampler();
  ASSERT_EQ(graph.InitialiseFrameSampler(), S_OK);
  EXPECT_NE(graph.Sampler(), first);
  ASSERT_EQ(first->SetProcessFunction(Record), S_OK) << "still held by the grabber";
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitForEvent(graph.Events(), EC_COMPLETE, 20000));
  EXPECT_EQ(calls, kFrames);
}

}  // namespace
