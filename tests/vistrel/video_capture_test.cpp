// The workbench's capture graph on fake devices and generated clips, with
// an offscreen owner window: opening, the state machine, recording and its
// failures, the texts, pin pages and teardown.
#include "video_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "dshow/platform.h"
#include "dshow/property_frames.h"
#include "dshow/testing/fakes.h"
#include "quorl_dshow/graph_functions.h"
#include <opencv2/core/core_c.h>
#include "video_test_support.h"
#include "win/dialog.h"
#include "win/prompts.h"

using namespace video_test;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

class VideoCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    dshow::ClearFakeDevices();
    dshow::InstallPropertyFrames();
    ASSERT_TRUE(owner.CreateEx(0, nullptr, "Video", WS_POPUP, CRect(0, 0, 64, 48), nullptr, 0));
  }
  void TearDown() override {
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
    dshow::SetCompressorsHidden(false);
    owner.DestroyWindow();
    for (const std::string& f : files) std::remove(f.c_str());
  }
  std::string Temp(const std::string& name) {
    files.push_back(dshow_test::TempPath(std::to_string(::getpid()) + "_" + name));
    std::remove(files.back().c_str());
    return files.back();
  }
  // Frames the device makes from now on reach the sampler.
  bool Flows(const Pattern& p, long more = 3) {
    const long start = p.made->load();
    return WaitFor([&] { return p.made->load() >= start + more; }, 20000);
  }
  bool Still(const Pattern& p) {
    const long start = p.made->load();
    Sleep(150);
    return p.made->load() == start;
  }
  static bool HasClock(CVideoCapture& c) {
    CComPtr<IMediaFilter> filter;
    c.GetFilterGraph()->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter));
    CComPtr<IReferenceClock> clock;
    filter->GetSyncSource(&clock);
    return clock.p() != nullptr;
  }

  CWnd owner;
  win::ScriptedPrompts prompts;
  std::vector<std::string> files;
};

// ------------------------------------------------------------------ opening

