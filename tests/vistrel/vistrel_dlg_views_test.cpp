// The main dialog with its two views: Open by extension, Connect, and the
// routing of presses to the view under them. In-process and offscreen, in
// the dialog's modal loop; video from generated clips and fake devices.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dshow/devices.h"
#include "gdiplus/startup.h"
#include "main_dialog_support.h"
#include "object_edit_dlg.h"
#include "source_details_panel.h"
#include "static_data_view.h"
#include "static_sources_view.h"
#include "test_folder.h"
#include "video_test_support.h"
#include "vistrel_dlg.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "window_test_support.h"

namespace {

namespace fs = std::filesystem;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

using main_dialog_test::RunMain;

class MainDialogViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = quorl_test::FreshTestFolder("vistrel_views");
    dshow::ClearFakeDevices();
  }
  void TearDown() override {
    dshow::ClearFakeDevices();
    fs::remove_all(folder);
  }

  // A small uncompressed AVI under the given file name (decoding goes by
  // content, whatever the extension says).
  std::string ClipNamed(const std::string& name) {
    std::string why;
    const std::string clip = video_test::Clip("main_dialog_clip.avi", 64, 48, 5, &why);
    if (clip.empty()) return "";
    const fs::path target = folder / name;
    fs::copy_file(clip, target, fs::copy_options::overwrite_existing);
    fs::remove(clip);
    return target.string();
  }

  static void Command(CVistrelDlg& d, UINT id) { d.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  static void Press(CVistrelDlg& d, CPoint p, UINT message = WM_LBUTTONDOWN) {
    d.SendMessage(message, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    if (message == WM_LBUTTONDOWN) d.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    window_test::Settle();
  }
  // A point of the data view in the main dialog's client coordinates.
  static CPoint InDataView(CVistrelDlg& d, CPoint viewPoint) { return d.DataViewRect().TopLeft() + viewPoint; }

  fs::path folder;
};

struct OpenCase {
  const char* name;
  enum { kVideo, kProject, kNothing } outcome;
};

class OpenByExtension : public MainDialogViewsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenByExtension, VideoProjectOrNothing) {
  const OpenCase& c = GetParam();
  std::string path;
  if (c.outcome == OpenCase::kProject) {
    path = (folder / c.name).string();
    std::ofstream(path) << "0\n";  // the reader refuses it: proof that it ran
  } else {
    path = ClipNamed(c.name);
    ASSERT_FALSE(path.empty());
  }
  win::ScriptedPrompts prompts;
  prompts.fileAnswers.push_back({true, {path}});
  RunMain([&](CVistrelDlg& d) {
    Command(d, CVistrelDlg::kOpen);
    const int sources = c.outcome == OpenCase::kVideo ? 1 : 0;
    EXPECT_EQ(d.SourcesView().SourceCount(), sources);
    EXPECT_EQ(d.DataView().GetColumnCount(), sources);
    EXPECT_EQ(d.Store().GetMonoCameraCount(), sources);
  });
  ASSERT_EQ(prompts.files.size(), 1u);
  EXPECT_EQ(prompts.files[0].defaultExt, "txt");
  EXPECT_EQ(prompts.files[0].initialName, "Calib Proj");
  EXPECT_EQ(prompts.files[0].filters.size(), 3u);
  if (c.outcome == OpenCase::kProject) {
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "This does not appear to be a valid calibration project..!!");
  } else {
    EXPECT_TRUE(prompts.boxes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Extensions, OpenByExtension,
                         ::testing::Values(OpenCase{"clip.avi", OpenCase::kVideo}, OpenCase{"clip.mpg", OpenCase::kVideo},
                                           OpenCase{"clip.wmv", OpenCase::kVideo}, OpenCase{"clip.AVI", OpenCase::kVideo},
                                           OpenCase{"project.txt", OpenCase::kProject},
                                           OpenCase{"clip.png", OpenCase::kNothing},
                                           OpenCase{"clip", OpenCase::kNothing}),
                         [](const ::testing::TestParamInfo<OpenCase>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (ch == '.') ch = '_';
                           return n;
                         });

// A video that cannot be opened (missing, or not a video at all): one
// message, from the sources view, and nothing added.
TEST_F(MainDialogViewsTest, AVideoThatCannotBeOpenedAddsNothing) {
  const std::string garbage = (folder / "garbage.avi").string();
  std::ofstream(garbage) << "this is not a video";
  for (const std::string& path : {(folder / "missing.avi").string(), garbage}) {
    win::ScriptedPrompts prompts;
    prompts.fileAnswers.push_back({true, {path}});
    RunMain([&](CVistrelDlg& d) {
      Command(d, CVistrelDlg::kOpen);
      EXPECT_EQ(d.SourcesView().SourceCount(), 0) << path;
      EXPECT_EQ(d.DataView().GetColumnCount(), 0) << path;
      EXPECT_EQ(d.Store().GetMonoCameraCount(), 0) << path;
    });
    EXPECT_EQ(prompts.boxes.size(), 1u) << path;
  }
}

// Connect: the selection dialog cancelled, closed with no device, or a
// device that cannot open adds nothing; a working device one column and
// one camera.
TEST_F(MainDialogViewsTest, ConnectAddsAColumnAndACameraOnlyForAnOpenedDevice) {
  dshow::FakeDevice broken;
  broken.name = "Broken camera";
  broken.makeFilter = [] { return static_cast<IBaseFilter*>(nullptr); };
  dshow::AddFakeDevice(broken);
  dshow::FakeDevice working;
  working.name = "Working camera";
  dshow::AddFakeDevice(working);

  const struct {
    const char* what;
    std::function<void(CDialog&)> answer;
    int added;
  } cases[] = {
      {"cancelled", [](CDialog& s) { s.EndDialog(IDCANCEL); }, 0},
      {"no device chosen", [](CDialog& s) { static_cast<CComboBox*>(s.GetDlgItem(1069))->SetCurSel(-1); s.SendMessage(WM_COMMAND, IDOK, 0); }, 0},
      {"cannot open", [](CDialog& s) { static_cast<CComboBox*>(s.GetDlgItem(1069))->SetCurSel(0); s.SendMessage(WM_COMMAND, IDOK, 0); }, 0},
      {"opens", [](CDialog& s) { static_cast<CComboBox*>(s.GetDlgItem(1069))->SetCurSel(1); s.SendMessage(WM_COMMAND, IDOK, 0); }, 1},
  };
  for (const auto& c : cases) {
    win::ScriptedPrompts prompts;
    RunMain([&](CVistrelDlg& d) {
      UINT opened = 0;
      win::SetNextModalHook([&](CDialog& s) {
        opened = s.m_nIDTemplate;
        c.answer(s);
      });
      Command(d, CVistrelDlg::kConnect);
      EXPECT_EQ(opened, 150u) << c.what;
      EXPECT_EQ(d.SourcesView().SourceCount(), c.added) << c.what;
      EXPECT_EQ(d.DataView().GetColumnCount(), c.added) << c.what;
      EXPECT_EQ(d.Store().GetMonoCameraCount(), c.added) << c.what;
    });
  }
}

TEST_F(MainDialogViewsTest, APressOnADataViewPanelSelectsItOnce) {
  RunMain([&](CVistrelDlg& d) {
    d.DataView().InsertNewCamera();
    d.DataView().InsertNewCamera();
    const CRect before = d.DataView().GetPanelRect(0);
    Press(d, InDataView(d, before.CenterPoint()));
    EXPECT_EQ(d.DataView().GetSelectedEntry(), 0);
    EXPECT_EQ(d.DataView().GetPanelRect(0).Height(), before.Height() + 75);
    // The same press again changes nothing: the panel grew once.
    Press(d, InDataView(d, before.CenterPoint()));
    EXPECT_EQ(d.DataView().GetPanelRect(0).Height(), before.Height() + 75);
  });
}

TEST_F(MainDialogViewsTest, ADoubleClickOnACameraColumnOpensTheEditorOnIt) {
  RunMain([&](CVistrelDlg& d) {
    d.DataView().InsertNewCamera();
    d.DataView().InsertNewCamera();
    ASSERT_FALSE(d.Editor().IsWindowVisible());
    Press(d, InDataView(d, d.DataView().GetColumnRect(1).CenterPoint()), WM_LBUTTONDBLCLK);
    EXPECT_TRUE(d.Editor().IsWindowVisible());
    EXPECT_EQ(d.Editor().Model().Camera(), 1);
  });
}

// The editor is a popup of its own: a grab into the camera it shows must
// reach it, not only the data view. Its view shows the new image at once and
// the image it was on stays current.
TEST_F(MainDialogViewsTest, AGrabShowsInTheEditorOpenOnItsCamera) {
  const std::string clip = ClipNamed("clip.avi");
  ASSERT_FALSE(clip.empty());
  win::ScriptedPrompts prompts;
  prompts.fileAnswers.push_back({true, {clip}});
  RunMain([&](CVistrelDlg& d) {
    Command(d, CVistrelDlg::kOpen);
    ASSERT_EQ(d.SourcesView().SourceCount(), 1);
    ASSERT_EQ(d.Store().GetImageCount(0), 0);
    Press(d, InDataView(d, d.DataView().GetColumnRect(0).CenterPoint()), WM_LBUTTONDBLCLK);
    CObjectEditDlg& editor = d.Editor();
    ASSERT_TRUE(editor.IsWindowVisible());
    auto info = [&] { return std::string(editor.InfoLabel()->GetText().GetString()); };
    EXPECT_EQ(info(), "") << "no image to show yet";

    auto grab = [&](int count) {
      return video_test::WaitFor([&] {
        d.SourcesView().VideoPanel(0)->CaptureImage();
        return d.Store().GetImageCount(0) >= count;
      });
    };
    ASSERT_TRUE(grab(1));
    window_test::Settle();
    EXPECT_TRUE(editor.Model().Selected());
    EXPECT_EQ(info().rfind("Camera 1, Image 1 - Status: Undetected", 0), 0u) << info();

    ASSERT_TRUE(grab(2));
    window_test::Settle();
    EXPECT_EQ(editor.Model().Image(), 0) << "the current image stays";
    editor.SendMessage(WM_COMMAND, MAKEWPARAM(ObjectEditorModel::kNextImage, BN_CLICKED), 0);
    window_test::Settle();
    EXPECT_EQ(info().rfind("Camera 1, Image 2 - Status: Undetected", 0), 0u) << info();
  });
}

// R moves the data view and the place presses are routed by: a press at
// the view's new place reaches its panel.
TEST_F(MainDialogViewsTest, AfterRAPressAtTheDataViewsNewPlaceSelectsAPanel) {
  RunMain([&](CVistrelDlg& d) {
    d.DataView().InsertNewCamera();
    d.SendMessage(WM_KEYDOWN, 'R', 0);
    window_test::Settle();
    CRect moved;
    d.DataView().GetWindowRect(&moved);
    d.ScreenToClient(&moved);
    EXPECT_EQ(moved, d.DataViewRect());
    Press(d, InDataView(d, d.DataView().GetPanelRect(0).CenterPoint()));
    EXPECT_EQ(d.DataView().GetSelectedEntry(), 0);
  });
}

TEST_F(MainDialogViewsTest, APressInTheSourcesViewSelectsASource) {
  const std::string clip = ClipNamed("clip.avi");
  ASSERT_FALSE(clip.empty());
  win::ScriptedPrompts prompts;
  prompts.fileAnswers.push_back({true, {clip}});
  RunMain([&](CVistrelDlg& d) {
    Command(d, CVistrelDlg::kOpen);
    ASSERT_EQ(d.SourcesView().SourceCount(), 1);
    CRect details;
    d.SourcesView().DetailsPanel(0)->GetWindowRect(&details);
    d.ScreenToClient(&details);
    Press(d, details.CenterPoint());
    EXPECT_EQ(d.SourcesView().GetSelected(), 0);
    EXPECT_EQ(d.DataView().GetSelectedEntry(), -1);
  });
}

}  // namespace
