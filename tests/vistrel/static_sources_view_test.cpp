// The sources view on fake devices and clips, with a data view that records
// its columns. Cameras carry a tag in fx, so each one can be followed
// through inserts and removals: after every step each column must still
// name its entry's camera, each source its own cameras, each rig its pair.
#include "static_sources_view.h"

#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include <QTest>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app_core/source_cameras.h"
#include "calibration/calibration_data_store.h"
#include "data_view_columns.h"
#include "dshow/devices.h"
#include "quorlmfc/dialog_x.h"
#include "source_dialogs.h"
#include "video_test_support.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "window_test_support.h"

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

std::string SkinFolder() {
  std::string dir = QUORL_GRAPHICS_DIR;
  return dir.substr(0, dir.rfind('/'));
}

double Tag(const CalibrationDataStore& store, int camera) { return store.GetCameraParameters(camera).K[0]; }

void SetTag(CalibrationDataStore& store, int camera, double tag) {
  CameraParameters p = store.GetCameraParameters(camera);
  p.K[0] = tag;
  store.SetCameraParameters(camera, p);
}

// The data view as a list of columns, each remembering the camera (tag) it
// was made for, or a rig's two cameras. A column inserted for a camera tags
// that camera afresh, so a column put at the wrong entry spoils another
// camera's tag and shows.
class RecordingColumns : public IDataViewColumns {
 public:
  struct Column {
    bool rig = false;
    double tag = 0, tagB = 0;
  };
  explicit RecordingColumns(CalibrationDataStore& store) : store_(store) {}

  void AddCameraColumn() override {
    columns.push_back({false, nextTag++, 0});
    log.push_back("add");
  }
  void BuildStereoRigPanel(int entryA, int entryB) override {
    columns.push_back({true, EntryTag(entryA), EntryTag(entryB)});
    log.push_back("rig " + std::to_string(entryA) + " " + std::to_string(entryB));
  }
  void InsertCameraColumn(int entry) override {
    log.push_back("insert " + std::to_string(entry));
    ASSERT_GE(entry, 0);
    ASSERT_LE(entry, static_cast<int>(columns.size()));
    const int camera = store_.GetMonoCameraOrdinal(entry);
    ASSERT_GE(camera, 0) << "entry " << entry << " is no camera";
    SetTag(store_, camera, nextTag);
    columns.insert(columns.begin() + entry, Column{false, nextTag++, 0});
  }
  void RemoveCameraColumn(int entry) override {
    log.push_back("remove " + std::to_string(entry));
    ASSERT_GE(entry, 0);
    ASSERT_LT(entry, static_cast<int>(columns.size()));
    columns.erase(columns.begin() + entry);
  }
  void RefreshPanels(int) override {}
  // As the data view does: the scenes drawn from the images go with them.
  void ClearEntryImages(int entry) override {
    cleared.push_back(entry);
    for (int key : ScenesDrawnFromClearedImages(store_, entry)) droppedScenes.insert(key);
    store_.ClearEntryImages(entry);
  }

  double EntryTag(int entry) const { return Tag(store_, store_.GetMonoCameraOrdinal(entry)); }

  std::vector<Column> columns;
  std::vector<std::string> log;
  std::vector<int> cleared;
  std::set<int> droppedScenes;
  double nextTag = 100;

 private:
  CalibrationDataStore& store_;
};

IplImage* SmallImage() {
  IplImage* image = cvCreateImage(cvSize(8, 8), IPL_DEPTH_8U, 3);
  cvZero(image);
  return image;
}

class SourcesViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override {
    dshow::ClearFakeDevices();
    ASSERT_TRUE(parent.CreateEx(0, nullptr, "Main", WS_POPUP | WS_VISIBLE, CRect(0, 0, 1000, 420), nullptr, 0));
    view = std::make_unique<CStaticSourcesView>();
    view->SetApplicationFolder(SkinFolder().c_str());
    ASSERT_TRUE(view->Create("Source View", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(0, 0, 980, 400), &parent, 2000));
    view->SetDataStore(&store);
    view->SetDataView(&columns);
    view->Create();
  }
  void TearDown() override {
    view.reset();
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
    parent.DestroyWindow();
    for (const std::string& f : files) std::remove(f.c_str());
  }

  void AddDevice(const std::string& name) { dshow::AddFakeDevice(video_test::Device(name, pattern)); }
  // What the main dialog does after a source opened: a column, then the
  // camera; the camera takes the column's tag.
  void AppendCamera() {
    columns.AddCameraColumn();
    store.AddCamera();
    SetTag(store, store.GetMonoCameraCount() - 1, columns.columns.back().tag);
  }
  // Connects device `index` (from 1) as the main dialog does.
  void Connect(int index, const char* name) {
    ASSERT_EQ(view->AddDeviceSource(index, name), 0);
    AppendCamera();
  }
  void Select(int source) {
    const StripRect d = view->Places().Details(source);
    view->PressAt(CPoint(d.left + 5, d.top + 5));
    ASSERT_EQ(view->GetSelected(), source);
  }
  StreamConfiguration Config(int source) { return view->VideoPanel(source)->GetStreamConfiguration(); }
  std::vector<int> Cameras(int source) {
    std::vector<int> cameras;
    for (int camera : Config(source).cameras)
      if (camera != -1) cameras.push_back(camera);
    return cameras;
  }
  std::vector<double> Tags(int source) {
    std::vector<double> tags;
    for (int camera : Cameras(source)) tags.push_back(Tag(store, camera));
    return tags;
  }

  // Each column names its entry's camera (or the rig's pair) in order; the
  // sources' cameras are distinct mono cameras; rigs name mono entries.
  void ExpectInvariant() {
    ASSERT_EQ(static_cast<int>(columns.columns.size()), store.GetEntryCount()) << "one column per entry";
    int rig = 0;
    for (int entry = 0; entry < store.GetEntryCount(); ++entry) {
      SCOPED_TRACE(::testing::Message() << "entry " << entry);
      const RecordingColumns::Column& column = columns.columns[entry];
      if (store.GetEntryKind(entry) == kStereoRigEntry) {
        ASSERT_TRUE(column.rig);
        const StereoPairRecord pair = store.GetStereoPair(rig++);
        ASSERT_EQ(store.GetEntryKind(pair.cameraA), kMonoCameraEntry);
        ASSERT_EQ(store.GetEntryKind(pair.cameraB), kMonoCameraEntry);
        EXPECT_EQ(columns.EntryTag(pair.cameraA), column.tag);
        EXPECT_EQ(columns.EntryTag(pair.cameraB), column.tagB);
      } else {
        ASSERT_FALSE(column.rig);
        EXPECT_EQ(columns.EntryTag(entry), column.tag);
      }
    }
    std::set<int> seen;
    for (int source = 0; source < view->SourceCount(); ++source) {
      for (int camera : Cameras(source)) {
        EXPECT_EQ(store.GetEntryKind(store.GetCameraEntry(camera)), kMonoCameraEntry) << "camera " << camera;
        EXPECT_TRUE(seen.insert(camera).second) << "camera " << camera << " named twice";
      }
    }
  }

  // Runs the set-up dialog: the values it showed come back; it closes with
  // (splitting, deinterlace) chosen and OK, and the warning, if it comes,
  // is answered with `warning`.
  struct SetupSeen {
    bool opened = false, warned = false;
    int splittingShown = -1, deinterlaceShown = -1;
    bool filterEnabled = false, pinEnabled = false;
    std::string warningCaption, warningText;
  };
  SetupSeen RunSetup(int splitting, int deinterlace, int warning = IDOK, int close = IDOK) {
    SetupSeen seen;
    win::SetNextModalHook([&, splitting, deinterlace, warning, close](CDialog& d) {
      seen.opened = true;
      auto& dlg = static_cast<CSourceSetupDlg&>(d);
      seen.splittingShown = dlg.GetSplitting();
      seen.deinterlaceShown = dlg.GetDeinterlace();
      seen.filterEnabled = d.GetDlgItem(CSourceSetupDlg::kCaptureFilter)->IsWindowEnabled();
      seen.pinEnabled = d.GetDlgItem(CSourceSetupDlg::kCapturePin)->IsWindowEnabled();
      const CRect s = CSourceSetupDlg::SplittingBox(splitting);
      const CRect i = CSourceSetupDlg::DeinterlaceBox(deinterlace);
      d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(s.CenterPoint().x, s.CenterPoint().y));
      d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(i.CenterPoint().x, i.CenterPoint().y));
      win::SetNextModalHook([&seen, warning](CDialog& box) {
        seen.warned = true;
        auto* message = dynamic_cast<CDialogXMsgBox*>(&box);
        if (message) {
          seen.warningCaption = message->GetTitle().GetString();
          seen.warningText = message->Label().GetText().GetString();
        }
        box.PostMessage(WM_COMMAND, MAKEWPARAM(warning, BN_CLICKED), 0);
      });
      d.PostMessage(WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
    });
    view->SendMessage(WM_COMMAND, MAKEWPARAM(CStaticSourcesView::kSetupStreams, BN_CLICKED), 0);
    win::SetNextModalHook(nullptr);
    return seen;
  }
  // Remove source answered with the button `button`.
  void RunRemove(UINT button) {
    win::SetNextModalHook(
        [button](CDialog& d) { d.PostMessage(WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); });
    view->SendMessage(WM_COMMAND, MAKEWPARAM(CStaticSourcesView::kRemoveSource, BN_CLICKED), 0);
    win::SetNextModalHook(nullptr);
  }

  CWnd parent;
  std::unique_ptr<CStaticSourcesView> view;
  CalibrationDataStore store;
  RecordingColumns columns{store};
  video_test::Pattern pattern;
  win::ScriptedPrompts prompts;
  std::vector<std::string> files;
};

