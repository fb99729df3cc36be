// The video panel on a plain offscreen parent, with the manual clock for its
// status timer, a data store for its grabs, fake devices and clips.
#include "video_capture_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dshow/property_frames.h"
#include "quorlmfc/dialog_x.h"
#include "video_test_support.h"
#include "win/dialog.h"
#include "win/prompts.h"

using namespace video_test;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

std::string SkinFolder() {
  std::string dir = QUORL_GRAPHICS_DIR;
  return dir.substr(0, dir.rfind('/'));
}

// A data view that counts its paints.
class CountingView : public CWnd {
 public:
  int paints = 0;

 protected:
  void OnPaint() {
    CPaintDC dc(this);
    ++paints;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CountingView, CWnd)
ON_WM_PAINT()
END_MESSAGE_MAP()

// Frame pixel (x, y), top-down: blue 4x, green 5y, red 0.
void Ramp(long, BYTE* bgr, int width, int height, int stride) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* p = bgr + static_cast<std::size_t>(y) * stride + 3 * x;
      p[0] = static_cast<BYTE>(4 * x);
      p[1] = static_cast<BYTE>(5 * y);
      p[2] = 0;
    }
}

class PanelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    dshow::ClearFakeDevices();
    ASSERT_TRUE(parent.CreateEx(0, nullptr, "Sources", WS_POPUP | WS_VISIBLE, CRect(0, 0, 420, 380), nullptr, 0));
    panel = std::make_unique<CVideoCaptureControl>();
    ASSERT_TRUE(panel->Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 360), &parent, 3000));
    panel->SetApplicationFolder(SkinFolder().c_str());
    panel->SetDataStore(&store);
  }
  void TearDown() override {
    panel.reset();
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
    parent.DestroyWindow();
    for (const std::string& f : files) std::remove(f.c_str());
  }
  void AddDevice(dshow::FrameGenerator generator = Ramp) {
    dshow::FakeDevice d;
    d.name = "cam";
    d.formats = {{MEDIASUBTYPE_RGB24, 64, 48, 30}};
    d.generator = std::move(generator);
    dshow::AddFakeDevice(d);
  }
  CRect InParent(CWnd& w) {
    CRect r;
    w.GetWindowRect(&r);
    panel->ScreenToClient(&r);
    return r;
  }
  std::string Label() { return panel->StatusLabel().GetText().GetString(); }
  // Grabs until the first frame of the current configuration was taken.
  bool GrabOnce(int camera) {
    const int before = store.GetImageCount(camera);
    return WaitFor([&] {
      panel->CaptureImage();
      return store.GetImageCount(camera) > before;
    });
  }
  COLORREF VideoPixel(int x, int y) {
    CClientDC dc(&panel->VideoWindow());
    return dc.GetPixel(x, y);
  }

  CWnd parent;
  std::unique_ptr<CVideoCaptureControl> panel;
  CalibrationDataStore store;
  win::ScriptedPrompts prompts;
  std::vector<std::string> files;
};

TEST_F(PanelTest, InitialiseLaysOutTheChildrenAndStartsTheTimer) {
  win::ManualClock clock;
  panel->Initialise();
  EXPECT_EQ(panel->VideoWindow().GetDlgCtrlID(), 1036);
  EXPECT_EQ(InParent(panel->VideoWindow()), CRect(10, 10, 390, 300));
  CString name;
  panel->VideoWindow().GetWindowText(name);
  EXPECT_STREQ(name.GetString(), "Video View");
  EXPECT_EQ(panel->VideoRect(), CRect(2, 2, 378, 288));
  EXPECT_EQ(panel->StatusLabel().GetDlgCtrlID(), 255);
  EXPECT_EQ(InParent(panel->StatusLabel()), CRect(10, 302, 390, 320));
  EXPECT_EQ(Label(), "");
  EXPECT_EQ(panel->Toolbar().GetDlgCtrlID(), 2124);
  EXPECT_EQ(InParent(panel->Toolbar()), CRect(10, 322, 390, 354));
  ASSERT_NE(panel->BackBuffer(), nullptr);
  EXPECT_EQ(panel->BackBuffer()[0], 0xff414141u);
  panel->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  win::PumpMessages();
  {
    CClientDC dc(panel.get());
    EXPECT_EQ(dc.GetPixel(4, 4), RGB(0x41, 0x41, 0x41)) << "the back buffer on the surface";
  }
  const UINT ids[] = {1030, 1031, 1047, 1035, 1073};
  ASSERT_EQ(panel->Toolbar().Buttons().size(), 5u);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    CHoverButtonEx* b = panel->Toolbar().Buttons()[i];
    EXPECT_EQ(static_cast<UINT>(b->GetDlgCtrlID()), ids[i]);
    EXPECT_EQ(b->GetParent(), panel.get()) << "commands reach the panel";
    EXPECT_GT(b->FrameWidth(), 0) << "its image strip loaded";
  }
  // Timer 1124: the label follows the state only once a source is open.
  clock.Advance(100);
  EXPECT_EQ(Label(), "");
}

