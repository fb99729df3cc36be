// The graph-building functions over the media stand-in: devices,
// crossbars, compressors, recording, the running object table and graph files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "com/com.h"
#include "dshow/devices.h"
#include "dshow/platform.h"
#include "dshow/testing/fakes.h"
#include "media_fixtures.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"

using namespace dshow_test;

namespace {

// A frame generator: blue 20k, the top row red.
void Pattern(long frame, BYTE* bgr, int width, int height, int stride) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* p = bgr + static_cast<std::size_t>(y) * stride + 3 * x;
      p[0] = static_cast<BYTE>(20 * frame);
      p[1] = 0;
      p[2] = y == 0 ? 255 : 0;
    }
}

CComPtr<IGraphBuilder> NewGraph() {
  CComPtr<IGraphBuilder> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                   reinterpret_cast<void**>(&graph));
  return graph;
}

// The AVI multiplexer that a capture graph builder adds to `graph`, writing `out`.
HRESULT AddAviMux(IGraphBuilder* graph, const std::string& out, CComPtr<IBaseFilter>& mux) {
  CComPtr<ICaptureGraphBuilder2> builder;
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                   reinterpret_cast<void**>(&builder));
  builder->SetFiltergraph(graph);
  const std::wstring wout(out.begin(), out.end());
  return builder->SetOutputFileName(&MEDIASUBTYPE_Avi, wout.c_str(), &mux, nullptr);
}

// `upstream` (a pin or a filter) -> a sample grabber calling a recording
// callback that expects width x height frames.
template <class Upstream>
HRESULT AddRecordingGrabber(IGraphBuilder* graph, Upstream upstream, int width, int height,
                            CComPtr<IBaseFilter>& grabberFilter, CComPtr<ISampleGrabber>& grabber,
                            CComPtr<RecordingCallback>& callback) {
  HRESULT hr =
      DShow::AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_SampleGrabber, L"Sample Gabber", &grabberFilter);
  if (FAILED(hr)) return hr;
  grabberFilter.QueryInterface(&grabber);
  if (FAILED(hr = DShow::ConnectFilters(graph, upstream, grabberFilter))) return hr;
  callback.Attach(new RecordingCallback(width, height));
  grabber->SetCallback(callback, 0);
  return S_OK;
}

class Devices : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override { dshow::ClearFakeDevices(); }
  void TearDown() override { dshow::ClearFakeDevices(); }

  static dshow::FakeDevice Device(const std::string& name, std::vector<long> inputs = {}) {
    dshow::FakeDevice d;
    d.name = name;
    d.formats = {{MEDIASUBTYPE_YUY2, 160, 120, 30}, {MEDIASUBTYPE_YUY2, 320, 240, 30}};
    d.inputs = std::move(inputs);
    return d;
  }

  // A device that draws Pattern in RGB24 at width x height.
  static void AddGenerator(int width, int height) {
    dshow::FakeDevice d = Device("Generator");
    d.formats = {{MEDIASUBTYPE_RGB24, width, height, 30}};
    d.generator = Pattern;
    dshow::AddFakeDevice(d);
  }

  // Capture pin -> grabber -> null renderer.
  HRESULT AddGrabber(IGraphBuilder* graph, IPin* capture, CComPtr<IBaseFilter>* grabberFilter,
                     CComPtr<ISampleGrabber>* grabber) {
    HRESULT hr = DShow::AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_SampleGrabber, L"Sample Gabber",
                                         &(*grabberFilter));
    if (FAILED(hr)) return hr;
    grabberFilter->QueryInterface(&*grabber);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    (*grabber)->SetMediaType(&mt);
    if (FAILED(hr = DShow::ConnectFilters(graph, capture, *grabberFilter))) return hr;
    CComPtr<IBaseFilter> renderer;
    DShow::AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_NullRenderer, L"Null", &renderer);
    return DShow::ConnectFilters(graph, static_cast<IBaseFilter*>(*grabberFilter), renderer);
  }

  // Generous: live frames arrive within a second, but a machine busy with
  // sanitizer builds can stall the streaming thread for several.
  static bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return WaitUntil(done, ms); }
};