TEST_F(VideoCaptureTest, OpeningPicksCapturePreviewOrFirstPinAndFailsCleanly) {
  using Output = dshow::FakeDevice::Output;
  struct Case {
    const char* name;
    Output output;
    HRESULT result;
    const wchar_t* pinUsed;  // the device pin feeding the grabber
  } const cases[] = {
      {"capture", Output::Capture, S_OK, L"Capture"},
      {"preview", Output::PreviewOnly, S_OK, L"Preview"},
      {"untagged", Output::Untagged, S_OK, L"Capture"},
      {"none", Output::None, E_FAIL, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dshow::ClearFakeDevices();
    Pattern pattern;
    dshow::FakeDevice d = Device(c.name, pattern);
    d.output = c.output;
    dshow::AddFakeDevice(d);
    CVideoCapture capture(owner.m_hWnd);
    EXPECT_EQ(capture.OpenDevice(1), c.result);
    if (!c.pinUsed) {
      EXPECT_EQ(capture.GetState(), 0);
      EXPECT_TRUE(Still(pattern));
      continue;
    }
    EXPECT_EQ(capture.GetState(), 1);
    EXPECT_TRUE(Flows(pattern));
    CComPtr<IBaseFilter> grabber;
    ASSERT_EQ(capture.GetFilterGraph()->FindFilterByName(L"Sample Gabber", &grabber), S_OK);
    CComPtr<IPin> in, feeding;
    DShow::GetPin(grabber, PINDIR_INPUT, &in, 1);
    ASSERT_EQ(in->ConnectedTo(&feeding), S_OK);
    PIN_INFO info{};
    feeding->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    EXPECT_STREQ(info.achName, c.pinUsed);
    EXPECT_TRUE(HasFilter(capture.GetFilterGraph(), L"Smart Tee"));
  }
}

TEST_F(VideoCaptureTest, BadSourcesFailWithNothingRunning) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  std::string garbage = Temp("garbage.avi");
  {
    FILE* f = std::fopen(garbage.c_str(), "wb");
    std::fputs("not a video at all, only words", f);
    std::fclose(f);
  }
  {
    CVideoCapture capture(owner.m_hWnd);
    EXPECT_TRUE(FAILED(capture.OpenDevice(2))) << "past the last device";
    EXPECT_EQ(capture.GetState(), 0);
    EXPECT_EQ(capture.GetSourceKind(), 0);
  }
  {
    CVideoCapture capture(owner.m_hWnd);
    EXPECT_EQ(capture.OpenFile(Temp("missing.avi").c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(capture.GetState(), 0);
    EXPECT_EQ(capture.Run(), E_FAIL);
  }
  {
    CVideoCapture capture(owner.m_hWnd);
    EXPECT_TRUE(FAILED(capture.OpenFile(garbage.c_str())));
    EXPECT_EQ(capture.GetState(), 0);
    EXPECT_EQ(capture.GetInfoText(), "No source information");
  }
  EXPECT_TRUE(Still(pattern));
  EXPECT_TRUE(dshow::RunningObjectNames().empty()) << "each object left the table";
}

// ------------------------------------------------------------ state machine

TEST_F(VideoCaptureTest, StateMachineOfALiveSource) {
  enum Op { kRun, kPause, kStop, kRecord };
  struct Case {
    const char* name;
    std::vector<Op> reach;
    Op op;
    int state;
    HRESULT result;  // S_OK: any success
    bool flows;
    bool recordingBranch;
  } const cases[] = {
      {"run while running", {}, kRun, 1, E_FAIL, true, false},
      {"stop while running", {}, kStop, 2, S_OK, false, false},
      {"run when stopped", {kStop}, kRun, 1, S_OK, true, false},
      {"stop when stopped", {kStop}, kStop, 2, E_FAIL, false, false},
      {"pause when running", {}, kPause, 3, S_OK, false, false},
      {"run when paused", {kPause}, kRun, 1, S_OK, true, false},
      {"stop when paused", {kPause}, kStop, 2, S_OK, false, false},
      {"pause when stopped", {kStop}, kPause, 3, S_OK, false, false},
      {"run when prepared", {kRecord}, kRun, 4, E_FAIL, true, true},
      {"stop when prepared", {kRecord}, kStop, 1, E_FAIL, true, false},
      {"pause when prepared", {kRecord}, kPause, 1, E_FAIL, true, false},
      {"run when recording", {kRecord, kRun}, kRun, 4, E_FAIL, true, true},
      {"stop when recording", {kRecord, kRun}, kStop, 1, E_FAIL, true, false},
      {"pause when recording", {kRecord, kRun}, kPause, 1, E_FAIL, true, false},
  };
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = Temp("states.avi");
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    auto apply = [&](Op op) -> HRESULT {
      switch (op) {
        case kRun: return capture.Run();
        case kPause: return capture.Pause();
        case kStop: return capture.Stop();
        case kRecord: return capture.StartRecording(out.c_str(), 0, 0, 0);
      }
      return E_FAIL;
    };
    for (Op op : c.reach) apply(op);
    const HRESULT hr = apply(c.op);
    if (c.result == S_OK) EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    else EXPECT_EQ(hr, c.result);
    EXPECT_EQ(capture.GetState(), c.state);
    if (c.flows) EXPECT_TRUE(Flows(pattern));
    else EXPECT_TRUE(Still(pattern));
    EXPECT_EQ(HasFilter(capture.GetFilterGraph(), L"AVI Mux"), c.recordingBranch);
    EXPECT_EQ(HasFilter(capture.GetFilterGraph(), L"Null Colour"), c.recordingBranch);
  }
  EXPECT_TRUE(prompts.boxes.empty());
}

// Each a fresh source, so that every step meets the device just as it
// starts: a recording set up at once (it changes the rate of a source whose
// first frames may still be on their way) leaves it delivering, and once
// Stop returned the device hands out no further frame.
TEST_F(VideoCaptureTest, ASourceJustStartedSurvivesRecordingAndStopsAtOnce) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    {
      CVideoCapture capture(owner.m_hWnd);
      ASSERT_EQ(capture.OpenDevice(1), S_OK);
      ASSERT_EQ(capture.StartRecording(Temp("fresh.avi").c_str(), 0, 0, 0), S_OK);
      EXPECT_TRUE(Flows(pattern)) << "the preview runs before Play";
      capture.Run();
      EXPECT_TRUE(Flows(pattern));
    }
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    EXPECT_EQ(capture.Stop(), S_OK);
    EXPECT_TRUE(Still(pattern));
  }
}

// ---------------------------------------------------------------- recording