TEST_F(PanelTest, StatusLineFollowsTheState) {
  auto made = std::make_shared<std::atomic<long>>(0);
  AddDevice([made](long frame, BYTE* bgr, int width, int height, int stride) {
    Ramp(frame, bgr, width, height, stride);
    ++*made;
  });
  win::ManualClock clock;
  panel->Initialise();
  ASSERT_EQ(panel->OpenDevice(1), S_OK);
  EXPECT_TRUE(panel->IsOpened());
  clock.Advance(100);
  EXPECT_EQ(Label(), "Running");
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1031, BN_CLICKED), 0);
  clock.Advance(100);
  EXPECT_EQ(Label(), "Stopped");
  panel->Capture().Pause();
  clock.Advance(100);
  EXPECT_EQ(Label(), "Stopped") << "state 3 leaves the label";
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), 0);
  clock.Advance(100);
  EXPECT_EQ(Label(), "Running");
  // Record through the settings dialog: OK prepares, Play records, Stop ends.
  const std::string out = dshow_test::TempPath(std::to_string(::getpid()) + "_panel.avi");
  files.push_back(out);
  win::SetNextModalHook([&](CDialog& d) {
    d.GetDlgItem(1046)->SetWindowText(out.c_str());
    d.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1047, BN_CLICKED), 0);
  EXPECT_EQ(panel->Capture().GetState(), 5);
  clock.Advance(100);
  EXPECT_EQ(Label(), "Press run to start capture...");
  const long atPlay = made->load();
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), 0);
  // Frames made while recording reach the file (a loaded machine may take
  // far longer than the frame rate says).
  ASSERT_TRUE(WaitFor([&] { return made->load() >= atPlay + 5; }));
  clock.Advance(1200);
  EXPECT_EQ(Label().rfind("Captured ", 0), 0u) << Label();
  EXPECT_NE(Label().find("in 1.2sec"), std::string::npos) << Label();
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1031, BN_CLICKED), 0);
  clock.Advance(100);
  EXPECT_EQ(Label(), "Running");
  std::string why;
  EXPECT_FALSE(dshow_test::ReadBack(out, &why).empty()) << why;
  // After WM_CLOSE the timer is gone: the label keeps its last text.
  panel->SendMessage(WM_CLOSE);
  panel->Capture().Stop();
  clock.Advance(300);
  EXPECT_EQ(Label(), "Running");
  // A destroyed panel gets no tick.
  panel.reset();
  clock.Advance(300);
}

TEST_F(PanelTest, OpeningFailuresComeBackAndAFileWaitsOnItsFirstFrame) {
  win::ManualClock clock;
  panel->Initialise();
  EXPECT_TRUE(FAILED(panel->OpenDevice(3)));
  EXPECT_FALSE(panel->IsOpened());
  auto second = std::make_unique<CVideoCaptureControl>();
  ASSERT_TRUE(second->Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 360), &parent, 3001));
  second->Initialise();
  EXPECT_EQ(second->OpenFile("/nonexistent/clip.avi"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(second->IsOpened());
  second.reset();

  std::string why;
  const std::string clip = Clip("panel_clip.avi", 32, 24, 10, &why);
  if (clip.empty()) MEDIA_FIXTURE_MISSING(why);
  files.push_back(clip);
  auto filePanel = std::make_unique<CVideoCaptureControl>();
  ASSERT_TRUE(filePanel->Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 360), &parent, 3002));
  filePanel->Initialise();
  EXPECT_TRUE(SUCCEEDED(filePanel->OpenFile(clip.c_str())));
  EXPECT_TRUE(filePanel->IsOpened());
  EXPECT_EQ(filePanel->Capture().GetState(), 3);
  auto shown = [&](int x, int y) {
    clock.Advance(100);  // the tick repaints the video
    CClientDC dc(&filePanel->VideoWindow());
    return dc.GetPixel(x, y);
  };
  // Frame 0: black with a red top row, drawn inside the 2-pixel inset.
  ASSERT_TRUE(WaitFor([&] { return shown(100, 100) == RGB(0, 0, 0); }));
  EXPECT_EQ(shown(100, 3), RGB(255, 0, 0));
  Sleep(200);
  EXPECT_EQ(shown(100, 100), RGB(0, 0, 0)) << "still frame 0 until Play";
  filePanel->SendMessage(WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), 0);
  EXPECT_TRUE(WaitFor([&] { return GetBValue(shown(100, 100)) > 0; })) << "later frames once played";
}