TEST_F(Devices, NamesAreListedTruncatedAndBounded) {
  dshow::AddFakeDevice(Device("Cam A"));
  dshow::AddFakeDevice(Device("Camera with a long name"));
  dshow::AddFakeDevice(Device("Cam C"));
  char storage[20][100];
  char* names[20];
  for (int i = 0; i < 20; ++i) names[i] = storage[i];
  int count = -1;
  ASSERT_EQ(DShow::EnumVideoCaptureDevices(names, &count, 20, 100), S_OK);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(names[0], "Cam A");
  EXPECT_STREQ(names[1], "Camera with a long name");
  EXPECT_STREQ(names[2], "Cam C");
  ASSERT_EQ(DShow::EnumVideoCaptureDevices(names, &count, 20, 8), S_OK);
  EXPECT_STREQ(names[1], "Camera ");
  std::strcpy(names[2], "untouched");
  ASSERT_EQ(DShow::EnumVideoCaptureDevices(names, &count, 2, 100), S_OK);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(names[2], "untouched");

  CComPtr<IBaseFilter> filter;
  EXPECT_EQ(DShow::GetVideoCaptureDevice(&filter, 0), E_FAIL);
  EXPECT_EQ(DShow::GetVideoCaptureDevice(&filter, 4), E_FAIL);
  EXPECT_EQ(filter.p(), nullptr);
  ASSERT_EQ(DShow::GetVideoCaptureDevice(&filter, 1), S_OK);
  EXPECT_NE(filter.p(), nullptr);

  dshow::ClearFakeDevices();
  count = 5;
  EXPECT_EQ(DShow::EnumVideoCaptureDevices(names, &count, 20, 100), E_FAIL);
  EXPECT_EQ(count, 0);
}

TEST_F(Devices, LiveFramesFormatsAndCrossbarRouting) {
  dshow::AddFakeDevice(Device("Tuner card", {2 /* composite */, 3 /* S-Video */}));
  CComPtr<IGraphBuilder> graph = NewGraph();
  IBaseFilter* capture = nullptr;
  DShow::CCrossbar* crossbar = nullptr;
  int inputs = -1;
  ASSERT_EQ(DShow::BuildLiveUpstream(graph, 1, &capture, &crossbar, &inputs), S_OK);
  CComPtr<IBaseFilter> captureFilter;
  captureFilter.Attach(capture);
  std::unique_ptr<DShow::CCrossbar> routes(crossbar);
  ASSERT_NE(crossbar, nullptr);
  EXPECT_EQ(inputs, 2);
  char name[32];
  routes->GetInputName(1, name, sizeof(name));
  EXPECT_STREQ(name, "Video SVideo");

  CComPtr<IPin> pin;
  pin.Attach(DShow::FindCategoryPin(capture, PIN_CATEGORY_CAPTURE));
  ASSERT_NE(pin.p(), nullptr);
  CComPtr<IBaseFilter> grabberFilter;
  CComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(AddGrabber(graph, pin, std::addressof(grabberFilter), std::addressof(grabber)), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(grabber->GetConnectedMediaType(&mt), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth, 160);
  FreeMediaType(mt);

  CComPtr<RecordingCallback> callback;
  callback.Attach(new RecordingCallback(160, 120));
  grabber->SetCallback(callback, 0);
  CComPtr<IMediaControl> control;
  graph.QueryInterface(&control);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  ASSERT_TRUE(WaitFor([&] { return callback->Count() >= 3; }));
  EXPECT_GT(callback->Frames().back().red, 200);  // input 0: the red pattern
  EXPECT_EQ(callback->Frames().back().length, 480 * 120);

  ASSERT_EQ(routes->SetInputIndex(1), S_OK);
  ASSERT_TRUE(WaitFor([&] { return callback->Frames().back().green > 200; }));

  // A new format: stop, take the grabber off, set it, connect again.
  control->Stop();
  grabber->SetCallback(nullptr, 0);
  DShow::NukeDownstream(graph, captureFilter);
  CComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             reinterpret_cast<void**>(&builder)),
            S_OK);
  builder->SetFiltergraph(graph);
  CComPtr<IAMStreamConfig> config;
  EXPECT_TRUE(FAILED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, capture,
                                            IID_IAMStreamConfig, reinterpret_cast<void**>(&config))));
  ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture, IID_IAMStreamConfig,
                                   reinterpret_cast<void**>(&config)),
            S_OK);
  int count = 0, size = 0;
  config->GetNumberOfCapabilities(&count, &size);
  ASSERT_EQ(count, 2);
  AM_MEDIA_TYPE* caps = nullptr;
  VIDEO_STREAM_CONFIG_CAPS scc;
  ASSERT_EQ(config->GetStreamCaps(1, &caps, reinterpret_cast<BYTE*>(&scc)), S_OK);
  ASSERT_EQ(config->SetFormat(caps), S_OK);
  DeleteMediaType(caps);
  grabberFilter = nullptr;
  grabber = nullptr;
  ASSERT_EQ(AddGrabber(graph, pin, std::addressof(grabberFilter), std::addressof(grabber)), S_OK);
  ASSERT_EQ(grabber->GetConnectedMediaType(&mt), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth, 320);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biHeight, 240);
  FreeMediaType(mt);
  CComPtr<RecordingCallback> second;
  second.Attach(new RecordingCallback(320, 240));
  grabber->SetCallback(second, 0);
  control->Run();
  ASSERT_TRUE(WaitFor([&] { return second->Count() >= 2; }));
  EXPECT_EQ(second->Frames().back().length, 960 * 240);
  // The recording road sets 25 frames a second on the running device.
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->AvgTimePerFrame = 400000;
  EXPECT_EQ(config->SetFormat(current), S_OK);
  reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biWidth = 160;
  reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biHeight = 120;
  EXPECT_EQ(config->SetFormat(current), VFW_E_WRONG_STATE);  // not while connected and running
  DeleteMediaType(current);
  const int beforeRate = second->Count();
  EXPECT_TRUE(WaitFor([&] { return second->Count() >= beforeRate + 3; }));
  CComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture, IID_IAMDroppedFrames,
                                   reinterpret_cast<void**>(&dropped)),
            S_OK);
  long delivered = 0;
  dropped->GetNumNotDropped(&delivered);
  EXPECT_GT(delivered, 0);
  control->Stop();
  grabber->SetCallback(nullptr, 0);
}