TEST_F(SourcesViewTest, CreateDrawsTheBackgroundSeparatorAndToolbar) {
  ASSERT_NE(view->BackBuffer(), nullptr);
  const int w = view->BufferWidth();
  EXPECT_EQ(view->BackBuffer()[5 * w + 5], CStaticSourcesView::kBackground);
  EXPECT_EQ(view->BackBuffer()[100 * w + 215], CStaticSourcesView::kSeparator);
  EXPECT_EQ(view->BackBuffer()[5 * w + 215], CStaticSourcesView::kBackground) << "the line starts at y 10";
  const UINT ids[] = {CStaticSourcesView::kSetupStreams, CStaticSourcesView::kRemoveSource};
  ASSERT_EQ(view->Toolbar().Buttons().size(), 2u);
  for (int i = 0; i < 2; ++i) {
    CHoverButtonEx* b = view->Toolbar().Buttons()[i];
    EXPECT_EQ(static_cast<UINT>(b->GetDlgCtrlID()), ids[i]);
    EXPECT_EQ(b->GetParent(), view.get()) << "commands reach the view";
    EXPECT_GT(b->FrameWidth(), 0) << "its image strip loaded";
  }
  EXPECT_EQ(view->Toolbar().GetDlgCtrlID(), 1024);
}