TEST_F(PanelTest, GrabsSplitIntoTheirCameras) {
  AddDevice();
  for (int i = 0; i < 4; ++i) store.AddCamera();
  struct Case {
    const char* name;
    int deinterlace, splitting;
    int cameras[4];
    int width, height;
  } const cases[] = {
      {"single", 0, 0, {0, -1, -1, -1}, 64, 48},
      {"single field", 1, 0, {1, -1, -1, -1}, 64, 24},
      {"stereo", 0, 1, {2, 3, -1, -1}, 32, 48},
      {"stereo with a hole", 1, 1, {-1, 1, -1, -1}, 32, 24},
      {"quad", 0, 2, {0, 1, 2, 3}, 32, 24},
      {"quad field with holes", 1, 2, {3, -1, 0, -1}, 32, 12},
  };
  CountingView view;
  ASSERT_TRUE(view.CreateEx(0, nullptr, "Data", WS_POPUP | WS_VISIBLE, CRect(500, 0, 600, 100), nullptr, 0));
  // Stands for an image list: the view's child that draws the thumbnails.
  CountingView list;
  ASSERT_TRUE(list.CreateEx(0, nullptr, "List", WS_CHILD | WS_VISIBLE, CRect(10, 10, 90, 90), &view, 1));
  panel->SetDataView(&view);
  panel->Initialise();
  panel->CaptureImage();  // nothing opened: no frame, nothing added
  for (int c = 0; c < 4; ++c) EXPECT_EQ(store.GetImageCount(c), 0);
  ASSERT_EQ(panel->OpenDevice(1), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int before[4];
    for (int i = 0; i < 4; ++i) before[i] = store.GetImageCount(i);
    panel->SetStreamConfiguration(c.deinterlace, c.splitting, c.cameras[0], c.cameras[1], c.cameras[2], c.cameras[3]);
    int first = 0;
    while (c.cameras[first] == -1) ++first;
    win::PumpMessages();
    const int paints = view.paints, listPaints = list.paints;
    ASSERT_TRUE(GrabOnce(c.cameras[first]));
    win::PumpMessages();
    EXPECT_GT(view.paints, paints) << "the data view was invalidated";
    EXPECT_GT(list.paints, listPaints) << "and so were its image lists";
    const int streams = c.splitting == 0 ? 1 : c.splitting == 1 ? 2 : 4;
    int expected[4] = {0, 0, 0, 0};
    for (int s = 0; s < streams; ++s)
      if (c.cameras[s] != -1) ++expected[c.cameras[s]];
    for (int cam = 0; cam < 4; ++cam) EXPECT_EQ(store.GetImageCount(cam) - before[cam], expected[cam]) << cam;
    for (int s = 0; s < streams; ++s) {
      if (c.cameras[s] == -1) continue;
      SCOPED_TRACE(s);
      IplImage* image = store.GetImage(c.cameras[s], store.GetImageCount(c.cameras[s]) - 1);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->width, c.width);
      EXPECT_EQ(image->height, c.height);
      // Its origin in the top-down frame, and upright: green grows downwards.
      const int ox = (s % 2) * 32, oy = c.splitting == 2 ? (s / 2) * 24 : 0;
      auto at = [&](int x, int y, int ch) {
        return static_cast<int>(reinterpret_cast<unsigned char*>(image->imageData)[y * image->widthStep + 3 * x + ch]);
      };
      EXPECT_EQ(at(1, 0, 0), 4 * (ox + 1));
      const int step = c.deinterlace ? 2 : 1;
      EXPECT_NEAR(at(0, 0, 1), 5 * oy, 5);
      EXPECT_EQ(at(0, 1, 1) - at(0, 0, 1), 5 * step);
    }
  }
  // A camera the store refuses: the image is freed (the sanitizers watch).
  panel->SetStreamConfiguration(0, 0, 9, -1, -1, -1);
  for (int i = 0; i < 5; ++i) {
    panel->CaptureImage();
    Sleep(20);
  }
  // Offsets move every camera but -1.
  panel->SetStreamConfiguration(0, 2, 0, -1, 2, -1);
  panel->OffsetCameraIndices(3);
  const StreamConfiguration moved = panel->GetStreamConfiguration();
  const int want[4] = {3, -1, 5, -1};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(moved.cameras[i], want[i]);
  list.DestroyWindow();
  view.DestroyWindow();
}