TEST_F(Devices, BuildLiveUpstreamDropsAFailingCrossbar) {
  dshow::FakeDevice d = Device("Broken card");
  d.makeFilter = []() -> IBaseFilter* {
    auto* f = new dshow::testing::FakeFilter(L"Broken", 1, 1);
    f->Input(0)->SetCategory(PIN_CATEGORY_ANALOGVIDEOIN);  // but nothing feeds it
    return f;
  };
  dshow::AddFakeDevice(d);
  CComPtr<dshow::testing::FakeGraph> graph;
  graph.Attach(new dshow::testing::FakeGraph);
  IBaseFilter* capture = nullptr;
  DShow::CCrossbar* crossbar = reinterpret_cast<DShow::CCrossbar*>(0x1);
  int inputs = -1;
  ASSERT_EQ(DShow::BuildLiveUpstream(graph, 1, &capture, &crossbar, &inputs), S_OK);
  EXPECT_EQ(crossbar, nullptr);
  EXPECT_EQ(inputs, 0);
  EXPECT_TRUE(graph->Contains(capture));
  capture->Release();
  EXPECT_EQ(DShow::BuildLiveUpstream(graph, 2, &capture, &crossbar, &inputs), E_FAIL);
}

TEST(Compressors, EachConnectsToTheMultiplexer) {
  char storage[1000][260];
  static char* names[1000];
  for (int i = 0; i < 1000; ++i) names[i] = storage[i];
  int count = 0;
  ASSERT_EQ(DShow::EnumVideoCompressors(names, &count, 1000, 260), S_OK);
  ASSERT_GT(count, 0);
  bool jpeg = false;
  for (int i = 0; i < count; ++i) jpeg = jpeg || std::string(names[i]) == "JPEG image encoder";
  EXPECT_TRUE(jpeg);
  for (int i = 0; i < count; ++i) {
    CComPtr<IBaseFilter> compressor;
    ASSERT_EQ(DShow::GetCompressor(i, &compressor), S_OK) << names[i];
    CComPtr<IGraphBuilder> graph = NewGraph();
    CComPtr<IBaseFilter> mux;
    ASSERT_EQ(AddAviMux(graph, "/dev/null", mux), S_OK);
    ASSERT_EQ(graph->AddFilter(compressor, L"Compression Filter"), S_OK);
    EXPECT_EQ(DShow::ConnectFilters(graph, compressor, mux), S_OK) << names[i];
    CLSID clsid;
    compressor->GetClassID(&clsid);
    EXPECT_TRUE(DShow::FilterExistsReg(clsid)) << names[i];
  }
  CComPtr<IBaseFilter> past;
  EXPECT_EQ(DShow::GetCompressor(count, &past), E_FAIL);
  EXPECT_EQ(past.p(), nullptr);
  GUID clsid{};
  EXPECT_EQ(DShow::GetDMOClassId(DMOCATEGORY_VIDEO_ENCODER, "JPEG image encoder", clsid), S_OK);
  CComPtr<IBaseFilter> byId;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&byId)),
            S_OK);
  EXPECT_EQ(DShow::GetDMOClassId(DMOCATEGORY_VIDEO_ENCODER, "jpeg image encoder", clsid), E_FAIL);
}

