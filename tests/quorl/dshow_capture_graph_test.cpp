// The capture graph on fake devices and real windows of the window
// stand-in: capture format, connection and delivery, dropped frames, the
// capture filter's pages, and copies sharing one running graph.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "com/com.h"
#include "dshow/devices.h"
#include "dshow/platform.h"
#include "dshow/property_frames.h"
#include "media_fixtures.h"
#include "quorl_dshow/capture_graph.h"
#include "quorl_dshow/graph_functions.h"
#include "win/dialog.h"
#include "win/window.h"

using dshow_test::WaitUntil;

namespace {

std::atomic<int> calls{0}, lastWidth{0}, lastHeight{0}, lastStride{0};
std::atomic<bool> firstRowRed{false}, lastRowRed{false};

long Record(unsigned char* data, int width, int height, int stride) {
  lastWidth = width;
  lastHeight = height;
  lastStride = stride;
  firstRowRed = data[2] > 128;
  lastRowRed = data[static_cast<std::size_t>(std::abs(height) - 1) * stride + 2] > 128;
  ++calls;
  return 0;
}

// The device's frames: blue 40, the top row red.
void TopRowRed(long, BYTE* bgr, int width, int height, int stride) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* p = bgr + static_cast<std::size_t>(y) * stride + 3 * x;
      p[0] = 40;
      p[1] = 0;
      p[2] = y == 0 ? 255 : 0;
    }
}

// The graph a new running-object-table entry holds, as a graph viewer
// reaches it; `before` is the table's names before the graph was made.
CComPtr<IFilterGraph> NewGraph(const std::vector<std::string>& before) {
  CComPtr<IFilterGraph> graph;
  for (const std::string& name : dshow::RunningObjectNames())
    if (std::find(before.begin(), before.end(), name) == before.end())
      if (CComPtr<IUnknown> object = dshow::RunningObject(name))
        object->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(&graph));
  return graph;
}

int CountNamed(IFilterGraph* graph, const std::wstring& prefix) {
  CComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return -1;
  int count = 0;
  CComPtr<IBaseFilter> filter;
  ULONG got = 0;
  while (filters->Next(1, &filter, &got) == S_OK && got == 1) {
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    if (std::wstring(info.achName).rfind(prefix, 0) == 0) ++count;
    if (info.pGraph) info.pGraph->Release();
    filter = nullptr;
  }
  return count;
}

// Width and height of the capture pin's current format.
std::pair<int, int> PinFormat(IFilterGraph* graph) {
  CComPtr<IBaseFilter> capture;
  if (FAILED(graph->FindFilterByName(L"Capture Source", &capture))) return {0, 0};
  CComPtr<IPin> pin;
  pin.Attach(DShow::FindCategoryPin(capture, PIN_CATEGORY_CAPTURE));
  CComPtr<IAMStreamConfig> config;
  if (!pin || FAILED(pin.QueryInterface(&config))) return {0, 0};
  AM_MEDIA_TYPE* type = nullptr;
  if (FAILED(config->GetFormat(&type)) || !type) return {0, 0};
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  const std::pair<int, int> size{vih->bmiHeader.biWidth, std::abs(vih->bmiHeader.biHeight)};
  DeleteMediaType(type);
  return size;
}

class CaptureGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    dshow::ClearFakeDevices();
    dshow::InstallPropertyFrames();
    ASSERT_TRUE(window.CreateEx(0, nullptr, "Video", WS_POPUP, CRect(0, 0, 64, 48), nullptr, 0));
    calls = 0;
    lastWidth = lastHeight = lastStride = 0;
  }
  void TearDown() override {
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
    window.DestroyWindow();
  }

  static dshow::FakeDevice Device(const std::string& name) {
    dshow::FakeDevice d;
    d.name = name;
    d.formats = {{MEDIASUBTYPE_RGB24, 64, 48, 30}, {MEDIASUBTYPE_RGB24, 320, 240, 30}};
    d.generator = TopRowRed;
    return d;
  }

  CWnd window;
};

