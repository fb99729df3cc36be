#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "win/app.h"
#include "win/dialog.h"
#include "win/prompts.h"

namespace {

QWindow* TopWindow(CWnd& w) {
  return static_cast<QWidget*>(w.GetTopLevelParent()->GetHostWidget())->windowHandle();
}

// A parent that records the commands and presses it gets.
class Parent : public CWnd {
 public:
  std::vector<std::pair<UINT, UINT>> commands;  // id, code
  int presses = 0;

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM) override {
    commands.push_back({LOWORD(wp), HIWORD(wp)});
    return TRUE;
  }
  void OnLButtonDown(UINT, CPoint) { ++presses; }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Parent, CWnd)
ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

class DrawnButton : public CButton {
 public:
  std::vector<UINT> states;
  void DrawItem(LPDRAWITEMSTRUCT dis) override {
    states.push_back(dis->itemState & ODS_SELECTED);
    CDC* dc = CDC::FromHandle(dis->hDC);
    dc->FillSolidRect(&dis->rcItem, (dis->itemState & ODS_SELECTED) ? RGB(255, 0, 0) : RGB(0, 0, 255));
  }
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(50, 50, 350, 250), nullptr, 0));
    win::PumpMessages();
  }
  void TearDown() override { parent.DestroyWindow(); }
  Parent parent;
  win::ScriptedPrompts prompts;
};

TEST_F(ControlsTest, OwnerDrawButtonPressDrawsSelectedAndClicksOnReleaseInside) {
  DrawnButton b;
  ASSERT_TRUE(b.Create("", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(10, 10, 34, 34), &parent, 1124));
  win::PumpMessages();
  ASSERT_FALSE(b.states.empty());
  EXPECT_EQ(b.states.back(), 0u);
  QWindow* w = TopWindow(parent);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_EQ(b.states.back(), ODS_SELECTED);
  CClientDC dc(&parent);
  EXPECT_EQ(dc.GetPixel(20, 20), RGB(255, 0, 0));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_EQ(b.states.back(), 0u);
  ASSERT_EQ(parent.commands.size(), 1u);
  EXPECT_EQ(parent.commands[0], std::make_pair(1124u, BN_CLICKED));
  // Released outside: no click.
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20), 1000);
  QTest::mouseMove(w, QPoint(100, 100));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
  EXPECT_EQ(parent.commands.size(), 1u);
  // BM_SETSTYLE back to a push button shows the Qt button.
  b.SetButtonStyle(BS_PUSHBUTTON);
  EXPECT_EQ(b.GetButtonStyle() & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST_F(ControlsTest, OwnerDrawDoubleClickGivesClickedThenDoubleClicked) {
  DrawnButton b;
  ASSERT_TRUE(b.Create("", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(10, 10, 34, 34), &parent, 7));
  QTest::mouseDClick(TopWindow(parent), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  ASSERT_GE(parent.commands.size(), 2u);
  EXPECT_EQ(parent.commands[0], std::make_pair(7u, BN_CLICKED));
  EXPECT_EQ(parent.commands[1], std::make_pair(7u, BN_DOUBLECLICKED));
  EXPECT_EQ(BN_DOUBLECLICKED, 5u);
}

TEST_F(ControlsTest, NonNotifyStaticPassesPressesToItsParentButNotItsChildren) {
  CStatic bar;
  ASSERT_TRUE(bar.Create("title", WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 30), &parent, 1));
  CButton close;
  ASSERT_TRUE(close.Create("x", WS_CHILD | WS_VISIBLE, CRect(270, 5, 290, 25), &bar, 2));
  QWindow* w = TopWindow(parent);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
  EXPECT_EQ(parent.presses, 1);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(280, 15), 1000);
  EXPECT_EQ(parent.presses, 1);
  // SS_NOTIFY keeps presses and tells the parent.
  CStatic notify;
  ASSERT_TRUE(notify.Create("n", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(0, 100, 50, 130), &parent, 3));
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(10, 110), 1000);
  EXPECT_EQ(parent.presses, 1);
  ASSERT_FALSE(parent.commands.empty());
  EXPECT_EQ(parent.commands.back(), std::make_pair(3u, STN_CLICKED));
}