// Source clip -> grabber -> Inf Tee: output 1 to a null renderer, the next
// output (through a compressor or the colour converter) to the multiplexer.
struct RecordCase {
  const char* name;
  const char* compressor;  // long name, or null for raw
  int tolerance;
};

class Recording : public ::testing::TestWithParam<RecordCase> {};

TEST_P(Recording, FileRoadRecordsEveryFrameUpright) {
  const RecordCase& c = GetParam();
  std::string why;
  const std::string clip = TempPath("clip.avi");
  if (!MakeClip(clip, 33, 20, 10, 25, nullptr, "avimux", &why)) MEDIA_FIXTURE_MISSING(why);
  const std::string out = TempPath("recorded.avi");
  {
    CComPtr<IGraphBuilder> graph = NewGraph();
    CComPtr<IBaseFilter> source, grabberFilter, tee, renderer, middle;
    const std::wstring wide(clip.begin(), clip.end());
    ASSERT_EQ(graph->AddSourceFilter(wide.c_str(), L"Source", &source), S_OK);
    CComPtr<ISampleGrabber> grabber;
    CComPtr<RecordingCallback> callback;
    ASSERT_EQ(AddRecordingGrabber(graph, source.p(), 33, 20, grabberFilter, grabber, callback), S_OK);
    callback->paintGreen = true;
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_InfTee, L"Inf Tee", &tee), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, grabberFilter, tee), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_NullRenderer, L"Renderer", &renderer), S_OK);
    CComPtr<IPin> first;
    ASSERT_EQ(DShow::GetPin(tee, PINDIR_OUTPUT, &first, 1), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, first, renderer), S_OK);
    CComPtr<IPin> recordingPin;
    ASSERT_EQ(DShow::GetUnconnectedPin(tee, PINDIR_OUTPUT, &recordingPin), S_OK);

    CComPtr<IBaseFilter> mux;
    ASSERT_EQ(AddAviMux(graph, out, mux), S_OK);
    if (c.compressor) {
      GUID clsid{};
      ASSERT_EQ(DShow::GetDMOClassId(DMOCATEGORY_VIDEO_ENCODER, c.compressor, clsid), S_OK);
      ASSERT_EQ(DShow::AddFilterByCLSID(graph, clsid, L"Compression Filter", &middle), S_OK);
    } else {
      ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_Colour, L"Null Colour", &middle), S_OK);
    }
    ASSERT_EQ(DShow::ConnectFilters(graph, recordingPin, middle), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, middle, mux), S_OK);

    CComPtr<IMediaFilter> clock;
    graph.QueryInterface(&clock);
    clock->SetSyncSource(nullptr);
    CComPtr<IMediaControl> control;
    CComPtr<IMediaEventEx> events;
    graph.QueryInterface(&control);
    graph.QueryInterface(&events);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(events, EC_COMPLETE, 20000));
    control->Stop();
    DShow::NukeDownstream(graph, recordingPin);
    grabber->SetCallback(nullptr, 0);
  }
  const auto frames = ReadBack(out, &why);
  ASSERT_EQ(frames.size(), 10u) << why;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const DecodedFrame& f = frames[k];
    ASSERT_EQ(f.width, 33);
    ASSERT_EQ(f.height, 20);
    EXPECT_NEAR(f.At(16, 0, 2), 255, c.tolerance) << "top row red, frame " << k;
    EXPECT_NEAR(f.At(16, 10, 2), 0, c.tolerance) << "frame " << k;
    EXPECT_NEAR(f.At(16, 10, 1), 200, c.tolerance) << "written by the callback, frame " << k;
    EXPECT_NEAR(f.At(16, 10, 0), 20 * static_cast<int>(k), c.tolerance) << "frame " << k;
  }
  std::remove(out.c_str());
  std::remove(clip.c_str());
}

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Compressors, Recording,
                         ::testing::Values(RecordCase{"raw", nullptr, 2}, RecordCase{"jpeg", "JPEG image encoder", 40}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Devices, LiveRecordingHeldOpenedAndFinishedWhilePreviewRunsOn) {
  AddGenerator(64, 48);
  const std::string out = TempPath("live.avi");
  int recordedCalls = 0;
  {
    CComPtr<IGraphBuilder> graph = NewGraph();
    IBaseFilter* rawCapture = nullptr;
    DShow::CCrossbar* crossbar = nullptr;
    int inputs = 0;
    ASSERT_EQ(DShow::BuildLiveUpstream(graph, 1, &rawCapture, &crossbar, &inputs), S_OK);
    CComPtr<IBaseFilter> capture;
    capture.Attach(rawCapture);
    CComPtr<IPin> pin;
    pin.Attach(DShow::FindCategoryPin(capture, PIN_CATEGORY_CAPTURE));
    CComPtr<IBaseFilter> grabberFilter, tee, renderer, colour;
    CComPtr<ISampleGrabber> grabber;
    CComPtr<RecordingCallback> callback;
    ASSERT_EQ(AddRecordingGrabber(graph, pin.p(), 64, 48, grabberFilter, grabber, callback), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_SmartTee, L"Smart Tee", &tee), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, grabberFilter, tee), S_OK);
    CComPtr<IPin> recordingPin, previewPin;
    ASSERT_EQ(DShow::GetPin(tee, PINDIR_OUTPUT, &recordingPin, 1), S_OK);
    ASSERT_EQ(DShow::GetPin(tee, PINDIR_OUTPUT, &previewPin, 2), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_NullRenderer, L"Renderer", &renderer), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, previewPin, renderer), S_OK);

    CComPtr<IBaseFilter> mux;
    ASSERT_EQ(AddAviMux(graph, out, mux), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_Colour, L"Null Colour", &colour), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, recordingPin, colour), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, colour, mux), S_OK);
    CComPtr<IAMStreamControl> stream;
    ASSERT_EQ(recordingPin.QueryInterface(&stream), S_OK);

    CComPtr<IMediaControl> control;
    graph.QueryInterface(&control);
    ASSERT_EQ(stream->StopAt(nullptr, FALSE, 0), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitFor([&] { return callback->Count() >= 5; }));
    const int opened = callback->Count();
    ASSERT_EQ(stream->StartAt(nullptr, 0), S_OK);
    ASSERT_TRUE(WaitFor([&] { return callback->Count() >= opened + 10; }));
    ASSERT_EQ(stream->StopAt(nullptr, FALSE, 0), S_OK);
    recordedCalls = callback->Count() - opened;
    control->Stop();
    DShow::NukeDownstream(graph, recordingPin);
    // The preview runs on once the recording branch is gone.
    const int before = callback->Count();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_TRUE(WaitFor([&] { return callback->Count() >= before + 5; }));
    control->Stop();
    grabber->SetCallback(nullptr, 0);
  }
  std::string why;
  const auto frames = ReadBack(out, &why);
  ASSERT_GE(static_cast<int>(frames.size()), 5) << why;
  EXPECT_LE(static_cast<int>(frames.size()), recordedCalls + 2);
  for (const DecodedFrame& f : frames) {
    ASSERT_EQ(f.width, 64);
    ASSERT_EQ(f.height, 48);
    EXPECT_GT(f.At(10, 0, 2), 200);  // upright: red on top
    EXPECT_LT(f.At(10, 47, 2), 50);
  }
  std::remove(out.c_str());
}