TEST_F(CaptureGraph, TheFormatSetBeforeConnectingHoldsOnOneCaptureSource) {
  dshow::AddFakeDevice(Device("Camera"));
  const std::vector<std::string> before = dshow::RunningObjectNames();
  DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
  CComPtr<IFilterGraph> filters = NewGraph(before);
  ASSERT_NE(filters.p(), nullptr);
  EXPECT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 320, 240, 15.0f), E_FAIL) << "no capture filter yet";
  EXPECT_EQ(graph.SetCallback(Record), E_FAIL) << "no sampler before connecting";

  ASSERT_EQ(graph.LiveSource(1), S_OK);
  ASSERT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 320, 240, 15.0f), S_OK);
  EXPECT_EQ(PinFormat(filters), std::make_pair(320, 240));
  // A null subtype returns to the default; a rate of 0 is refused before
  // the device is asked.
  ASSERT_EQ(graph.SetVideoFormat(nullptr, 0, 0, 0.0f), S_OK);
  EXPECT_EQ(PinFormat(filters), std::make_pair(64, 48));
  ASSERT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 320, 240, 15.0f), S_OK);
  for (float fps : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()})
    EXPECT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 64, 48, fps), E_INVALIDARG) << fps;
  EXPECT_EQ(PinFormat(filters), std::make_pair(320, 240));

  ASSERT_EQ(graph.ConnectToLiveSource(1), S_OK);
  EXPECT_EQ(CountNamed(filters, L"Capture Source"), 1) << "the device was opened twice";
  EXPECT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 64, 48, 30.0f), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(graph.SetVideoFormat(nullptr, 0, 0, 0.0f), VFW_E_ALREADY_CONNECTED);
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([] { return calls >= 3; }, 30000));
  graph.Stop();
  EXPECT_EQ(lastWidth, 320);
  EXPECT_EQ(lastHeight, 240);
  EXPECT_EQ(lastStride, (3 * 320 + 3) & ~3);
  EXPECT_FALSE(firstRowRed) << "frames arrive bottom-up";
  EXPECT_TRUE(lastRowRed);
}

TEST_F(CaptureGraph, ReplacingTheDeviceTakesTheFirstOutAndFreesItsCrossbar) {
  dshow::FakeDevice tuner = Device("Tuner");
  tuner.inputs = {2, 3};
  dshow::AddFakeDevice(tuner);
  dshow::AddFakeDevice(Device("Second"));
  const std::vector<std::string> before = dshow::RunningObjectNames();
  DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
  CComPtr<IFilterGraph> filters = NewGraph(before);
  ASSERT_EQ(graph.LiveSource(1), S_OK);
  ASSERT_EQ(graph.LiveSource(1), S_OK);
  EXPECT_EQ(CountNamed(filters, L"Capture Source"), 1);
  // Another index makes a new device (ASan reports the crossbar leaked or
  // freed twice).
  ASSERT_EQ(graph.ConnectToLiveSource(2), S_OK);
  EXPECT_EQ(CountNamed(filters, L"Capture Source"), 1);
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([] { return calls >= 2; }, 30000));
}

TEST_F(CaptureGraph, MissingDevicesAndWindowsAreReported) {
  dshow::AddFakeDevice(Device("Only"));
  for (int index : {2, 0, -1}) {
    DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
    EXPECT_TRUE(FAILED(graph.ConnectToLiveSource(index))) << index;
    EXPECT_EQ(graph.SetCallback(Record), E_FAIL);
    long dropped = -7, notDropped = -7, size = -7;
    EXPECT_EQ(graph.GetDroppedFrames(&dropped, &notDropped, &size), E_FAIL) << "no capture filter";
    EXPECT_EQ(dropped, -7);
    EXPECT_EQ(graph.ShowCaptureFilterProperties(), E_FAIL);
  }
  // Without a window: no renderer and no media control.
  DShow::CDShowCaptureGraph bare;
  EXPECT_TRUE(FAILED(bare.ConnectToLiveSource(1))) << "nothing to connect the grabber to";
  for (HRESULT hr : {bare.Run(), bare.Pause(), bare.Stop(), bare.SetVideoPosition(nullptr, nullptr),
                     bare.RepaintVideo(window.GetSafeHwnd(), nullptr)})
    EXPECT_EQ(hr, E_FAIL);
}

TEST_F(CaptureGraph, VideoForWindowsDevicesKeepTheirFormat) {
  dshow::FakeDevice vfw = Device("Old driver");
  vfw.vfwDialogs = true;
  dshow::AddFakeDevice(vfw);
  const std::vector<std::string> before = dshow::RunningObjectNames();
  DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
  CComPtr<IFilterGraph> filters = NewGraph(before);
  ASSERT_EQ(graph.LiveSource(1), S_OK);
  EXPECT_EQ(graph.SetVideoFormat(&MEDIASUBTYPE_RGB24, 320, 240, 15.0f), S_FALSE);
  EXPECT_EQ(PinFormat(filters), std::make_pair(64, 48));
}