TEST_F(VideoCaptureTest, LiveRecordingHoldsTheFramesBetweenPlayAndStop) {
  struct Case {
    const char* name;
    int compressor;  // 0: none, else 1 + the compressor's index
    const wchar_t* middle;
    bool undistort;
  };
  std::vector<Case> cases = {{"uncompressed", 0, L"Null Colour", false},
                             {"uncompressed, undistorted", 0, L"Null Colour", true}};
  {
    char storage[64][260];
    char* names[64];
    for (int i = 0; i < 64; ++i) names[i] = storage[i];
    int count = 0;
    DShow::EnumVideoCompressors(names, &count, 64, 260);
    for (int i = 0; i < count; ++i)
      if (std::string(names[i]) == "JPEG image encoder") {
        cases.push_back({"jpeg", i + 1, L"Compression Filter", false});
        break;
      }
  }
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = Temp("live.avi");
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    ASSERT_TRUE(Flows(pattern));
    if (c.undistort) {
      ASSERT_TRUE(WaitFor([&] { return capture.GetSampler()->GetFrameInfo().prepared; }));
      ASSERT_TRUE(capture.GetSampler()->ToggleUndistortion(Pincushion(64, 48), 0));
    }
    ASSERT_EQ(capture.StartRecording(out.c_str(), 0, 0, c.compressor), S_OK);
    EXPECT_EQ(capture.GetState(), 5);
    EXPECT_TRUE(HasFilter(capture.GetFilterGraph(), c.middle));
    ASSERT_TRUE(Flows(pattern, 5)) << "the preview runs before Play";
    const long atPlay = pattern.made->load();
    capture.Run();
    EXPECT_EQ(capture.GetState(), 4);
    ASSERT_TRUE(Flows(pattern, 12));
    capture.Stop();
    const long atStop = pattern.made->load();
    EXPECT_EQ(capture.GetState(), 1) << "the preview runs again";
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"AVI Mux"));
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), c.middle)) << FilterNames(capture.GetFilterGraph());
    EXPECT_TRUE(Flows(pattern));

    std::string why;
    const auto frames = dshow_test::ReadBack(out, &why);
    ASSERT_FALSE(frames.empty()) << why;
    // Nothing made before Play is in the file; what was made while it
    // recorded is (frames still queued when Stop comes may be cut off on a
    // loaded machine).
    const long made = atStop - atPlay;
    EXPECT_LE(static_cast<long>(frames.size()), made + 2);
    EXPECT_GE(static_cast<long>(frames.size()), made / 2);
    const auto& first = frames.front();
    EXPECT_EQ(first.width, 64);
    EXPECT_EQ(first.height, 48);
    const int tolerance = c.compressor ? 40 : 0;
    EXPECT_GT(first.At(32, 24, 1), 100 - tolerance - 1) << "green as made";
    if (c.undistort) {
      EXPECT_LT(first.At(0, 0, 1), 10) << "a black corner";
      EXPECT_LT(first.At(63, 47, 1), 10) << "a black corner";
    } else {
      EXPECT_GT(first.At(32, 0, 2), 255 - tolerance - 1) << "upright: the top row is red";
      EXPECT_LT(first.At(32, 47, 2), tolerance + 1);
    }
  }
}

TEST_F(VideoCaptureTest, FileRecordingGoesStraightToTheMultiplexerWithoutAClock) {
  std::string why;
  const std::string clip = Clip("file_rec.avi", 32, 24, 10, &why);
  if (clip.empty()) MEDIA_FIXTURE_MISSING(why);
  files.push_back(clip);
  const std::string out = Temp("file_out.avi");
  CVideoCapture capture(owner.m_hWnd);
  ASSERT_EQ(capture.OpenFile(clip.c_str()), S_OK);
  EXPECT_EQ(capture.GetState(), 2);
  EXPECT_TRUE(HasFilter(capture.GetFilterGraph(), L"Inf Tee"));
  EXPECT_TRUE(HasClock(capture));
  ASSERT_EQ(capture.StartRecording(out.c_str(), 0, 0, 0), S_OK);
  EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"Null Colour"));
  EXPECT_FALSE(HasClock(capture));
  capture.Run();
  EXPECT_EQ(capture.GetState(), 4);
  const std::string status = capture.GetStatusText();
  EXPECT_TRUE(status.rfind("Recorded ", 0) == 0 || status == "Recording file...") << status;
  CComPtr<IMediaEventEx> events;
  capture.GetFilterGraph()->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  ASSERT_TRUE(dshow_test::WaitForEvent(events, EC_COMPLETE, 20000));
  capture.Stop();
  EXPECT_EQ(capture.GetState(), 2) << "a file stays stopped";
  EXPECT_TRUE(HasClock(capture)) << "the clock is back";
  const auto frames = dshow_test::ReadBack(out, &why);
  ASSERT_EQ(frames.size(), 10u) << why;
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(frames[k].At(16, 12, 0), (20 * k) % 256, 2) << k;
  EXPECT_GT(frames[0].At(16, 0, 2), 200) << "upright";
}

