#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <unistd.h>

#include "com/com.h"
#include "dshow/platform.h"
#include "media_fixtures.h"
#include "win/messages.h"

using namespace dshow_test;

namespace {

constexpr int kFrames = 10;

struct ClipCase {
  const char* name;
  int width, height;
  const char* encoder;
  const char* muxer;
  int tolerance;
};

const ClipCase kClips[] = {
    {"raw_bgr_avi", 33, 20, nullptr, "avimux", 0},
    {"mjpeg_avi", 64, 48, "jpegenc", "avimux", 24},
    {"mpeg2_mpg", 64, 48, "mpeg2enc", "mpegpsmux", 40},
    {"wmv2_wmv", 64, 48, "avenc_wmv2", "asfmux", 40},
};

std::string ClipFile(const ClipCase& c) {
  const std::string ext = std::string(c.muxer) == "mpegpsmux" ? ".mpg" : std::string(c.muxer) == "asfmux" ? ".wmv" : ".avi";
  // Tests run as separate processes at once: each makes its own.
  return ::testing::TempDir() + "/fixture_" + std::to_string(::getpid()) + "_" + c.name + ext;
}

// Made once per process with plain GStreamer.
const std::string* EnsureClip(const ClipCase& c, std::string* why) {
  static std::mutex lock;
  static std::map<std::string, std::string> made, failed;
  std::lock_guard<std::mutex> guard(lock);
  if (made.count(c.name)) return &made[c.name];
  if (failed.count(c.name)) {
    *why = failed[c.name];
    return nullptr;
  }
  const std::string path = ClipFile(c);
  if (!MakeClip(path, c.width, c.height, kFrames, 25, c.encoder, c.muxer, why)) {
    failed[c.name] = *why;
    return nullptr;
  }
  made[c.name] = path;
  return &made[c.name];
}

// Source, grabber and a renderer, connected; the graph owns them.
struct FileGraph {
  CComPtr<IGraphBuilder> graph;
  CComPtr<IBaseFilter> source, grabberFilter, renderer;
  CComPtr<ISampleGrabber> grabber;
  CComPtr<IMediaControl> control;
  CComPtr<IMediaEventEx> events;
  CComPtr<IMediaSeeking> seeking;

  HRESULT Open(const std::string& path, REFCLSID rendererClass = CLSID_NullRenderer) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&graph));
    if (FAILED(hr)) return hr;
    graph.QueryInterface(&control);
    graph.QueryInterface(&events);
    graph.QueryInterface(&seeking);
    const std::wstring wide(path.begin(), path.end());
    hr = graph->AddSourceFilter(wide.c_str(), L"Source", &source);
    if (FAILED(hr)) return hr;
    grabberFilter = Create(CLSID_SampleGrabber);
    grabberFilter.QueryInterface(&grabber);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(&mt);
    graph->AddFilter(grabberFilter, L"Sample Grabber");
    if (FAILED(hr = ConnectFree(graph, source, grabberFilter))) return hr;
    if (rendererClass != GUID_NULL) {
      renderer = Create(rendererClass);
      graph->AddFilter(renderer, L"Renderer");
      if (FAILED(hr = ConnectFree(graph, grabberFilter, renderer))) return hr;
    }
    return S_OK;
  }
  void Fast() {
    CComPtr<IMediaFilter> filter;
    graph.QueryInterface(&filter);
    filter->SetSyncSource(nullptr);
  }
};

class FramesTest : public ::testing::TestWithParam<ClipCase> {};

void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