TEST_F(Devices, ReleasingARecordingGraphFinishesTheFile) {
  AddGenerator(32, 24);
  const std::string out = TempPath("released.avi");
  {
    CComPtr<IGraphBuilder> graph = NewGraph();
    CComPtr<IBaseFilter> capture, colour, renderer;
    ASSERT_EQ(DShow::GetVideoCaptureDevice(&capture, 1), S_OK);
    graph->AddFilter(capture, L"Capture Source");
    CComPtr<IBaseFilter> grabberFilter;
    CComPtr<ISampleGrabber> grabber;
    CComPtr<IPin> pin;
    pin.Attach(DShow::FindCategoryPin(capture, PIN_CATEGORY_CAPTURE));
    CComPtr<RecordingCallback> callback;
    ASSERT_EQ(AddRecordingGrabber(graph, pin.p(), 32, 24, grabberFilter, grabber, callback), S_OK);
    CComPtr<IBaseFilter> mux;
    ASSERT_EQ(AddAviMux(graph, out, mux), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_Colour, L"Null Colour", &colour), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, grabberFilter, colour), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, colour, mux), S_OK);
    CComPtr<IMediaControl> control;
    graph.QueryInterface(&control);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitFor([&] { return callback->Count() >= 5; }));
    // No Stop: the last reference goes while the graph runs.
  }
  std::string why;
  const auto frames = ReadBack(out, &why);
  EXPECT_GE(frames.size(), 3u) << why;
  std::remove(out.c_str());
}