TEST_F(VideoCaptureTest, FailedRecordingSetUpsAreTakenOutAgain) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  const std::string folder = Temp("rec_folder");
  std::filesystem::create_directories(folder);
  struct Case {
    std::string name;
    int compressor;
    const char* message;
  } const cases[] = {
      {"", 0, "Failed to set the capture file!"},
      {folder + "/missing/out.avi", 0, "Failed to set the capture file!"},
      {folder, 0, "Failed to set the capture file!"},
      {folder + "/out.avi", 100000, "Unable to fetch compressor!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.compressor));
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    prompts.boxes.clear();
    EXPECT_TRUE(FAILED(capture.StartRecording(c.name.c_str(), 0, 0, c.compressor)));
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, c.message);
    EXPECT_EQ(prompts.boxes[0].caption, "Error");
    EXPECT_EQ(prompts.boxes[0].type, 0u);
    EXPECT_EQ(prompts.boxes[0].owner, nullptr);
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"AVI Mux"));
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"File writer"));
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"Compression Filter"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
    EXPECT_EQ(capture.GetState(), 1);
    EXPECT_TRUE(Flows(pattern));
    // A good one afterwards records.
    const std::string good = folder + "/good.avi";
    ASSERT_EQ(capture.StartRecording(good.c_str(), 0, 0, 0), S_OK);
    capture.Run();
    ASSERT_TRUE(Flows(pattern, 5));
    capture.Stop();
    std::string why;
    EXPECT_FALSE(dshow_test::ReadBack(good, &why).empty()) << why;
    std::remove(good.c_str());
  }
  std::filesystem::remove_all(folder);
}

// -------------------------------------------------------------------- texts

TEST(VideoCaptureTexts, LiveAndFileStatus) {
  struct Case {
    long delivered, dropped;
    DWORD ms;
    const char* text;
  } const live[] = {
      {0, 0, 0, "Captured 0 frames (0 dropped) in 0.0sec"},
      {24, 1, 999, "Captured 24 frames (1 dropped) in 0.9sec"},
      {25, 3, 1000, "Captured 25 frames (3 dropped) in 1.0sec"},
      {1530, 17, 61234, "Captured 1530 frames (17 dropped) in 61.2sec"},
  };
  for (const Case& c : live) EXPECT_EQ(CVideoCapture::FormatLiveStatus(c.delivered, c.dropped, c.ms), c.text);
  EXPECT_EQ(CVideoCapture::FormatFileStatus(0, 0), "Recording file...");
  EXPECT_EQ(CVideoCapture::FormatFileStatus(0, 500), "Recording file...");
  EXPECT_EQ(CVideoCapture::FormatFileStatus(999, 500), "Recorded 50.0 %");
  EXPECT_EQ(CVideoCapture::FormatFileStatus(4000000, 1000000), "Recorded 25.0 %");
}

TEST(VideoCaptureTexts, DeviceAndFileInformation) {
  struct Case {
    bool info2;
    REFERENCE_TIME frameTime;
    const char* text;
  } const cases[] = {
      {false, 400000, "Video Size: 640 x 480\nFrame Rate: 25.0\n"},
      {true, 400000, "Video Size: 640 x 480\nFrame Rate: 25.0\n"},
      {false, 0, "Video Size: 640 x 480\nFrame Rate: 0.0\n"},
      {true, 0, "Video Size: 640 x 480\nFrame Rate: 0.0\n"},
      {false, -5, "Video Size: 640 x 480\nFrame Rate: 0.0\n"},
  };
  for (const Case& c : cases) {
    AM_MEDIA_TYPE type{};
    VIDEOINFOHEADER vih{};
    VIDEOINFOHEADER2 vih2{};
    if (c.info2) {
      vih2.bmiHeader.biWidth = 640;
      vih2.bmiHeader.biHeight = 480;
      vih2.AvgTimePerFrame = c.frameTime;
      type.formattype = FORMAT_VideoInfo2;
      type.pbFormat = reinterpret_cast<BYTE*>(&vih2);
      type.cbFormat = sizeof(vih2);
    } else {
      vih.bmiHeader.biWidth = 640;
      vih.bmiHeader.biHeight = 480;
      vih.AvgTimePerFrame = c.frameTime;
      type.formattype = FORMAT_VideoInfo;
      type.pbFormat = reinterpret_cast<BYTE*>(&vih);
      type.cbFormat = sizeof(vih);
    }
    EXPECT_EQ(CVideoCapture::FormatDeviceText(type), c.text);
  }
  AM_MEDIA_TYPE none{};
  EXPECT_EQ(CVideoCapture::FormatDeviceText(none), "");
  // An unconnected pin has no type to read.
  CComPtr<dshow::testing::FakeFilter> filter;
  filter.Attach(new dshow::testing::FakeFilter(L"f", 0, 1));
  EXPECT_EQ(CVideoCapture::DeviceTextOfPin(filter->Output(0)), "");
  EXPECT_EQ(CVideoCapture::FormatFileText("00:01.000", 32, 24), "Duration: 00:01.000\nVideo Size: 32 x 24\n");
}