TEST_F(ControlsTest, StaticDrawsItsTextOnTheCtlColorBrush) {
  CStatic label;
  ASSERT_TRUE(label.Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 40, 20), &parent, 1));
  win::PumpMessages();
  CClientDC dc(&parent);
  EXPECT_EQ(dc.GetPixel(5, 5), GetSysColor(COLOR_BTNFACE));
}

TEST_F(ControlsTest, ComboAndEditKeepTheirState) {
  CComboBox combo;
  ASSERT_TRUE(combo.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(0, 0, 100, 200), &parent, 1));
  EXPECT_EQ(combo.AddString("one"), 0);
  EXPECT_EQ(combo.AddString("two"), 1);
  EXPECT_EQ(combo.GetCount(), 2);
  EXPECT_EQ(combo.SetCurSel(1), 1);
  EXPECT_EQ(combo.GetCurSel(), 1);
  EXPECT_EQ(combo.SetCurSel(5), CB_ERR);
  EXPECT_EQ(combo.GetCurSel(), -1);
  CString t;
  combo.GetLBText(1, t);
  EXPECT_EQ(t, "two");
  EXPECT_TRUE(parent.commands.empty());  // programmatic selection does not notify
  // A choice by the user notifies the parent.
  auto* box = static_cast<QWidget*>(combo.GetHostWidget())->findChild<QComboBox*>();
  ASSERT_NE(box, nullptr);
  box->setCurrentIndex(0);
  emit box->activated(0);
  ASSERT_EQ(parent.commands.size(), 1u);
  EXPECT_EQ(parent.commands[0], std::make_pair(1u, CBN_SELCHANGE));
  EXPECT_EQ(combo.GetCurSel(), 0);
  CEdit edit;
  ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | ES_CENTER, CRect(0, 0, 100, 20), &parent, 2));
  edit.SetWindowText("3.5");
  edit.GetWindowText(t);
  EXPECT_EQ(t, "3.5");
}

// A template's combo box height is how far its list drops: the window itself
// is the closed box, so it does not cover the controls laid out below it.
TEST_F(ControlsTest, DropDownComboWindowIsItsClosedBox) {
  struct Case {
    DWORD type;
    int height;
  } const cases[] = {{CBS_DROPDOWNLIST, 24}, {CBS_DROPDOWN, 24}, {CBS_SIMPLE, 120}};
  UINT id = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    CComboBox combo;
    ASSERT_TRUE(combo.Create(WS_CHILD | WS_VISIBLE | c.type, CRect(5, 10, 105, 130), &parent, id++));
    CRect r;
    combo.GetWindowRect(&r);
    parent.ScreenToClient(&r);
    EXPECT_EQ(r, CRect(5, 10, 105, 10 + c.height));
  }
  // A low combo keeps its height.
  CComboBox low;
  ASSERT_TRUE(low.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(0, 0, 100, 20), &parent, id++));
  CRect r;
  low.GetClientRect(&r);
  EXPECT_EQ(r.Height(), 20);
}

TEST_F(ControlsTest, MultiLineEditBreaksLinesAndGivesItsTextBack) {
  CEdit edit;
  ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, CRect(0, 0, 200, 60), &parent, 4));
  auto* text = static_cast<QWidget*>(edit.GetHostWidget())->findChild<QPlainTextEdit*>();
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->isReadOnly());
  edit.SetWindowText("first\nsecond\r\nthird");
  EXPECT_EQ(text->blockCount(), 3) << "LF and CR LF each end a line";
  CString t;
  edit.GetWindowText(t);
  EXPECT_EQ(t, "first\nsecond\r\nthird");
  // What the user changes comes back, with a notification.
  parent.commands.clear();
  text->setPlainText("typed\nlines");
  edit.GetWindowText(t);
  EXPECT_EQ(t, "typed\nlines");
  ASSERT_FALSE(parent.commands.empty());
  EXPECT_EQ(parent.commands.back(), std::make_pair(4u, static_cast<UINT>(EN_CHANGE)));
}