TEST_P(FramesTest, EachFrameOnceBottomUpWithTheConnectedSize) {
  const ClipCase& c = GetParam();
  std::string why;
  const std::string* path = EnsureClip(c, &why);
  if (!path) MEDIA_FIXTURE_MISSING("cannot make the " + std::string(c.name) + " fixture: " + why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path), S_OK);

  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(g.grabber->GetConnectedMediaType(&mt), S_OK);
  ASSERT_EQ(mt.formattype, FORMAT_VideoInfo);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, c.width);
  EXPECT_EQ(vih->bmiHeader.biHeight, c.height);
  EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
  EXPECT_EQ(vih->bmiHeader.biCompression, BI_RGB);
  EXPECT_EQ(vih->AvgTimePerFrame, 400000);
  const long stride = (3 * c.width + 3) & ~3;
  EXPECT_EQ(mt.lSampleSize, static_cast<ULONG>(stride * c.height));
  FreeMediaType(mt);

  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(c.width, c.height));
  ASSERT_EQ(g.grabber->SetCallback(callback, 0), S_OK);
  g.Fast();
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  g.control->Stop();
  const auto frames = callback->Frames();
  ASSERT_EQ(static_cast<int>(frames.size()), kFrames);
  for (int k = 0; k < kFrames; ++k) {
    EXPECT_EQ(frames[k].length, stride * c.height) << "frame " << k;
    EXPECT_NEAR(frames[k].blue, 20 * k, c.tolerance + 1) << "frame " << k;
    // The first row in memory is the picture's bottom row.
    EXPECT_LT(frames[k].firstRowRed, 128) << "frame " << k;
    EXPECT_GT(frames[k].lastRowRed, 128) << "frame " << k;
  }
  g.grabber->SetCallback(nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FramesTest, ::testing::ValuesIn(kClips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameLayout, StrideMatchesTheMediaLibrary) {
  gst_init(nullptr, nullptr);
  for (int width : {1, 2, 3, 33, 640, 641}) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, width, 4);
    EXPECT_EQ(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), (3 * width + 3) & ~3) << width;
  }
}

TEST(FrameSeeking, LandsOnTheFrameAndClampsAtBothEnds) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path), S_OK);
  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(33, 20));
  g.grabber->SetCallback(callback, 0);
  ASSERT_EQ(g.seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(g.seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, kFrames);
  const std::pair<LONGLONG, int> cases[] = {{4, 4}, {-1, 0}, {kFrames + 5, kFrames - 1}, {7, 7}, {0, 0}};
  for (auto [target, expected] : cases) {
    LONGLONG position = target;
    const int before = callback->Count();
    ASSERT_EQ(g.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->StopWhenReady()));
    WaitUntil([&] { return callback->Count() != before; }, 5000);
    ASSERT_GT(callback->Count(), before) << "no frame after seeking to " << target;
    EXPECT_EQ(callback->Frames()[before].blue, 20 * expected) << "seek to " << target;
    LONGLONG now = -1;
    g.seeking->GetCurrentPosition(&now);
    EXPECT_EQ(now, expected) << "seek to " << target;
  }
  g.grabber->SetCallback(nullptr, 0);
}

struct WindowsFixture : ::testing::Test {
  void SetUp() override { previous = win::SetWindowServices(&windows); }
  void TearDown() override { win::SetWindowServices(previous); }
  FakeWindows windows;
  win::WindowServices* previous = nullptr;
};

using RendererTest = WindowsFixture;

TEST_F(RendererTest, InPlaceWritesReachTheWindowUpright) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path, CLSID_VideoMixingRenderer9), S_OK);
  CComPtr<IVMRWindowlessControl9> windowless;
  ASSERT_EQ(g.renderer.QueryInterface(&windowless), S_OK);
  HWND hwnd = windows.Create(66, 40);
  windowless->SetVideoClippingWindow(hwnd);
  RECT dest{0, 0, 66, 40};
  windowless->SetVideoPosition(nullptr, &dest);
  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(33, 20));
  callback->paintGreen = true;
  g.grabber->SetCallback(callback, 0);
  g.Fast();
  g.control->Run();
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  ASSERT_EQ(windowless->RepaintVideo(hwnd, nullptr), S_OK);
  const std::uint32_t top = windows.Pixel(hwnd, 10, 0), middle = windows.Pixel(hwnd, 10, 20);
  // 0xAARRGGBB: the top row red, green written by the callback everywhere,
  // the last frame's blue.
  EXPECT_EQ((top >> 16) & 0xFF, 255u);
  EXPECT_EQ((middle >> 16) & 0xFF, 0u);
  EXPECT_EQ((middle >> 8) & 0xFF, 200u);
  EXPECT_EQ(middle & 0xFF, 180u);
  g.grabber->SetCallback(nullptr, 0);
}