TEST_F(VideoCaptureTest, InfoTextOfADeviceAndAFile) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  {
    CVideoCapture capture(owner.m_hWnd);
    EXPECT_EQ(capture.GetInfoText(), "No source information");
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    ASSERT_TRUE(WaitFor([&] { return capture.GetSampler()->GetFrameInfo().prepared; }));
    const std::string text = capture.GetInfoText();
    EXPECT_EQ(text.rfind("Video Size: 64 x 48\nFrame Rate: 30.0\nData Streams: Single\n", 0), 0u) << text;
  }
  std::string why;
  const std::string clip = Clip("info.avi", 32, 24, 10, &why);
  if (clip.empty()) MEDIA_FIXTURE_MISSING(why);
  files.push_back(clip);
  CVideoCapture capture(owner.m_hWnd);
  ASSERT_EQ(capture.OpenFile(clip.c_str()), S_OK);
  capture.Run();
  ASSERT_TRUE(WaitFor([&] { return capture.GetSampler()->GetFrameInfo().prepared; }));
  EXPECT_EQ(capture.GetInfoText(),
            "Duration: 00m:00.400s\nVideo Size: 32 x 24\n" + capture.GetSampler()->GetConfigurationText());
}

// ---------------------------------------------------------------- pages

TEST_F(VideoCaptureTest, PinPagesReconnectAtTheNewSize) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  for (const bool fromPrepared : {false, true}) {
    SCOPED_TRACE(fromPrepared);
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    ASSERT_TRUE(Flows(pattern));
    if (fromPrepared) {
      ASSERT_EQ(capture.StartRecording(Temp("pages.avi").c_str(), 0, 0, 0), S_OK);
    }
    std::string caption;
    win::SetNextModalHook([&](CDialog& dlg) {
      CString text;
      dlg.GetWindowText(text);
      caption = static_cast<const char*>(text);
      dlg.GetDlgItem(dshow::kPropertyFrameFormats)->SendMessage(CB_SETCURSEL, 1);  // 320 x 240
      dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(SUCCEEDED(capture.ShowCapturePinPages()));
    EXPECT_EQ(caption, "Capture Pin Properties");
    EXPECT_EQ(capture.GetState(), 1);
    EXPECT_FALSE(HasFilter(capture.GetFilterGraph(), L"AVI Mux"));
    ASSERT_TRUE(WaitFor([&] { return capture.GetSampler()->GetFrameInfo().frameWidth == 320; }));
    ASSERT_TRUE(Flows(pattern, 5));
    SampleFrameInfo info;
    IplImage* frame = capture.GetSampler()->CloneFrame(&info);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 240);
    cvReleaseImage(&frame);
  }
  // A file has no pin pages.
  std::string why;
  const std::string clip = Clip("pages.avi", 32, 24, 10, &why);
  if (clip.empty()) MEDIA_FIXTURE_MISSING(why);
  files.push_back(clip);
  CVideoCapture file(owner.m_hWnd);
  ASSERT_EQ(file.OpenFile(clip.c_str()), S_OK);
  EXPECT_EQ(file.ShowCapturePinPages(), 1);
  EXPECT_EQ(file.GetState(), 2);
}