// One warning box answered; what it said.
struct Box {
  std::string caption, text;
};

class DistortionTest : public PanelTest {
 protected:
  // Answers the next boxes in order, recording them.
  void Answer(std::vector<int> answers) {
    pending = std::move(answers);
    Arm();
  }
  void Arm() {
    if (pending.empty()) return;
    win::SetNextModalHook([this](CDialog& d) {
      auto* box = dynamic_cast<CDialogXMsgBox*>(&d);
      boxes.push_back({box ? box->GetTitle().GetString() : "", box ? box->Label().GetText().GetString() : ""});
      const int answer = pending.front();
      pending.erase(pending.begin());
      Arm();
      d.PostMessage(WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    });
  }
  void Calibrate(int camera, int width, int height) {
    CameraParameters p = Pincushion(width, height);
    store.SetCameraParameters(camera, p);
    store.SetCalibrated(store.GetCameraEntry(camera));
  }
  bool CornerBlack() {
    return WaitFor(
        [&] {
          SampleFrameInfo info;
          IplImage* frame = panel->Capture().GetSampler()->CloneFrame(&info);
          if (!frame) return false;
          const auto* p = reinterpret_cast<unsigned char*>(frame->imageData);
          const bool black = p[1] == 0 && p[0] == 0;
          cvReleaseImage(&frame);
          return black;
        },
        5000);
  }
  std::vector<int> pending;
  std::vector<Box> boxes;
};

TEST_F(DistortionTest, WarnsPerStreamAndStopsOnCancel) {
  AddDevice();
  store.AddCamera();
  store.AddCamera();
  store.AddStereoRig(0, 1);
  store.AddCamera();  // camera 2 sits after the rig: entry 3
  panel->Initialise();
  ASSERT_EQ(panel->OpenDevice(1), S_OK);
  const std::string caption = "WARNING: Lens Distortion Correction";
  const std::string notCalibrated = "WARNING: Distortion cannot be removed:\nThe camera is not calibrated!\n";
  const std::string wrongSize =
      "WARNING: Distortion cannot be corrected:\nThe camera's image size does not agree with the data stream setup!\n";
  auto onStream = [](int s, const char* why) {
    return "WARNING: Distortion cannot be removed on data stream " + std::to_string(s) + ":\n" + why;
  };
  const char* kNot = "The camera is not calibrated!\n";
  const char* kSize = "The camera's image size does not agree with the data stream setup!\n";

  // Single, not calibrated; then calibrated at a wrong size.
  panel->SetStreamConfiguration(0, 0, 2, -1, -1, -1);
  ASSERT_TRUE(WaitFor([&] { return panel->Capture().GetSampler()->GetFrameInfo().prepared; }));
  Answer({IDOK});
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1073, BN_CLICKED), 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, caption);
  EXPECT_EQ(boxes[0].text, notCalibrated);
  Calibrate(2, 32, 24);
  boxes.clear();
  Answer({IDCANCEL});
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1073, BN_CLICKED), 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, wrongSize);
  // The right size: no box, the corners turn black; a second press clears them.
  Calibrate(2, 64, 48);
  boxes.clear();
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1073, BN_CLICKED), 0);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(CornerBlack()) << "camera 2 is judged by its own entry's flag";
  panel->SendMessage(WM_COMMAND, MAKEWPARAM(1073, BN_CLICKED), 0);
  EXPECT_TRUE(WaitFor([&] { return !CornerBlack(); }, 5000));

  // Quad: camera 0 uncalibrated, camera 1 at a wrong size, camera 2 right.
  panel->SetStreamConfiguration(0, 2, 0, 1, 2, -1);
  ASSERT_TRUE(WaitFor([&] { return panel->Capture().GetSampler()->GetFrameInfo().cameraWidth == 32; }));
  Calibrate(1, 64, 48);
  Calibrate(2, 32, 24);
  struct Case {
    std::vector<int> answers;
    std::vector<std::string> texts;
  } const cases[] = {
      {{IDCANCEL}, {onStream(0, kNot)}},
      {{IDOK, IDCANCEL}, {onStream(0, kNot), onStream(1, kSize)}},
      {{IDOK, IDOK, IDOK}, {onStream(0, kNot), onStream(1, kSize), onStream(3, kNot)}},
  };
  for (const Case& c : cases) {
    boxes.clear();
    Answer(c.answers);
    panel->SendMessage(WM_COMMAND, MAKEWPARAM(1073, BN_CLICKED), 0);
    ASSERT_EQ(boxes.size(), c.texts.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i].text, c.texts[i]) << i;
    win::SetNextModalHook(nullptr);
  }
}

}  // namespace