// The grabber turns the rows for the renderer whether or not a callback
// takes the frames.
TEST_F(RendererTest, WithoutACallbackTheWindowStillShowsTheFrameUpright) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path, CLSID_VideoMixingRenderer9), S_OK);
  CComPtr<IVMRWindowlessControl9> windowless;
  ASSERT_EQ(g.renderer.QueryInterface(&windowless), S_OK);
  HWND hwnd = windows.Create(66, 40);
  windowless->SetVideoClippingWindow(hwnd);
  RECT dest{0, 0, 66, 40};
  windowless->SetVideoPosition(nullptr, &dest);
  g.Fast();
  g.control->Run();
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  ASSERT_EQ(windowless->RepaintVideo(hwnd, nullptr), S_OK);
  // 0xAARRGGBB: only the top row is red.
  EXPECT_EQ((windows.Pixel(hwnd, 10, 0) >> 16) & 0xFF, 255u);
  EXPECT_EQ((windows.Pixel(hwnd, 10, 20) >> 16) & 0xFF, 0u);
  EXPECT_EQ((windows.Pixel(hwnd, 10, 39) >> 16) & 0xFF, 0u);
}

using EventsTest = WindowsFixture;

TEST_F(EventsTest, EndOfStreamPostsToTheNotifyWindow) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path), S_OK);
  HWND hwnd = windows.Create(8, 8);
  ASSERT_EQ(g.events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_USER + 100, 7), S_OK);
  g.Fast();
  g.control->Run();
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  EXPECT_EQ(windows.Posts(1124), 1);
}

TEST_F(EventsTest, PostsToADestroyedWindowAreHarmless) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path), S_OK);
  HWND hwnd = windows.Create(8, 8);
  g.events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_USER + 100, 0);
  windows.Destroy(hwnd);
  g.Fast();
  g.control->Run();
  EXPECT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  EXPECT_EQ(windows.Posts(1124), 0);
}

TEST(FileSource, MissingAndUndecodableFilesFailQuickly) {
  FileGraph g;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(g.Open(::testing::TempDir() + "/no_such_clip.avi"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(g.source.p(), nullptr);
  const std::string junk = ::testing::TempDir() + "/junk.avi";
  FILE* f = std::fopen(junk.c_str(), "wb");
  for (int i = 0; i < 4096; ++i) std::fputc((i * 7919) & 0xFF, f);
  std::fclose(f);
  FileGraph h;
  const HRESULT hr = h.Open(junk);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  char text[160];
  EXPECT_GT(AMGetErrorTextA(hr, text, sizeof(text)), 0u);
  std::remove(junk.c_str());
}

TEST(Grabber, SetCallbackWaitsForARunningCall) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  FileGraph g;
  ASSERT_EQ(g.Open(*path), S_OK);
  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(33, 20));
  callback->sleepMs = 150;
  g.grabber->SetCallback(callback, 0);
  g.Fast();
  g.control->Run();
  WaitUntil([&] { return callback->inside.load(); }, 5000, 1);
  ASSERT_TRUE(callback->inside.load());
  const int seen = callback->Count();
  ASSERT_EQ(g.grabber->SetCallback(nullptr, 0), S_OK);
  // The call in progress had ended; no new one starts.
  EXPECT_GE(callback->Count(), seen + 1);
  const int after = callback->Count();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(callback->Count(), after);
}