TEST_F(SourcesViewTest, FailedOpensLeaveNoPanelAndTellTheUser) {
  dshow::FakeDevice broken;
  broken.name = "Broken Cam";
  broken.makeFilter = [] { return static_cast<IBaseFilter*>(nullptr); };
  dshow::AddFakeDevice(broken);
  const std::string missing = dshow_test::TempPath("no_such_clip.avi");
  struct Case {
    const char* name;
    std::function<HRESULT()> add;
    std::string message;
  };
  const Case cases[] = {
      {"device that cannot open", [&] { return view->AddDeviceSource(1, "Broken Cam"); }, "Cannot open: Broken Cam!"},
      {"device past the last", [&] { return view->AddDeviceSource(5, nullptr); }, "Cannot open: Camera!"},
      {"missing file", [&] { return view->AddFileSource(missing.c_str(), "no_such_clip.avi"); },
       "Cannot open: " + missing + "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t boxes = prompts.boxes.size();
    EXPECT_EQ(c.add(), E_FAIL);
    EXPECT_EQ(view->SourceCount(), 0);
    EXPECT_EQ(view->Places().Count(), 0);
    ASSERT_EQ(prompts.boxes.size(), boxes + 1);
    EXPECT_EQ(prompts.boxes.back().text, c.message);
  }
  // No panel window is left behind under any id handed out so far.
  for (int id = 100123; id < 100130; ++id) EXPECT_EQ(view->GetDlgItem(id), nullptr) << id;
  // The next source takes the first place.
  AddDevice("Good Cam");
  ASSERT_EQ(view->AddDeviceSource(2, "Good Cam"), 0);
  CRect r;
  view->VideoPanel(0)->GetWindowRect(&r);
  view->ScreenToClient(&r);
  EXPECT_EQ(r, CRect(220, 10, 520, 390));
  EXPECT_EQ(view->DetailsPanel(0)->GetTitle(), "Good Cam");
  EXPECT_EQ(Config(0).cameras[0], 0) << "stream 0 is the camera the caller appends next";
}

TEST_F(SourcesViewTest, AddAddRemoveAddKeepsIdsDistinctAndPanelsApart) {
  for (const char* name : {"A", "B", "C"}) AddDevice(name);
  Connect(1, "A");
  Connect(2, "B");
  Select(0);
  RunRemove(CRemoveSourceOptionsDlg::kNo);
  ASSERT_EQ(view->SourceCount(), 1);
  EXPECT_EQ(view->GetSelected(), -1);
  Connect(3, "C");
  ASSERT_EQ(view->SourceCount(), 2);
  EXPECT_EQ(view->DetailsPanel(0)->GetTitle(), "B");
  EXPECT_EQ(view->DetailsPanel(1)->GetTitle(), "C");

  std::set<int> ids;
  std::vector<CRect> videos, details;
  for (int s = 0; s < view->SourceCount(); ++s) {
    SCOPED_TRACE(s);
    for (CWnd* w : {static_cast<CWnd*>(view->VideoPanel(s)), static_cast<CWnd*>(view->DetailsPanel(s))}) {
      EXPECT_TRUE(ids.insert(w->GetDlgCtrlID()).second) << "id " << w->GetDlgCtrlID() << " taken twice";
      EXPECT_TRUE(w->IsWindowVisible()) << "the remaining sources stay shown";
      CRect r;
      w->GetWindowRect(&r);
      view->ScreenToClient(&r);
      (w == view->VideoPanel(s) ? videos : details).push_back(r);
    }
  }
  for (const std::vector<CRect>* list : {&videos, &details}) {
    CRect overlap;
    EXPECT_FALSE(overlap.IntersectRect(&(*list)[0], &(*list)[1])) << "panels overlap";
  }
  EXPECT_EQ(videos[1].left, videos[0].right + 10);
  EXPECT_EQ(details[1].top, details[0].bottom + 5);

  // A selection grows the panel by 75, pushes the later one down, and the
  // back buffer frames it one pixel outside.
  Select(0);
  CRect grown;
  view->DetailsPanel(0)->GetWindowRect(&grown);
  view->ScreenToClient(&grown);
  EXPECT_EQ(grown.Height(), 30 + 75);
  const StripRect d = view->Places().Details(0);
  EXPECT_EQ(view->BackBuffer()[(d.top - 1) * view->BufferWidth() + d.left + 20], CStaticSourcesView::kHighlight);
  EXPECT_EQ(view->Places().Details(1).top, d.bottom + 5);
  // A press on the video side changes nothing; one on no panel clears.
  view->PressAt(CPoint(300, 20));
  EXPECT_EQ(view->GetSelected(), 0);
  view->PressAt(CPoint(100, 300));
  EXPECT_EQ(view->GetSelected(), -1);
  EXPECT_EQ(view->BackBuffer()[(d.top - 1) * view->BufferWidth() + d.left + 20], CStaticSourcesView::kBackground);
}

// Entries [H, X, rig(H, X), A, B]: a camera put in by hand and a rig in
// front, source A under test and source B behind it.
class ConfigurationChangeTest : public SourcesViewTest {
 protected:
  void SetUp() override {
    SourcesViewTest::SetUp();
    AppendCamera();  // H
    AppendCamera();  // X
    ASSERT_EQ(store.AddStereoRig(0, 1), 1);
    columns.BuildStereoRigPanel(0, 1);
    AddDevice("A");
    AddDevice("B");
    Connect(1, "A");
    Connect(2, "B");
    hTag = Tag(store, 0);
    xTag = Tag(store, 1);
    bTag = Tag(store, Cameras(1)[0]);
    ExpectInvariant();
  }
  // Every camera holds one image; returns how many each camera has now.
  void GiveEveryCameraAnImage() {
    for (int camera = 0; camera < store.GetMonoCameraCount(); ++camera)
      if (store.GetImageCount(camera) == 0) store.AddImage(camera, SmallImage());
  }

  double hTag = 0, xTag = 0, bTag = 0;
};

TEST_F(ConfigurationChangeTest, EveryStepKeepsColumnsSourcesAndRigsTogether) {
  struct Step {
    const char* name;
    int source, splitting, deinterlace, warning;
    int cameras;                    // the source's cameras afterwards
    std::vector<std::string> log;   // column operations of the step
    bool cleared;                   // the source's cameras lost their images
    std::set<int> scenes;           // the 3D scenes dropped with the images (entries before the step)
    bool rigFirst = false;          // the source's first two cameras get a rig before the step
  };
  // The front rig's scene never goes: its cameras keep their images.
  const Step steps[] = {
      {"single to stereo", 0, 1, 0, IDOK, 2, {"insert 4"}, true, {3}},
      {"stereo to quad", 0, 2, 0, IDOK, 4, {"insert 5", "insert 6"}, true, {3, 4}},
      {"deinterlace only", 0, 2, 1, IDOK, 4, {}, true, {3, 4, 5, 6}},
      {"warning cancelled", 0, 0, 0, IDCANCEL, 4, {}, false, {}},
      {"quad to single", 0, 0, 1, IDOK, 1, {"remove 6", "remove 5", "remove 4"}, true, {3, 4, 5, 6}},
      {"the last source to stereo appends", 1, 1, 0, IDOK, 2, {"insert 5"}, true, {4}},
      {"and back to single", 1, 0, 0, IDOK, 1, {"remove 5"}, true, {4, 5}},
      {"the last source to stereo again", 1, 1, 0, IDOK, 2, {"insert 5"}, true, {4}},
      // The rig of its two cameras (entry 6) stays, and so must not go on
      // showing the images they lost.
      {"stereo to quad keeps the rig on its cameras", 1, 2, 0, IDOK, 4, {"insert 6", "insert 7"}, true, {4, 5, 6},
       true},
      {"and deinterlace only keeps it too", 1, 2, 1, IDOK, 4, {}, true, {4, 5, 6, 7, 8}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    GiveEveryCameraAnImage();
    if (step.rigFirst) {
      const int first = store.GetCameraEntry(Cameras(step.source)[0]);
      const int second = store.GetCameraEntry(Cameras(step.source)[1]);
      ASSERT_EQ(store.AddStereoRig(first, second), 1);
      columns.BuildStereoRigPanel(first, second);
      ExpectInvariant();
    }
    const StreamConfiguration before = Config(step.source);
    const std::vector<double> tagsBefore = Tags(step.source);
    const double otherTag = Tags(1 - step.source)[0];
    columns.log.clear();
    columns.cleared.clear();
    columns.droppedScenes.clear();
    std::vector<int> sourceEntries;
    for (int camera : Cameras(step.source)) sourceEntries.push_back(store.GetCameraEntry(camera));
    Select(step.source);
    const SetupSeen seen = RunSetup(step.splitting, step.deinterlace, step.warning);
    EXPECT_TRUE(seen.opened);
    EXPECT_EQ(seen.splittingShown, before.splitting) << "the dialog shows the source's values";
    EXPECT_EQ(seen.deinterlaceShown, before.deinterlace);
    EXPECT_TRUE(seen.warned);
    EXPECT_EQ(seen.warningCaption, "WARNING: Stream configuration change");
    EXPECT_EQ(seen.warningText,
              "WARNING: Changing the source stream configuration will reset all camera data. Are you sure you want "
              "to continue?");
    EXPECT_EQ(columns.log, step.log);
    // The source's cameras are cleared through the view, so their scenes go.
    EXPECT_EQ(columns.cleared, step.warning == IDOK ? sourceEntries : std::vector<int>{});
    EXPECT_EQ(columns.droppedScenes, step.scenes);
    ExpectInvariant();
    const StreamConfiguration after = Config(step.source);
    ASSERT_EQ(static_cast<int>(Cameras(step.source).size()), step.cameras);
    if (step.warning == IDOK) {
      EXPECT_EQ(after.splitting, step.splitting);
      EXPECT_EQ(after.deinterlace, step.deinterlace);
    } else {
      EXPECT_EQ(after.splitting, before.splitting);
      EXPECT_EQ(after.deinterlace, before.deinterlace);
    }
    // The streams that stay keep their cameras; new ones follow the last.
    const std::vector<double> tagsAfter = Tags(step.source);
    for (size_t i = 0; i < std::min(tagsBefore.size(), tagsAfter.size()); ++i) EXPECT_EQ(tagsAfter[i], tagsBefore[i]);
    for (size_t i = 1; i < Cameras(step.source).size(); ++i)
      EXPECT_EQ(Cameras(step.source)[i], Cameras(step.source)[0] + static_cast<int>(i));
    for (int camera : Cameras(step.source))
      EXPECT_EQ(store.GetImageCount(camera), step.cleared ? 0 : 1) << "camera " << camera;
    EXPECT_EQ(Tags(1 - step.source)[0], otherTag) << "the other source keeps its camera";
    EXPECT_EQ(Tag(store, 0), hTag);
    EXPECT_EQ(Tag(store, 1), xTag);
    EXPECT_EQ(store.GetImageCount(0), 1) << "the camera in front keeps its images";
    EXPECT_EQ(store.GetImageCount(Cameras(1 - step.source)[0]), 1) << "the other source keeps its images";
  }
}

TEST_F(ConfigurationChangeTest, SameValuesOrCancelChangeNothing) {
  GiveEveryCameraAnImage();
  Select(0);
  columns.log.clear();
  for (int close : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(close);
    const SetupSeen seen = RunSetup(0, 0, IDOK, close);
    EXPECT_TRUE(seen.opened);
    EXPECT_FALSE(seen.warned) << "no change, no warning";
    EXPECT_TRUE(columns.log.empty());
    EXPECT_EQ(store.GetImageCount(Cameras(0)[0]), 1);
  }
  ExpectInvariant();
}

// Remove source on [H, X, rig, A0, A1, B, rig(A1, B)] with A selected.
class RemoveSourceTest : public ConfigurationChangeTest {
 protected:
  void SetUp() override {
    ConfigurationChangeTest::SetUp();
    Select(0);
    RunSetup(1, 0);  // A: two cameras
    const int a1 = store.GetCameraEntry(Cameras(0)[1]);
    const int b0 = store.GetCameraEntry(Cameras(1)[0]);
    ASSERT_EQ(store.AddStereoRig(a1, b0), 1);
    columns.BuildStereoRigPanel(a1, b0);
    ASSERT_EQ(store.GetEntryCount(), 7);
    GiveEveryCameraAnImage();
    ExpectInvariant();
    columns.log.clear();
  }
  // The answer's effect on sources, entries and columns; B always keeps
  // its camera, its images and its place.
  void Check(UINT button, int sources, int entries, const std::vector<std::string>& log) {
    const StripRect bVideo = view->Places().Video(1);
    RunRemove(button);
    EXPECT_EQ(view->SourceCount(), sources);
    EXPECT_EQ(store.GetEntryCount(), entries);
    EXPECT_EQ(columns.log, log);
    ExpectInvariant();
    const int b = sources - 1;
    EXPECT_EQ(Tags(b), std::vector<double>{bTag}) << "B names its own camera";
    EXPECT_EQ(store.GetImageCount(Cameras(b)[0]), 1);
    EXPECT_EQ(view->Places().Video(b), bVideo) << "B keeps its place";
    EXPECT_TRUE(view->VideoPanel(b)->IsWindowVisible());
    EXPECT_TRUE(view->DetailsPanel(b)->IsWindowVisible());
    EXPECT_EQ(view->DetailsPanel(b)->GetTitle(), "B");
    if (sources == 1) {
      EXPECT_EQ(view->GetSelected(), -1);
      EXPECT_EQ(view->Places().Details(0), (StripRect{10, 45, 200, 75})) << "collapsed, not moved up";
    } else {
      EXPECT_EQ(view->GetSelected(), 0);
      EXPECT_EQ(view->Places().Details(1).top, 45 + 75) << "A stays selected and grown";
    }
  }
};

TEST_F(RemoveSourceTest, CancelChangesNothing) { Check(CRemoveSourceOptionsDlg::kCancel, 2, 7, {}); }

TEST_F(RemoveSourceTest, NoKeepsTheCamerasAsImageFileCameras) {
  Check(CRemoveSourceOptionsDlg::kNo, 1, 7, {});
  EXPECT_EQ(store.GetImageCount(2), 1);
  EXPECT_EQ(store.GetImageCount(3), 1);
}

TEST_F(RemoveSourceTest, YesTakesTheCamerasAndTheirRigsAndRenumbersLaterSources) {
  Check(CRemoveSourceOptionsDlg::kYes, 1, 4, {"remove 6", "remove 4", "remove 3"});
  EXPECT_EQ(Cameras(0), std::vector<int>{2});
  EXPECT_EQ(store.GetStereoRigCount(), 1) << "the front rig stays";
}

TEST_F(SourcesViewTest, APressOnADetailsPanelReachesTheViewOnce) {
  for (const char* name : {"A", "B"}) AddDevice(name);
  Connect(1, "A");
  Connect(2, "B");
  window_test::Settle();
  QWindow* top = static_cast<QWidget*>(parent.GetHostWidget())->windowHandle();
  // The details panels pass presses on; the view (SS_NOTIFY) keeps them.
  const StripRect b = view->Places().Details(1);
  QTest::mouseClick(top, Qt::LeftButton, Qt::NoModifier, QPoint(b.left + 20, b.top + 10));
  window_test::Settle();
  EXPECT_EQ(view->GetSelected(), 1);
  // A press on A moves the selection; B moves down under the grown A.
  const StripRect a = view->Places().Details(0);
  QTest::mouseClick(top, Qt::LeftButton, Qt::NoModifier, QPoint(a.left + 20, a.top + 10), 1000);
  window_test::Settle();
  EXPECT_EQ(view->GetSelected(), 0);
  EXPECT_EQ(view->Places().Details(1).top, a.bottom + 75 + 5);
}

TEST_F(SourcesViewTest, CommandsWithoutSelectionDoNothing) {
  AddDevice("A");
  Connect(1, "A");
  bool opened = false;
  for (UINT command : {CStaticSourcesView::kSetupStreams, CStaticSourcesView::kRemoveSource}) {
    win::SetNextModalHook([&](CDialog& d) {
      opened = true;
      d.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    view->SendMessage(WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    win::SetNextModalHook(nullptr);
    EXPECT_FALSE(opened) << command;
  }
  EXPECT_EQ(view->SourceCount(), 1);
  EXPECT_EQ(store.GetEntryCount(), 1);
}

TEST_F(SourcesViewTest, CaptureButtonsOnlyForALiveSource) {
  AddDevice("Live");
  Connect(1, "Live");
  std::string why;
  const std::string clip = video_test::Clip("sources_view.avi", 64, 48, 5, &why);
  ASSERT_FALSE(clip.empty()) << why;
  files.push_back(clip);
  ASSERT_EQ(view->AddFileSource(clip.c_str(), "sources_view.avi"), 0);
  AppendCamera();
  EXPECT_TRUE(view->IsLive(0));
  EXPECT_FALSE(view->IsLive(1));
  EXPECT_EQ(view->DetailsPanel(1)->GetTitle(), "sources_view.avi");
  for (int source : {0, 1}) {
    SCOPED_TRACE(source);
    Select(source);
    const SetupSeen seen = RunSetup(0, 0, IDOK, IDCANCEL);
    ASSERT_TRUE(seen.opened);
    EXPECT_EQ(seen.filterEnabled, source == 0);
    EXPECT_EQ(seen.pinEnabled, source == 0);
  }
}

// A device held back before its first frame: the details text read then
// has no frame size; it must follow once frames come, without a selection,
// and a text that stays the same is not drawn again.
TEST_F(SourcesViewTest, DetailsTextFollowsTheFirstFrameWithoutASelection) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
  };
  auto gate = std::make_shared<Gate>();
  dshow::FakeDevice device = video_test::Device("Late", pattern);
  const dshow::FrameGenerator frames = device.generator;
  device.generator = [gate, frames](long frame, BYTE* bgr, int width, int height, int stride) {
    {
      // Bounded, so a failing test cannot hang the streaming thread.
      std::unique_lock<std::mutex> lock(gate->mutex);
      gate->opened.wait_for(lock, std::chrono::seconds(30), [&] { return gate->open; });
    }
    frames(frame, bgr, width, height, stride);
  };
  dshow::AddFakeDevice(device);
  auto release = [gate] {
    std::lock_guard<std::mutex> lock(gate->mutex);
    gate->open = true;
    gate->opened.notify_all();
  };

  win::ManualClock clock;
  Connect(1, "Late");
  CSourceDetailsPanel& details = *view->DetailsPanel(0);
  auto text = [&] { return details.GetInfoText(); };
  clock.Advance(100);
  EXPECT_NE(text().find("Camera Frame Size: 0 x 0"), std::string::npos) << text();
  release();
  EXPECT_TRUE(video_test::WaitFor([&] {
    clock.Advance(100);
    return text().find("Camera Frame Size: 64 x 48") != std::string::npos;
  })) << text();
  EXPECT_EQ(view->GetSelected(), -1) << "no press was needed";
  EXPECT_EQ(text(), view->VideoPanel(0)->GetInfoText());

  // Ticks with nothing new leave the drawn panel alone.
  ASSERT_NE(details.BackBuffer(), nullptr);
  std::uint32_t* corner = const_cast<std::uint32_t*>(details.BackBuffer());
  *corner = 0xFF123456;
  for (int i = 0; i < 5; ++i) clock.Advance(100);
  EXPECT_EQ(*details.BackBuffer(), 0xFF123456u) << "an unchanged text was drawn again";
}

TEST_F(ConfigurationChangeTest, CameraInsertedByHandBetweenASourcesCamerasStays) {
  Select(0);
  RunSetup(1, 0);  // A: cameras 2, 3; B: 4
  ASSERT_EQ(Cameras(0), (std::vector<int>{2, 3}));
  // A camera put in by hand between A's two; the data view tells the view.
  const int entry = store.GetCameraEntry(3);
  ASSERT_EQ(store.InsertCamera(entry), 1);
  columns.InsertCameraColumn(entry);
  view->OnCameraInserted(3);
  const double handTag = Tag(store, 3);
  EXPECT_EQ(Cameras(0), (std::vector<int>{2, 4}));
  EXPECT_EQ(Cameras(1), std::vector<int>{5});
  ExpectInvariant();
  // Back to single: A's own second camera goes, the hand one stays.
  columns.log.clear();
  RunSetup(0, 0);
  EXPECT_EQ(columns.log, std::vector<std::string>{"remove 5"});
  EXPECT_EQ(Tag(store, 3), handTag);
  EXPECT_EQ(Cameras(1), std::vector<int>{4});
  EXPECT_EQ(Tags(1), std::vector<double>{bTag});
  ExpectInvariant();
}

}  // namespace
