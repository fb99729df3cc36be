// The mixed graph: its live road (always the first device, the capture
// pin's page before connecting, no clock) and its file road, on real
// windows of the window stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "com/com.h"
#include "dshow/devices.h"
#include "dshow/property_frames.h"
#include "media_fixtures.h"
#include "quorl_dshow/dshow_graph.h"
#include "win/controls.h"
#include "win/dialog.h"
#include "win/window.h"

namespace {

std::atomic<int> calls{0}, lastWidth{0}, lastBlue{-1};

long Record(unsigned char* data, int width, int height, int stride) {
  lastWidth = width;
  lastBlue = data[static_cast<std::size_t>(std::abs(height) / 2) * stride + 3 * (width / 2)];
  ++calls;
  return 0;
}

struct Mixed : DShow::CDShowMixedGraph {
  using CDShowMixedGraph::CDShowMixedGraph;
  bool HasClock() const {
    CComPtr<IMediaFilter> filter;
    filterGraph_.QueryInterface(&filter);
    CComPtr<IReferenceClock> clock;
    filter->GetSyncSource(&clock);
    return clock.p() != nullptr;
  }
  DWORD Capabilities() const { return seekingCapabilities_; }
  int CrossbarInputs() const { return crossbarInputCount_; }
};

class MixedGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    dshow::ClearFakeDevices();
    dshow::InstallPropertyFrames();
    ASSERT_TRUE(window.CreateEx(0, nullptr, "Video", WS_POPUP, CRect(0, 0, 64, 48), nullptr, 0));
    calls = 0;
    lastWidth = 0;
  }
  void TearDown() override {
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
    window.DestroyWindow();
  }
  CWnd window;
};

TEST_F(MixedGraph, LiveRoadOpensTheFirstDeviceAfterItsPinPageAndRunsWithoutAClock) {
  dshow::FakeDevice first;
  first.name = "First";
  first.formats = {{MEDIASUBTYPE_RGB24, 32, 24, 30}, {MEDIASUBTYPE_RGB24, 64, 48, 30}};
  first.inputs = {2, 3};
  dshow::AddFakeDevice(first);
  dshow::FakeDevice second;
  second.name = "Second";
  second.formats = {{MEDIASUBTYPE_RGB24, 48, 36, 30}};
  dshow::AddFakeDevice(second);
  dshow::AddFakeDevice(second);

  std::string caption;
  bool pageShown = false;
  win::SetNextModalHook([&](CDialog& dlg) {
    pageShown = true;
    CString text;
    dlg.GetWindowText(text);
    caption = static_cast<const char*>(text);
    dlg.GetDlgItem(dshow::kPropertyFrameFormats)->SendMessage(CB_SETCURSEL, 1);
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  Mixed graph(window);
  ASSERT_EQ(graph.ConnectToLiveSource(3), S_OK);
  EXPECT_TRUE(pageShown);
  EXPECT_EQ(caption, "Capture Pin Properties");
  EXPECT_EQ(graph.CrossbarInputs(), 2) << "the first device has the crossbar";
  EXPECT_FALSE(graph.HasClock());
  ASSERT_EQ(graph.SetCallback(Record), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(dshow_test::WaitUntil([] { return calls >= 3; }, 30000));
  graph.Stop();
  EXPECT_EQ(lastWidth, 64) << "the format chosen on the page";
}

TEST_F(MixedGraph, FileRoadStepsThroughTheClip) {
  std::string why;
  const std::string clip = dshow_test::TempPath(std::to_string(::getpid()) + "_clip.avi");
  ASSERT_TRUE(dshow_test::MakeClip(clip, 33, 20, 10, 25, nullptr, "avimux", &why)) << why;
  {
    Mixed graph(window);
    ASSERT_EQ(graph.OpenMediaFile(clip.c_str()), S_OK);
    EXPECT_NE(graph.Capabilities(), 0u);
    ASSERT_EQ(graph.SetCallback(Record), S_OK);
    const struct {
      HRESULT (Mixed::*step)();
      int frame;
    } steps[] = {{&Mixed::FwEnd, 9}, {&Mixed::RwStart, 0}, {&Mixed::FwStep, 1}, {&Mixed::RwStep, 0}};
    for (const auto& s : steps) {
      const int before = calls;
      EXPECT_TRUE(SUCCEEDED((graph.*s.step)()));
      EXPECT_TRUE(dshow_test::WaitUntil([&] { return calls > before && lastBlue == 20 * s.frame; }, 10000))
          << "wanted frame " << s.frame << ", saw blue " << lastBlue;
    }
  }
  std::remove(clip.c_str());
}

}  // namespace
