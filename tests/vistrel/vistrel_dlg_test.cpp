// The main dialog in-process, offscreen: start-up, its toolbar and titles,
// the keys, the commands that open dialogs, and the application object's
// start-up checks. Each test runs the dialog in its modal loop (as the
// program does) and acts from the next-modal hook.
#include "vistrel_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "gdiplus/startup.h"
#include "main_dialog_support.h"
#include "test_folder.h"
#include "vistrel_app.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "window_test_support.h"

namespace {

namespace fs = std::filesystem;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

using main_dialog_test::RunMain;

QWidget* Host(CWnd& w) { return static_cast<QWidget*>(w.GetHostWidget()); }

// A fresh folder per test, removed afterwards; drive C: maps to it.
class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = quorl_test::FreshTestFolder("vistrel_dlg");
    const char* old = std::getenv("QUORL_DRIVE_C");
    hadDrive = old != nullptr;
    if (old) oldDrive = old;
    setenv("QUORL_DRIVE_C", folder.c_str(), 1);
  }
  void TearDown() override {
    if (hadDrive) setenv("QUORL_DRIVE_C", oldDrive.c_str(), 1);
    else unsetenv("QUORL_DRIVE_C");
    fs::remove_all(folder);
  }

  // The template of the next modal dialog, which is ended at once; 0 when
  // none opens.
  static UINT NextModalTemplate(const std::function<void()>& action) {
    UINT opened = 0;
    win::SetNextModalHook([&](CDialog& d) {
      opened = d.m_nIDTemplate;
      d.EndDialog(IDCANCEL);
    });
    action();
    win::SetNextModalHook(nullptr);
    return opened;
  }

  static void Command(CVistrelDlg& d, UINT id) { d.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  static void Key(CVistrelDlg& d, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    // Keys go to the focused window: make it the main window's.
    QApplication::setActiveWindow(Host(d));
    Host(d)->setFocus();
    QTest::keyClick(Host(d), key, modifiers);
    window_test::Settle();
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder;
  bool hadDrive = false;
  std::string oldDrive;
};

CSize ClientSize(CWnd& w) {
  CRect r;
  w.GetClientRect(&r);
  return CSize(r.Width(), r.Height());
}

TEST_F(MainDialogTest, StartsOnTheWorkAreaWithItsToolbarTitlesAndHiddenDialogs) {
  RunMain([&](CVistrelDlg& d) {
    CString text;
    d.GetWindowText(text);
    EXPECT_STREQ(text, "Vistrel Toolkit");
    EXPECT_STREQ(d.GetTitle(), "Vistrel Suite - Morvath");
    RECT work{};
    SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    CRect window;
    d.GetWindowRect(&window);
    EXPECT_EQ(window, CRect(work));

    ASSERT_NE(d.GetTitleBar(), nullptr);
    EXPECT_TRUE(d.GetTitleBar()->HasIcon());
    EXPECT_TRUE(d.GetTitleBar()->MinimizeButton().m_hWnd != nullptr);
    ASSERT_NE(d.GetIcon(), nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(d.SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(d.GetIcon()))),
              d.GetIcon());
    EXPECT_EQ(reinterpret_cast<HICON>(d.SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(d.GetIcon()))),
              d.GetIcon());
    EXPECT_EQ(reinterpret_cast<HICON>(d.SendMessage(WM_QUERYDRAGICON)), d.GetIcon());

    const auto& buttons = d.Toolbar().Buttons();
    ASSERT_EQ(buttons.size(), 4u);
    const UINT ids[] = {CVistrelDlg::kOpen, CVistrelDlg::kSave, CVistrelDlg::kConnect, CVistrelDlg::kOptions};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(static_cast<UINT>(buttons[i]->GetDlgCtrlID()), ids[i]);
      EXPECT_TRUE(buttons[i]->IsWindowVisible());
    }
    EXPECT_STREQ(d.SourcesTitle().GetText(), "Source View");
    EXPECT_STREQ(d.DataTitle().GetText(), "Calibration Data View");

    EXPECT_TRUE(d.Editor().m_hWnd != nullptr);
    EXPECT_FALSE(d.Editor().IsWindowVisible());
    EXPECT_TRUE(d.Scene3D().GetSafeHwnd() != nullptr);
    EXPECT_FALSE(d.Scene3D().IsWindowVisible());

    // The two views share the client area below the toolbar without overlap.
    const CSize client = ClientSize(d);
    EXPECT_GT(d.SourcesViewRect().Height(), 100);
    EXPECT_GT(d.DataViewRect().Height(), d.SourcesViewRect().Height());
    EXPECT_LE(d.SourcesViewRect().bottom, d.DataViewRect().top);
    EXPECT_EQ(d.DataViewRect().bottom, client.cy - 10);
    EXPECT_EQ(d.DataViewRect().right, client.cx - 10);
  });
}