TEST_F(VideoCaptureTest, FilterPagesHaveNoParent) {
  Pattern pattern;
  dshow::FakeDevice d = Device("cam", pattern);
  d.controls = {"Brightness"};
  dshow::AddFakeDevice(d);
  CVideoCapture capture(owner.m_hWnd);
  ASSERT_EQ(capture.OpenDevice(1), S_OK);
  HWND parent = reinterpret_cast<HWND>(1);
  std::string caption;
  win::SetNextModalHook([&](CDialog& dlg) {
    CString text;
    dlg.GetWindowText(text);
    caption = static_cast<const char*>(text);
    parent = dlg.GetParent() ? dlg.GetParent()->m_hWnd : nullptr;
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  capture.ShowCaptureFilterPages();
  EXPECT_EQ(caption, "Capture Filter Property Pages");
  EXPECT_EQ(parent, nullptr);
}

// ---------------------------------------------------------------- teardown

TEST_F(VideoCaptureTest, TeardownStopsEverythingAndFinishesTheFile) {
  Pattern pattern;
  dshow::AddFakeDevice(Device("cam", pattern));
  for (const bool recording : {false, true}) {
    SCOPED_TRACE(recording);
    const std::string out = Temp("teardown.avi");
    {
      CVideoCapture capture(owner.m_hWnd);
      ASSERT_EQ(capture.OpenDevice(1), S_OK);
      EXPECT_EQ(dshow::RunningObjectNames().size(), 1u);
      ASSERT_TRUE(Flows(pattern));
      if (recording) {
        ASSERT_EQ(capture.StartRecording(out.c_str(), 0, 0, 0), S_OK);
        capture.Run();
        ASSERT_TRUE(Flows(pattern, 5));
      }
      capture.Teardown();
      EXPECT_EQ(capture.GetState(), 0);
      EXPECT_EQ(capture.GetFilterGraph(), nullptr);
      EXPECT_TRUE(dshow::RunningObjectNames().empty());
      EXPECT_TRUE(Still(pattern)) << "the pipeline is gone";
    }
    if (recording) {
      std::string why;
      EXPECT_FALSE(dshow_test::ReadBack(out, &why).empty()) << why;
    }
    CVideoCapture again(owner.m_hWnd);
    EXPECT_EQ(again.OpenDevice(1), S_OK) << "the device opens from a new object";
    EXPECT_TRUE(Flows(pattern));
  }
}

TEST_F(VideoCaptureTest, CrossbarsAndDevicesWithoutDroppedFrames) {
  struct Case {
    const char* name;
    std::vector<long> inputs;
    bool analogueOnly;
    int count;
  } const cases[] = {{"two inputs", {2, 3}, false, 2}, {"analogue pin alone", {}, true, 0}, {"none", {}, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dshow::ClearFakeDevices();
    Pattern pattern;
    dshow::FakeDevice d = Device("cam", pattern);
    d.inputs = c.inputs;
    d.analogInputWithoutCrossbar = c.analogueOnly;
    dshow::AddFakeDevice(d);
    CVideoCapture capture(owner.m_hWnd);
    ASSERT_EQ(capture.OpenDevice(1), S_OK);
    EXPECT_EQ(capture.GetCrossbarInputCount(), c.count);
  }
  // No dropped-frame counts: 0 frames reported, and the recording works.
  dshow::ClearFakeDevices();
  Pattern pattern;
  dshow::FakeDevice d = Device("cam", pattern);
  d.droppedFrames = false;
  dshow::AddFakeDevice(d);
  win::ManualClock clock;
  const std::string out = Temp("nodrops.avi");
  CVideoCapture capture(owner.m_hWnd);
  ASSERT_EQ(capture.OpenDevice(1), S_OK);
  ASSERT_EQ(capture.StartRecording(out.c_str(), 0, 0, 0), S_OK);
  capture.Run();
  ASSERT_TRUE(Flows(pattern, 5));
  clock.Advance(1500);
  EXPECT_EQ(capture.GetStatusText(), "Captured 0 frames (0 dropped) in 1.5sec");
  capture.Stop();
  std::string why;
  EXPECT_FALSE(dshow_test::ReadBack(out, &why).empty()) << why;
}

TEST_F(VideoCaptureTest, StatusCountsFromTheStartOfTheRecording) {
  Pattern pattern;
  dshow::FakeDevice d = Device("cam", pattern);
  d.droppedCount = std::make_shared<std::atomic<long>>(4);
  dshow::AddFakeDevice(d);
  win::ManualClock clock;
  CVideoCapture capture(owner.m_hWnd);
  ASSERT_EQ(capture.OpenDevice(1), S_OK);
  ASSERT_EQ(capture.StartRecording(Temp("drops.avi").c_str(), 0, 0, 0), S_OK);
  ASSERT_TRUE(Flows(pattern, 3));
  capture.Run();
  d.droppedCount->store(11);
  clock.Advance(2345);
  const std::string text = capture.GetStatusText();
  EXPECT_NE(text.find("(7 dropped) in 2.3sec"), std::string::npos) << text;
  capture.Stop();
}

}  // namespace