TEST_F(ControlsTest, NativeControlsFollowTheirWindowsSize) {
  CButton button;
  CEdit edit;
  CComboBox combo;
  ASSERT_TRUE(button.Create("OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 60, 20), &parent, 1));
  ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE, CRect(0, 30, 60, 50), &parent, 2));
  ASSERT_TRUE(combo.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(0, 60, 60, 160), &parent, 3));
  button.MoveWindow(0, 0, 90, 30);
  edit.MoveWindow(0, 30, 120, 26);
  combo.MoveWindow(0, 60, 80, 200);
  win::PumpMessages();
  auto native = [](CWnd& w, auto* kind) {
    return static_cast<QWidget*>(w.GetHostWidget())->findChild<std::remove_pointer_t<decltype(kind)>*>();
  };
  QWidget* b = native(button, static_cast<QPushButton*>(nullptr));
  QWidget* e = native(edit, static_cast<QLineEdit*>(nullptr));
  QWidget* c = native(combo, static_cast<QComboBox*>(nullptr));
  ASSERT_TRUE(b && e && c);
  EXPECT_EQ(b->geometry(), QRect(0, 0, 90, 30));
  EXPECT_EQ(e->geometry(), QRect(0, 0, 120, 26));
  EXPECT_EQ(c->geometry(), QRect(0, 0, 80, 24));  // the closed box only
}

TEST(DialogUnits, FixedBaseUnits) {
  EXPECT_EQ(win::DialogUnitsToPixelsX(50), 75);
  EXPECT_EQ(win::DialogUnitsToPixelsY(14), 23);
  EXPECT_EQ(win::DialogUnitsToPixelsX(204), 306);
  EXPECT_EQ(win::DialogUnitsToPixelsY(142), 231);
}

// Templates are often filled in field by field; what is left out must be
// zero (x = y = 0 centres the dialog), whatever the memory held before.
TEST(DialogTemplateFields, LeftOutFieldsAreZero) {
  alignas(win::DialogTemplate) unsigned char storage[sizeof(win::DialogTemplate)];
  std::memset(storage, 0xA5, sizeof storage);
  auto* t = new (storage) win::DialogTemplate;
  EXPECT_EQ(t->id, 0u);
  EXPECT_EQ(t->style, 0u);
  EXPECT_EQ(t->x, 0);
  EXPECT_EQ(t->y, 0);
  EXPECT_EQ(t->cx, 0);
  EXPECT_EQ(t->cy, 0);
  t->~DialogTemplate();

  alignas(win::DialogItemTemplate) unsigned char itemStorage[sizeof(win::DialogItemTemplate)];
  std::memset(itemStorage, 0xA5, sizeof itemStorage);
  auto* item = new (itemStorage) win::DialogItemTemplate;
  EXPECT_EQ(item->id, 0u);
  EXPECT_EQ(item->x, 0);
  EXPECT_EQ(item->y, 0);
  EXPECT_EQ(item->cx, 0);
  EXPECT_EQ(item->cy, 0);
  EXPECT_EQ(item->style, 0u);
  item->~DialogItemTemplate();
}

constexpr UINT kDlg = 9001;
constexpr UINT kEdit = 1001;

void RegisterTestDialog() {
  win::RegisterDialogTemplate({kDlg,
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
                               0,
                               0,
                               204,
                               142,
                               "Test",
                               "MS Shell Dlg",
                               8,
                               {{"EDIT", kEdit, "", 7, 7, 50, 14, WS_TABSTOP | ES_CENTER},
                                {"BUTTON", IDOK, "OK", 7, 100, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON},
                                {"BUTTON", IDCANCEL, "Cancel", 60, 100, 50, 14, WS_TABSTOP}}});
}

class ValueDialog : public CDialog {
 public:
  explicit ValueDialog(CWnd* parent = nullptr) : CDialog(kDlg, parent) {}
  int value = 3;
  bool endInInit = false;
  CEdit edit;
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kEdit, edit);
    DDX_Text(dx, kEdit, value);
    DDV_MinMaxInt(dx, value, 1, 10);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (endInInit) EndDialog(42);
    return TRUE;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestDialog();
    ASSERT_TRUE(owner.CreateEx(0, "O", "owner", WS_POPUP | WS_VISIBLE, CRect(0, 0, 640, 480), nullptr, 0));
  }
  void TearDown() override { owner.DestroyWindow(); }
  void Key(CDialog& d, Qt::Key k) { QTest::keyClick(TopWindow(d), k); }
  CWnd owner;
  win::ScriptedPrompts prompts;
};