// Options for 1008 and 1015 (no control carries it); 1019 and 1023 are
// empty.
TEST_F(MainDialogTest, CommandsOpenTheOptionsDialogOrNothing) {
  RunMain([&](CVistrelDlg& d) {
    const struct {
      UINT command;
      UINT opens;
    } cases[] = {{1008, 158}, {1015, 158}, {1019, 0}, {1023, 0}};
    for (const auto& c : cases)
      EXPECT_EQ(NextModalTemplate([&] { Command(d, c.command); }), c.opens) << c.command;
  });
}

struct ScreenshotCase {
  bool editor;
  bool scene;
  Qt::KeyboardModifiers modifiers;
  std::vector<std::string> files;
};

class ScreenshotKeyTest : public MainDialogTest, public ::testing::WithParamInterface<ScreenshotCase> {};

TEST_P(ScreenshotKeyTest, WritesTheVisibleWindowsAtTheirClientSizes) {
  const ScreenshotCase& c = GetParam();
  RunMain([&](CVistrelDlg& d) {
    if (c.editor) d.Editor().ShowWindow(SW_SHOW);
    if (c.scene) d.Scene3D().ShowWindow(SW_SHOW);
    window_test::Settle();
    Key(d, Qt::Key_W, c.modifiers);
    EXPECT_EQ(Files(), c.files);
    const struct {
      const char* name;
      CWnd* window;
    } shots[] = {{"Main.png", &d}, {"Obj.png", &d.Editor()}, {"3D.png", &d.Scene3D()}};
    for (const auto& shot : shots) {
      if (!fs::exists(folder / shot.name)) continue;
      const QImage image(QString::fromStdString((folder / shot.name).string()));
      const CSize size = ClientSize(*shot.window);
      EXPECT_EQ(image.width(), size.cx) << shot.name;
      EXPECT_EQ(image.height(), size.cy) << shot.name;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(
    EditorAndSceneShownOrHidden, ScreenshotKeyTest,
    ::testing::Values(ScreenshotCase{false, false, Qt::NoModifier, {"Main.png"}},
                      ScreenshotCase{false, true, Qt::NoModifier, {"3D.png", "Main.png"}},
                      ScreenshotCase{true, false, Qt::ShiftModifier, {"Main.png", "Obj.png"}},
                      ScreenshotCase{true, true, Qt::ShiftModifier, {"3D.png", "Main.png", "Obj.png"}}),
    [](const ::testing::TestParamInfo<ScreenshotCase>& info) {
      return std::string(info.param.editor ? "Editor" : "NoEditor") + (info.param.scene ? "Scene" : "NoScene");
    });

// "w" and "W" are one key: pressed without Shift or with it, the W key
// arrives as the letter's own (upper-case) code.
TEST_F(MainDialogTest, LowerAndUpperCaseWAreTheSameKey) {
  RunMain([&](CVistrelDlg& d) {
    const Qt::KeyboardModifiers states[] = {Qt::NoModifier, Qt::ShiftModifier};
    for (const Qt::KeyboardModifiers modifiers : states) {
      Key(d, Qt::Key_W, modifiers);
      EXPECT_EQ(Files(), std::vector<std::string>{"Main.png"}) << (modifiers ? "W" : "w");
      fs::remove(folder / "Main.png");
    }
    d.SendMessage(WM_KEYDOWN, 'W', 0);
    EXPECT_EQ(Files(), std::vector<std::string>{"Main.png"});
  });
}

// Only the letters are shortcuts. The keys whose codes are the lower-case
// p, r, w and o (F1, F3, F8 and the keypad's divide) do nothing, pressed or
// sent as their codes; nor does the main block's "/".
TEST_F(MainDialogTest, FunctionAndKeypadKeysAreNoShortcuts) {
  RunMain([&](CVistrelDlg& d) {
    const CRect dataView = d.DataViewRect();
    const struct {
      const char* name;
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      UINT code;
    } keys[] = {
        {"F1", Qt::Key_F1, Qt::NoModifier, VK_F1},
        {"F3", Qt::Key_F3, Qt::NoModifier, VK_F1 + 2},
        {"F8", Qt::Key_F8, Qt::NoModifier, VK_F1 + 7},
        {"keypad divide", Qt::Key_Slash, Qt::KeypadModifier, VK_DIVIDE},
        {"slash", Qt::Key_Slash, Qt::NoModifier, VK_OEM_2},
    };
    for (const auto& k : keys) {
      EXPECT_EQ(NextModalTemplate([&] { Key(d, k.key, k.modifiers); }), 0u) << k.name;
      EXPECT_EQ(NextModalTemplate([&] { d.SendMessage(WM_KEYDOWN, k.code, 0); }), 0u) << k.name;
      EXPECT_TRUE(Files().empty()) << k.name;
      EXPECT_EQ(d.DataViewRect(), dataView) << k.name;
    }
    EXPECT_TRUE(d.IsWindowVisible());
  });
}

// CI may run as root, so a folder without write permission proves nothing:
// drive C: naming a regular file makes every screenshot unwritable.
TEST_F(MainDialogTest, AnUnwritableScreenshotIsReported) {
  const fs::path file = folder / "not_a_folder";
  std::ofstream(file) << "x";
  setenv("QUORL_DRIVE_C", file.c_str(), 1);
  win::ScriptedPrompts prompts;
  RunMain([&](CVistrelDlg& d) {
    d.Scene3D().ShowWindow(SW_SHOW);
    window_test::Settle();
    Key(d, Qt::Key_W);
  });
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, "Cannot write: C:\\Main.png!");
  EXPECT_EQ(prompts.boxes[1].text, "Cannot write: C:\\3D.png!");
}

TEST_F(MainDialogTest, TypingIntoTheEditorWritesNothing) {
  RunMain([&](CVistrelDlg& d) {
    d.Editor().ShowWindow(SW_SHOW);
    CEdit* edit = d.Editor().DistortionEdit();
    ASSERT_NE(edit, nullptr);
    auto* box = Host(*edit)->findChild<QLineEdit*>();
    ASSERT_NE(box, nullptr);
    QApplication::setActiveWindow(box->window());
    box->setFocus();
    box->clear();
    QTest::keyClick(box, Qt::Key_W);
    QTest::keyClick(box, Qt::Key_W, Qt::ShiftModifier);
    window_test::Settle();
    EXPECT_EQ(box->text().toLower().toStdString(), "ww");  // the keys reached the box
    EXPECT_TRUE(Files().empty());
  });
}

TEST_F(MainDialogTest, KeysOpenTheirDialogsAndNeverEndTheWindow) {
  RunMain([&](CVistrelDlg& d) {
    EXPECT_EQ(NextModalTemplate([&] { Key(d, Qt::Key_P); }), 156u);
    EXPECT_EQ(NextModalTemplate([&] { Key(d, Qt::Key_O); }), 159u);
    EXPECT_EQ(NextModalTemplate([&] { Key(d, Qt::Key_L); }), 0u);
    EXPECT_EQ(NextModalTemplate([&] { Key(d, Qt::Key_Return); }), 0u);
    EXPECT_EQ(NextModalTemplate([&] { Key(d, Qt::Key_Escape); }), 0u);
    EXPECT_TRUE(d.m_hWnd != nullptr);
    EXPECT_TRUE(d.IsWindowVisible());
    EXPECT_TRUE(Files().empty());
  });
}

TEST_F(MainDialogTest, RMovesTheDataViewsPlace) {
  RunMain([&](CVistrelDlg& d) {
    Key(d, Qt::Key_R);
    const CSize client = ClientSize(d);
    EXPECT_EQ(d.DataViewRect(), CRect(60, 350, client.cx - 10, client.cy - 10));
  });
}

// The default board beside the program: a valid file sets the board of
// every camera added later, an invalid or missing one leaves the store's.
TEST_F(MainDialogTest, DefaultBoardFileBesideTheProgram) {
  const CalibrationObjectSettings builtIn = CalibrationDataStore().GetDefaultSettings();
  const struct {
    const char* contents;  // null: no file
    int squaresX;
  } cases[] = {{"7 5 30.0 30.0 4 4\n", 7}, {"7 five 30.0\n", builtIn.squaresX}, {nullptr, builtIn.squaresX}};
  for (const auto& c : cases) {
    const fs::path program = folder / "program";
    fs::remove_all(program);
    fs::create_directories(program);
    if (c.contents) std::ofstream(program / "default_calib_plane.txt") << c.contents;
    RunMain(
        [&](CVistrelDlg& d) {
          d.Store().AddCamera();
          EXPECT_EQ(d.Store().GetObjectSettings(0).squaresX, c.squaresX) << (c.contents ? c.contents : "(none)");
        },
        program.string() + "/");
  }
}

// The shipped board: window 4 (a 19 x 19 search) marks real photos of a
// strongly distorted lens closest (bench/object_editor_bench --photos).
TEST_F(MainDialogTest, ShippedDefaultBoardIsReadFromTheProgramFolder) {
  RunMain([&](CVistrelDlg& d) {
    EXPECT_TRUE(d.Store().HasDefaultSettings());
    const CalibrationObjectSettings s = d.Store().GetDefaultSettings();
    EXPECT_EQ(s.squaresX, 9);
    EXPECT_EQ(s.squaresY, 6);
    EXPECT_DOUBLE_EQ(s.squareSizeX, 25.0);
    EXPECT_DOUBLE_EQ(s.squareSizeY, 25.0);
    EXPECT_EQ(s.windowX, 4);
    EXPECT_EQ(s.windowY, 4);
  });
}

// The application object: a refused GDI+ start ends the program before any
// window, with the reason on standard error and a non-zero code.
TEST(VistrelApp, RefusedGdiplusEndsBeforeAnyWindow) {
  CVistrelApp app;
  bool windowOpened = false;
  win::SetNextModalHook([&](CDialog& d) {
    windowOpened = true;
    d.EndDialog(IDOK);
  });
  Gdiplus::FailNextStartupForTesting(Gdiplus::Win32Error);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(app.InitInstance());
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(app.ExitInstance(), 0);
  win::SetNextModalHook(nullptr);
  EXPECT_FALSE(windowOpened);
  EXPECT_NE(errors.find("GDI+"), std::string::npos) << errors;
}

// A normal run: the main dialog is the main window while it runs, and the
// program ends cleanly after it.
TEST(VistrelApp, RunsTheMainDialogAndEndsCleanly) {
  CVistrelApp app;
  CWnd* mainWindow = nullptr;
  win::SetNextModalHook([&](CDialog& d) {
    mainWindow = AfxGetMainWnd();
    EXPECT_EQ(d.m_nIDTemplate, CVistrelDlg::IDD);
    d.EndDialog(IDOK);
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.ExitInstance(), 0);
  EXPECT_NE(mainWindow, nullptr);
  EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

}  // namespace