TEST(Grabber, NoCallbackAfterTheRunningGraphIsReleased) {
  std::string why;
  const std::string* path = EnsureClip(kClips[1], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(64, 48));
  CComPtr<IBaseFilter> keptGrabber;
  {
    FileGraph g;
    ASSERT_EQ(g.Open(*path), S_OK);
    keptGrabber = g.grabberFilter;
    callback->sleepMs = 20;
    g.grabber->SetCallback(callback, 0);
    g.control->Run();  // with the clock: several frames still to come
    WaitUntil([&] { return callback->Count() != 0; }, 5000, 1);
    ASSERT_GT(callback->Count(), 0);
    g.grabber = nullptr;
    g.grabberFilter = nullptr;
    g.source = nullptr;
    g.renderer = nullptr;
    g.control = nullptr;
    g.events = nullptr;
    g.seeking = nullptr;
    g.graph = nullptr;  // the final release
  }
  const int count = callback->Count();
  EXPECT_LT(count, kFrames);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(callback->Count(), count);
  EXPECT_FALSE(callback->inside.load());
}

TEST(Grabber, AnUnconnectedOutputStillHandsOverEveryFrameAndEnds) {
  std::string why;
  const std::string* path = EnsureClip(kClips[0], &why);
  if (!path) MEDIA_FIXTURE_MISSING(why);
  // Twice: a graph run again after Stop keeps its ending sink, and one
  // connected later loses it.
  FileGraph g;
  ASSERT_EQ(g.Open(*path, GUID_NULL), S_OK);
  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(kClips[0].width, kClips[0].height));
  ASSERT_EQ(g.grabber->SetCallback(callback, 0), S_OK);
  g.Fast();
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000)) << "the end of stream reached the bus";
  EXPECT_EQ(callback->Count(), kFrames);
  g.control->Stop();
  g.renderer = Create(CLSID_NullRenderer);
  g.graph->AddFilter(g.renderer, L"Renderer");
  ASSERT_EQ(ConnectFree(g.graph, g.grabberFilter, g.renderer), S_OK);
  LONGLONG start = 0;
  g.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(WaitForEvent(g.events, EC_COMPLETE, 20000));
  EXPECT_EQ(callback->Count(), 2 * kFrames);
}

TEST(Graph, RepeatedNamesGetASuffix) {
  CComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  CComPtr<IBaseFilter> a = Create(CLSID_SampleGrabber), b = Create(CLSID_SampleGrabber);
  ASSERT_EQ(graph->AddFilter(a, L"Grabber"), S_OK);
  ASSERT_EQ(graph->AddFilter(b, L"Grabber"), S_OK);
  FILTER_INFO info{};
  b->QueryFilterInfo(&info);
  EXPECT_NE(std::wstring(info.achName), L"Grabber");
  if (info.pGraph) info.pGraph->Release();
  CComPtr<IBaseFilter> found;
  EXPECT_EQ(graph->FindFilterByName(L"Grabber", &found), S_OK);
  EXPECT_EQ(found.p(), a.p());
  CComPtr<IEnumFilters> filters;
  graph->EnumFilters(&filters);
  int n = 0;
  for (;;) {
    CComPtr<IBaseFilter> f;
    ULONG got = 0;
    if (filters->Next(1, &f, &got) != S_OK) break;
    ++n;
  }
  EXPECT_EQ(n, 2);
  EXPECT_EQ(graph->RemoveFilter(a), S_OK);
  EXPECT_EQ(graph->RemoveFilter(a), VFW_E_NOT_FOUND);
}

TEST(Classes, UnknownClassAndEmptyDeviceCategory) {
  CComPtr<IBaseFilter> f;
  EXPECT_EQ(CoCreateInstance(OurGuid(0xBADBAD), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&f)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(f.p(), nullptr);
  CComPtr<ICreateDevEnum> devices;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                             reinterpret_cast<void**>(&devices)),
            S_OK);
  IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(0x1);
  EXPECT_EQ(devices->CreateClassEnumerator(OurGuid(0x777), &monikers, 0), S_FALSE);
  EXPECT_EQ(monikers, nullptr);
}

}  // namespace