TEST_F(DialogTest, UnknownTemplateGivesMinusOne) {
  CDialog d(4242, &owner);
  EXPECT_EQ(d.DoModal(), -1);
}

TEST_F(DialogTest, EnterIsOkAndEscapeIsCancel) {
  ValueDialog d(&owner);
  bool ownerDisabled = false;
  CRect size;
  win::SetNextModalHook([&](CDialog& dlg) {
    ownerDisabled = !owner.IsWindowEnabled();
    dlg.GetClientRect(&size);
    CString t;
    dlg.GetDlgItem(kEdit)->GetWindowText(t);
    EXPECT_EQ(t, "3");  // OnInitDialog loaded the value
    dlg.GetDlgItem(kEdit)->SetWindowText("7");
    Key(dlg, Qt::Key_Return);
  });
  EXPECT_EQ(d.DoModal(), IDOK);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(owner.IsWindowEnabled());
  EXPECT_EQ(size, CRect(0, 0, 306, 231));
  EXPECT_EQ(d.value, 7);
  EXPECT_EQ(d.m_hWnd, nullptr);
  ValueDialog e(&owner);
  win::SetNextModalHook([&](CDialog& dlg) {
    dlg.GetDlgItem(kEdit)->SetWindowText("8");
    Key(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(e.DoModal(), IDCANCEL);
  EXPECT_EQ(e.value, 3);
}

TEST_F(DialogTest, EndDialogInOnInitDialogNeverShows) {
  ValueDialog d(&owner);
  d.endInInit = true;
  bool hookRan = false;
  win::SetNextModalHook([&](CDialog&) { hookRan = true; });
  EXPECT_EQ(d.DoModal(), 42);
  EXPECT_FALSE(hookRan);
  win::SetNextModalHook(nullptr);
}

TEST_F(DialogTest, ValidationRefusalKeepsTheDialogOpen) {
  ValueDialog d(&owner);
  bool stayed = false;
  win::SetNextModalHook([&](CDialog& dlg) {
    dlg.GetDlgItem(kEdit)->SetWindowText("42");
    Key(dlg, Qt::Key_Return);
    stayed = dlg.IsWindowVisible() != FALSE;
    EXPECT_EQ(CWnd::GetFocus(), dlg.GetDlgItem(kEdit));
    dlg.GetDlgItem(kEdit)->SetWindowText("abc");
    Key(dlg, Qt::Key_Return);
    dlg.GetDlgItem(kEdit)->SetWindowText("5");
    Key(dlg, Qt::Key_Return);
  });
  EXPECT_EQ(d.DoModal(), IDOK);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(d.value, 5);
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, "Please enter an integer between 1 and 10.");
  EXPECT_EQ(prompts.boxes[1].text, "Please enter an integer.");
}

// Each number field reads only what fits its type and shows the type's own
// significant digits.
TEST_F(DialogTest, NumberFieldsKeepToTheirTypes) {
  ValueDialog d(&owner);
  win::SetNextModalHook([&](CDialog& dlg) {
    CWnd* edit = dlg.GetDlgItem(kEdit);
    auto read = [&](const char* text, auto& value) {
      edit->SetWindowText(text);
      CDataExchange dx(&dlg, TRUE);
      try {
        DDX_Text(&dx, kEdit, value);
        return true;
      } catch (...) {
        return false;
      }
    };
    auto shown = [&](auto value) {
      CDataExchange dx(&dlg, FALSE);
      DDX_Text(&dx, kEdit, value);
      CString t;
      edit->GetWindowText(t);
      return std::string(t.GetString());
    };
    UINT u = 7;
    EXPECT_TRUE(read(" 4294967295 ", u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_FALSE(read("-1", u));
    EXPECT_FALSE(read("4294967296", u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(shown(4000000000u), "4000000000");
    int i = 0;
    EXPECT_TRUE(read("-2147483648", i));
    EXPECT_EQ(i, -2147483647 - 1);
    EXPECT_FALSE(read("2147483648", i));
    EXPECT_EQ(shown(-12), "-12");
    double x = 0;
    EXPECT_TRUE(read("1e39", x));
    EXPECT_EQ(x, 1e39);
    EXPECT_FALSE(read("inf", x));
    EXPECT_EQ(shown(1.0 / 3), "0.333333333333333");
    float f = 0;
    EXPECT_FALSE(read("1e39", f));
    EXPECT_TRUE(read("-2.5", f));
    EXPECT_EQ(f, -2.5f);
    EXPECT_EQ(shown(1.0f / 3), "0.333333");
    Key(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(d.DoModal(), IDCANCEL);
  std::vector<std::string> refusals;
  for (const auto& box : prompts.boxes) refusals.push_back(std::string(box.text));
  EXPECT_EQ(refusals, (std::vector<std::string>{"Please enter a positive integer.", "Please enter a positive integer.",
                                                "Please enter an integer.", "Please enter a number.",
                                                "Please enter a number."}));
}

class OuterDialog : public ValueDialog {
 public:
  using ValueDialog::ValueDialog;
  INT_PTR inner = 0;

 protected:
  LRESULT OnRunInner(WPARAM, LPARAM) {
    ValueDialog in(this);
    win::SetNextModalHook([](CDialog& dlg) { dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); });
    inner = in.DoModal();
    EndDialog(IDCANCEL + 10);
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(OuterDialog, ValueDialog)
ON_MESSAGE(WM_USER + 1, OnRunInner)
END_MESSAGE_MAP()

TEST_F(DialogTest, ModalDialogsNest) {
  OuterDialog d(&owner);
  win::SetNextModalHook([](CDialog& dlg) { dlg.PostMessage(WM_USER + 1, 0, 0); });
  EXPECT_EQ(d.DoModal(), IDCANCEL + 10);
  EXPECT_EQ(d.inner, IDOK);
}

TEST(Prompts, FilterStrings) {
  struct Case {
    const char* filter;
    std::vector<std::pair<std::string, std::vector<std::string>>> want;
  };
  const std::vector<Case> cases = {
      {"Bitmap (*.bmp)|*.bmp|PNG|*.png;*.PNG||", {{"Bitmap (*.bmp)", {"*.bmp"}}, {"PNG", {"*.png", "*.PNG"}}}},
      {"All files|*.*|", {{"All files", {"*.*"}}}},
      {"Text|*.txt", {{"Text", {"*.txt"}}}},
      {"", {}},
      {"Dangling|", {}},
      {"A|*.a||B|*.b||", {{"A", {"*.a"}}}},
  };
  for (const Case& c : cases) {
    const auto got = win::ParseFilter(c.filter);
    ASSERT_EQ(got.size(), c.want.size()) << c.filter;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].description, c.want[i].first) << c.filter;
      EXPECT_EQ(got[i].patterns, c.want[i].second) << c.filter;
    }
  }
}

// What the file dialog lists: each filter's patterns once (a label that
// names its patterns already used to show them twice).
TEST(Prompts, FilterLabels) {
  struct Case {
    win::FileFilter filter;
    const char* label;
  };
  const Case cases[] = {
      {{"Calibration Project Files (*.txt)", {"*.txt"}}, "Calibration Project Files (*.txt)"},
      {{"Video Files (*.avi;*.mpg;*.wmv)", {"*.avi", "*.mpg", "*.wmv"}}, "Video Files (*.avi *.mpg *.wmv)"},
      {{"Image Files (*.bmp;*.jpg;*.tif;*.png;*.gif)", {"*.bmp", "*.jpg", "*.tif", "*.png", "*.gif"}},
       "Image Files (*.bmp *.jpg *.tif *.png *.gif)"},
      {{"All Files (*.*)", {"*.*"}}, "All Files (*.*)"},
      // The filter's own patterns count, not what the label says.
      {{"Text (*.txt) ", {"*.txt", "*.TXT"}}, "Text (*.txt *.TXT)"},
      {{"PNG", {"*.png", "*.PNG"}}, "PNG (*.png *.PNG)"},
      // Parentheses that hold no pattern are part of the description.
      {{"Text (UTF-8)", {"*.txt"}}, "Text (UTF-8) (*.txt)"},
      {{"", {"*.a"}}, "(*.a)"},
  };
  for (const Case& c : cases) EXPECT_EQ(win::FilterLabel(c.filter), c.label) << c.filter.description;
}

TEST(Prompts, FileDialogAndMessageBoxesGoThroughTheSeam) {
  win::ScriptedPrompts p;
  p.fileAnswers.push_back({true, {"/tmp/x/calib"}});
  CFileDialog save(FALSE, "txt", "calib", OFN_OVERWRITEPROMPT, "Text (*.txt)|*.txt||");
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), "/tmp/x/calib.txt");
  EXPECT_EQ(save.GetFileName(), "calib.txt");
  EXPECT_EQ(save.GetFileExt(), "txt");
  EXPECT_EQ(save.GetFileTitle(), "calib");
  ASSERT_EQ(p.files.size(), 1u);
  EXPECT_FALSE(p.files[0].open);
  EXPECT_EQ(p.files[0].defaultExt, "txt");
  EXPECT_EQ(p.files[0].initialName, "calib");
  EXPECT_EQ(p.files[0].flags, OFN_OVERWRITEPROMPT);
  ASSERT_EQ(p.files[0].filters.size(), 1u);
  p.fileAnswers.push_back({true, {"/a/1.bmp", "/a/2.bmp"}});
  CFileDialog open(TRUE, nullptr, nullptr, OFN_ALLOWMULTISELECT, "Bitmap|*.bmp||");
  ASSERT_EQ(open.DoModal(), IDOK);
  std::vector<std::string> names;
  for (auto pos = open.GetStartPosition(); pos;) names.push_back(open.GetNextPathName(pos).str());
  EXPECT_EQ(names, (std::vector<std::string>{"/a/1.bmp", "/a/2.bmp"}));
  CFileDialog cancelled(TRUE);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_EQ(cancelled.GetPathName(), "");
  p.boxAnswers.push_back(IDNO);
  EXPECT_EQ(AfxMessageBox("Save changes?", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(MessageBox(nullptr, "plain", "cap", MB_OK), IDOK);
  ASSERT_EQ(p.boxes.size(), 2u);
  EXPECT_EQ(p.boxes[0].text, "Save changes?");
  EXPECT_EQ(p.boxes[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(p.boxes[1].caption, "cap");
}

// The title bar a user sees: a box given no caption reads "Error" (never an
// empty bar); an empty caption is the caller's own choice and stays.
TEST(Prompts, MessageBoxCaptions) {
  win::ScriptedPrompts p;
  CWnd window;
  struct Case {
    const char* name;
    std::function<void()> show;
    const char* caption;
  };
  const Case cases[] = {
      {"no caption", [] { MessageBox(nullptr, "text", nullptr, MB_OK); }, "Error"},
      {"an empty caption", [] { MessageBox(nullptr, "text", "", MB_OK); }, ""},
      {"a caption", [] { MessageBox(nullptr, "text", "Add images", MB_OK); }, "Add images"},
      {"a window's box without a caption", [&] { window.MessageBox("text"); }, "Error"},
      {"a window's box with one", [&] { window.MessageBox("text", "Add images"); }, "Add images"},
      {"the application's box without an application", [] { AfxMessageBox("text"); }, "Error"},
      {"the application's box", [] {
         CWinApp app("Vistrel");
         AfxMessageBox("text");
       }, "Vistrel"},
      {"an application without a name", [] {
         CWinApp app(nullptr);
         AfxMessageBox("text");
       }, "Error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    p.boxes.clear();
    c.show();
    ASSERT_EQ(p.boxes.size(), 1u);
    EXPECT_EQ(p.boxes[0].caption, c.caption);
    EXPECT_EQ(p.boxes[0].text, "text");
  }
}

TEST(Prompts, RecordingHandlerStillWins) {
  std::vector<std::string> seen;
  auto old = win::SetMessageBoxHandler([&](HWND, const std::string& t, const std::string&, UINT) {
    seen.push_back(t);
    return IDRETRY;
  });
  EXPECT_EQ(AfxMessageBox("hello"), IDRETRY);
  win::SetMessageBoxHandler(old);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "hello");
}

}  // namespace

namespace {

TEST_F(ControlsTest, RectTrackerDragsWithTheMouseCaptured) {
  QWindow* w = TopWindow(parent);
  QTest::mouseMove(w, QPoint(20, 20));
  CRectTracker t(CRect(10, 10, 30, 30), CRectTracker::dottedLine);
  QTimer::singleShot(0, [w] {
    QTest::mouseMove(w, QPoint(60, 45));
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(60, 45));
  });
  EXPECT_TRUE(t.Track(&parent, CPoint(20, 20)));
  EXPECT_EQ(t.m_rect, CRect(50, 35, 70, 55));
  EXPECT_EQ(CWnd::GetCapture(), nullptr);
  // A rubber band from a point, normalised afterwards.
  CRectTracker band;
  QTimer::singleShot(0, [w] {
    QTest::mouseMove(w, QPoint(5, 8));
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8));
  });
  band.TrackRubberBand(&parent, CPoint(40, 30), TRUE);
  EXPECT_EQ(band.m_rect, CRect(40, 30, 5, 8));
  band.NormalizeRect();
  EXPECT_EQ(band.m_rect, CRect(5, 8, 40, 30));
}

TEST_F(ControlsTest, SetParentMovesAWindowToAnotherParent) {
  CWnd other;
  ASSERT_TRUE(other.Create(nullptr, "o", WS_CHILD | WS_VISIBLE, CRect(100, 100, 200, 200), &parent, 9));
  CStatic label;
  ASSERT_TRUE(label.Create("x", WS_CHILD | WS_VISIBLE, CRect(5, 5, 15, 15), &parent, 10));
  EXPECT_EQ(label.SetParent(&other), &parent);
  EXPECT_EQ(label.GetParent(), &other);
  EXPECT_EQ(other.GetDlgItem(10), &label);
  EXPECT_EQ(parent.GetDlgItem(10), nullptr);
  CPoint p(0, 0);
  label.MapWindowPoints(&parent, &p, 1);
  EXPECT_EQ(p, CPoint(105, 105));
}

}  // namespace

namespace {

class Painted : public CWnd {
 public:
  CBrush brush{RGB(200, 0, 0)};

 protected:
  HBRUSH OnCtlColor(CDC* dc, CWnd*, UINT kind) {
    if (kind != CTLCOLOR_STATIC) return CWnd::OnCtlColor(dc, nullptr, kind);
    dc->SetTextColor(RGB(255, 255, 255));
    return brush;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Painted, CWnd)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

TEST(StaticColours, TextSitsOnTheParentsCtlColorBrush) {
  Painted p;
  ASSERT_TRUE(p.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, 120, 60), nullptr, 0));
  CStatic label;
  ASSERT_TRUE(label.Create("Label text", WS_CHILD | WS_VISIBLE | SS_CENTER, CRect(0, 0, 120, 40), &p, 1));
  win::PumpMessages();
  CClientDC dc(&p);
  EXPECT_EQ(dc.GetPixel(2, 2), RGB(200, 0, 0));
  int white = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) white += dc.GetPixel(x, y) == RGB(255, 255, 255);
  EXPECT_GT(white, 0);  // the text colour the parent chose
  EXPECT_EQ(dc.GetPixel(2, 50), GetSysColor(COLOR_BTNFACE));
  p.DestroyWindow();
}

class Ticker : public CWnd {
 public:
  int ticks = 0;

 protected:
  void OnTimer(UINT_PTR) { ++ticks; }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Ticker, CWnd)
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(RealClock, TimersFireFromTheEventLoop) {
  Ticker t;
  ASSERT_TRUE(t.CreateEx(0, "T", "t", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
  const DWORD start = timeGetTime();
  t.SetTimer(1, 10);
  for (int i = 0; i < 100 && t.ticks < 3; ++i) QTest::qWait(10);
  EXPECT_GE(t.ticks, 3);
  EXPECT_GE(timeGetTime() - start, 20u);
  t.KillTimer(1);
  const int seen = t.ticks;
  QTest::qWait(50);
  EXPECT_EQ(t.ticks, seen);
  t.DestroyWindow();
}

TEST_F(DialogTest, ModelessDialogStaysUntilDestroyed) {
  ValueDialog d;
  ASSERT_TRUE(d.Create(kDlg, &owner));
  EXPECT_FALSE(d.IsWindowVisible());
  d.ShowWindow(SW_SHOW);
  EXPECT_TRUE(d.IsWindowVisible());
  EXPECT_TRUE(owner.IsWindowEnabled());
  CString t;
  d.GetDlgItem(kEdit)->GetWindowText(t);
  EXPECT_EQ(t, "3");
  d.GetDlgItem(kEdit)->SetWindowText("9");
  EXPECT_TRUE(d.UpdateData(TRUE));
  EXPECT_EQ(d.value, 9);
  d.EndDialog(IDOK);
  EXPECT_FALSE(d.IsWindowVisible());
  EXPECT_TRUE(d.DestroyWindow());
  EXPECT_EQ(d.m_hWnd, nullptr);
}

}  // namespace

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>

namespace {

template <typename T>
T* FindTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
  return nullptr;
}

TEST(QtPrompts, MessageBoxesAndFileDialogsAreQtDialogs) {
  win::Prompts* previous = win::SetPrompts(nullptr);
  std::string seenText;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = FindTopLevel<QMessageBox>();
    ASSERT_NE(box, nullptr);
    seenText = box->text().toStdString();
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(MessageBox(nullptr, "Overwrite?", "Save", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(seenText, "Overwrite?");
  QTemporaryDir dir;
  const QString file = dir.filePath("board.txt");
  QTimer::singleShot(0, [&] {
    QFileDialog* d = FindTopLevel<QFileDialog>();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(d->defaultSuffix(), "txt");
    d->selectFile(file);
    QMetaObject::invokeMethod(d, "accept");
  });
  CFileDialog save(FALSE, "txt", nullptr, OFN_OVERWRITEPROMPT, "Text (*.txt)|*.txt||");
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), file.toStdString());
  win::SetPrompts(previous);
}

// Qt lists each label with its patterns once, space-separated as Qt reads
// them (a label holding "*.bmp;*.jpg" names one pattern that matches no
// file), and shows every label whole, however long.
TEST(QtPrompts, FileDialogListsEachFilterOnceAndWhole) {
  struct Case {
    const char* filter;
    const char* labels;
  };
  const Case cases[] = {
      {"Image Files (*.bmp;*.jpg;*.tif;*.png;*.gif)|*.bmp; *.jpg; *.tif; *.png; *.gif|All Files (*.*)|*.*||",
       "Image Files (*.bmp *.jpg *.tif *.png *.gif) | All Files (*.*)"},
      {"Calibration projects, camera parameters, board files and recorded video of every kind|*.txt; *.avi; *.mpg; "
       "*.wmv; *.asf||",
       "Calibration projects, camera parameters, board files and recorded video of every kind (*.txt *.avi *.mpg "
       "*.wmv *.asf)"},
  };
  win::Prompts* previous = win::SetPrompts(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    QStringList filters;
    QString selected;
    bool whole = false;
    QTimer::singleShot(0, [&] {
      QFileDialog* d = FindTopLevel<QFileDialog>();
      ASSERT_NE(d, nullptr);
      filters = d->nameFilters();
      selected = d->selectedNameFilter();
      for (QComboBox* box : d->findChildren<QComboBox*>()) {
        if (box->count() != filters.size() || box->itemText(0) != filters.value(0)) continue;
        int widest = 0;
        for (int i = 0; i < box->count(); ++i)
          widest = std::max(widest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
        whole = box->width() > widest;
      }
      QMetaObject::invokeMethod(d, "reject");
    });
    CFileDialog open(TRUE, "bmp", "Image", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ALLOWMULTISELECT, c.filter);
    EXPECT_EQ(open.DoModal(), IDCANCEL);
    EXPECT_EQ(filters.join(" | ").toStdString(), c.labels);
    EXPECT_EQ(selected.toStdString(), filters.value(0).toStdString());
    EXPECT_TRUE(whole) << "the list of file types cuts its labels short";
  }
  win::SetPrompts(previous);
}

}  // namespace