TEST(RunningObjectTable, GraphRegistersUnderItsName) {
  CComPtr<IGraphBuilder> graph = NewGraph();
  DWORD cookie = 0;
  ASSERT_EQ(DShow::AddToRot(graph, &cookie), S_OK);
  char expected[64];
  std::snprintf(expected, sizeof(expected), "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(static_cast<IUnknown*>(graph.p())) & 0xFFFFFFFFu),
                static_cast<unsigned>(::getpid()));
  auto names = dshow::RunningObjectNames();
  EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end());
  DShow::RemoveFromRot(cookie);
  names = dshow::RunningObjectNames();
  EXPECT_EQ(std::find(names.begin(), names.end(), expected), names.end());
  EXPECT_TRUE(DShow::FilterExistsReg(CLSID_FilterGraph));
}

TEST(GraphFiles, RoundTripAndForeignFiles) {
  std::string why;
  const std::string clip = TempPath("clip.avi");
  if (!MakeClip(clip, 33, 20, 4, 25, nullptr, "avimux", &why)) MEDIA_FIXTURE_MISSING(why);
  const std::string file = TempPath("graph.grf");
  {
    CComPtr<IGraphBuilder> graph = NewGraph();
    CComPtr<IBaseFilter> source, grabber, renderer;
    const std::wstring wide(clip.begin(), clip.end());
    ASSERT_EQ(graph->AddSourceFilter(wide.c_str(), L"Source\tone", &source), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_SampleGrabber, L"Sample Gabber", &grabber), S_OK);
    ASSERT_EQ(DShow::AddFilterByCLSID(graph, CLSID_NullRenderer, L"Renderer", &renderer), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, source, grabber), S_OK);
    ASSERT_EQ(DShow::ConnectFilters(graph, grabber, renderer), S_OK);
    ASSERT_EQ(DShow::SaveGraphFile(graph, file.c_str()), S_OK);
  }
  CComPtr<IGraphBuilder> loaded;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                   reinterpret_cast<void**>(&loaded));
  ASSERT_EQ(DShow::LoadGraphFile(loaded, file.c_str()), S_OK);
  CComPtr<IBaseFilter> source, grabber;
  ASSERT_EQ(loaded->FindFilterByName(L"Source\tone", &source), S_OK);
  ASSERT_EQ(loaded->FindFilterByName(L"Sample Gabber", &grabber), S_OK);
  CComPtr<IBaseFilter> next;
  ASSERT_EQ(DShow::GetNextFilter(source, PINDIR_OUTPUT, &next), S_OK);
  EXPECT_EQ(next.p(), grabber.p());
  CComPtr<ISampleGrabber> sg;
  grabber.QueryInterface(&sg);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(sg->GetConnectedMediaType(&mt), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth, 33);
  FreeMediaType(mt);

  EXPECT_EQ(DShow::LoadGraphFile(loaded, clip.c_str()), E_FAIL);
  EXPECT_EQ(DShow::LoadGraphFile(loaded, (file + ".missing").c_str()), E_FAIL);
  std::remove(file.c_str());
  std::remove(clip.c_str());
}

}  // namespace