TEST_F(CaptureGraph, DroppedFramesAreReportedWhileRunningOrRefusedUntouched) {
  dshow::AddFakeDevice(Device("Counting"));
  dshow::FakeDevice silent = Device("Silent");
  silent.droppedFrames = false;
  dshow::AddFakeDevice(silent);

  DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
  ASSERT_EQ(graph.ConnectToLiveSource(1), S_OK);
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(WaitUntil([] { return calls >= 3; }, 30000));
  long dropped = -1, notDropped = -1, size = -1;
  ASSERT_EQ(graph.GetDroppedFrames(&dropped, &notDropped, &size), S_OK);
  EXPECT_GE(dropped, 0);
  EXPECT_GT(notDropped, 0);
  EXPECT_GT(size, 0);
  // A null output stops the calls at that one.
  notDropped = -1;
  EXPECT_EQ(graph.GetDroppedFrames(nullptr, &notDropped, &size), E_POINTER);
  EXPECT_EQ(notDropped, -1);

  DShow::CDShowCaptureGraph other(window.GetSafeHwnd());
  ASSERT_EQ(other.ConnectToLiveSource(2), S_OK);
  dropped = notDropped = size = -7;
  EXPECT_EQ(other.GetDroppedFrames(&dropped, &notDropped, &size), E_FAIL);
  EXPECT_EQ(dropped, -7);
  EXPECT_EQ(notDropped, -7);
  EXPECT_EQ(size, -7);
}

TEST_F(CaptureGraph, FilterPagesAreOwnedByTheGraphsWindow) {
  dshow::FakeDevice d = Device("Camera");
  d.controls = {"Brightness", "Contrast"};
  dshow::AddFakeDevice(d);
  DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
  ASSERT_EQ(graph.LiveSource(1), S_OK);
  std::string caption;
  HWND owner = nullptr;
  bool shown = false;
  win::SetNextModalHook([&](CDialog& dlg) {
    shown = true;
    CString text;
    dlg.GetWindowText(text);
    caption = static_cast<const char*>(text);
    if (CWnd* parent = dlg.GetParent()) owner = parent->GetSafeHwnd();
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  EXPECT_TRUE(SUCCEEDED(graph.ShowCaptureFilterProperties()));
  EXPECT_TRUE(shown);
  EXPECT_EQ(caption, "Capture Filter Property Pages");
  EXPECT_EQ(owner, window.GetSafeHwnd());
}

TEST_F(CaptureGraph, CopiesShareTheRunningGraphAndTheLastEndsItOnce) {
  dshow::FakeDevice tuner = Device("Tuner");
  tuner.inputs = {2, 3};
  dshow::AddFakeDevice(tuner);
  for (bool originalFirst : {true, false}) {
    SCOPED_TRACE(originalFirst ? "original first" : "copy first");
    calls = 0;
    const int com = CoInitializeCountForThread();
    const std::size_t entries = dshow::RunningObjectNames().size();
    std::optional<DShow::CDShowCaptureGraph> original(std::in_place, window.GetSafeHwnd());
    ASSERT_EQ(original->ConnectToLiveSource(1), S_OK);
    ASSERT_EQ(original->SetCallback(Record), S_OK);
    ASSERT_TRUE(SUCCEEDED(original->Run()));
    ASSERT_TRUE(WaitUntil([] { return calls >= 2; }, 30000));
    std::optional<DShow::CDShowCaptureGraph> copy(std::in_place, *original);
    EXPECT_EQ(CoInitializeCountForThread(), com + 2) << "a copy joins COM";
    DShow::CDShowCaptureGraph assigned(window.GetSafeHwnd());
    assigned = *copy;
    EXPECT_EQ(dshow::RunningObjectNames().size(), entries + 1) << "the replaced graph's entry is revoked";
    (originalFirst ? original : copy).reset();
    // Every destructor stops the shared graph; a survivor runs it again.
    ASSERT_TRUE(SUCCEEDED(assigned.Run()));
    const int afterFirst = calls;
    ASSERT_TRUE(WaitUntil([&] { return calls >= afterFirst + 2; }, 30000)) << "the survivor runs again";
    (originalFirst ? copy : original).reset();
    EXPECT_EQ(dshow::RunningObjectNames().size(), entries + 1);
    assigned = DShow::CDShowCaptureGraph();
    // The last share went while frames flowed: the entry revoked once, no
    // callback afterwards (ASan: crossbar and sampler freed once, after the
    // grabber), COM even.
    const int afterLast = calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(calls, afterLast);
    EXPECT_EQ(dshow::RunningObjectNames().size(), entries + 1) << "only the bare graph's entry is left";
  }
}

TEST_F(CaptureGraph, DestructionBalancesCom) {
  dshow::AddFakeDevice(Device("Camera"));
  const int com = CoInitializeCountForThread();
  {
    DShow::CDShowCaptureGraph graph(window.GetSafeHwnd());
    ASSERT_EQ(graph.ConnectToLiveSource(1), S_OK);
    ASSERT_EQ(graph.SetCallback(Record), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(WaitUntil([] { return calls >= 2; }, 30000));
    DShow::CDShowCaptureGraph copy(graph);
    DShow::CDShowCaptureGraph assigned;
    assigned = copy;
  }
  EXPECT_EQ(CoInitializeCountForThread(), com);
}

}  // namespace
