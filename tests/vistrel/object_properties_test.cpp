// The board properties dialog, answered through the modal hook: what it
// shows, what it accepts and refuses, and where the focus goes.
#include "object_properties.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <string>

#include "gdiplus/startup.h"
#include "win/prompts.h"

namespace {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token_, &in, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

QWindow* TopWindow(CWnd& w) { return static_cast<QWidget*>(w.GetHostWidget())->windowHandle(); }

CString TextOf(CDialog& d, int id) {
  CString s;
  d.GetDlgItem(id)->GetWindowText(s);
  return s;
}

// What one run of the dialog did.
struct Outcome {
  INT_PTR result = 0;
  bool stayedOpen = false;
  HWND focus = nullptr;
  HWND expectedFocus = nullptr;
  CalibrationObjectSettings values;
};

class ObjectPropertiesTest : public ::testing::Test {
 protected:
  // A board of 9 x 7 points, squares of 25, window 5 x 5; the texts are set
  // field by field, then Enter presses OK. A refusal is then cancelled.
  Outcome Answer(const std::vector<std::pair<int, std::string>>& texts, int focusField = 0) {
    CObjectProperties dialog;
    dialog.SetValues(25.0, 25.0, 9, 7, 5, 5);
    Outcome run;
    win::SetNextModalHook([&](CDialog& d) {
      for (const auto& [id, text] : texts) d.GetDlgItem(id)->SetWindowText(text.c_str());
      QTest::keyClick(TopWindow(d), Qt::Key_Return);
      run.stayedOpen = d.m_hWnd && d.IsWindowVisible();
      if (!run.stayedOpen) return;
      run.focus = ::GetFocus();
      if (focusField) run.expectedFocus = d.GetDlgItem(focusField)->m_hWnd;
      QTest::mouseClick(TopWindow(d), Qt::LeftButton, Qt::NoModifier, [&] {
        CRect rc;
        d.GetDlgItem(IDCANCEL)->GetWindowRect(&rc);
        d.ScreenToClient(&rc);
        return QPoint(rc.CenterPoint().x, rc.CenterPoint().y);
      }());
    });
    run.result = dialog.DoModal();
    run.values = dialog.GetValues();
    win::PumpMessages();
    return run;
  }
  win::ScriptedPrompts prompts;
};

TEST_F(ObjectPropertiesTest, ShowsSquaresAndStoresPoints) {
  CObjectProperties dialog;
  dialog.SetValues(25.0, 30.0, 9, 7, 5, 6);
  std::vector<CString> shown;
  std::string caption;
  CRect client;
  win::SetNextModalHook([&](CDialog& d) {
    for (int id : {1035, 1037, 1036, 1038, 1039, 1040}) shown.push_back(TextOf(d, id));
    caption = static_cast<CDialogX&>(d).GetTitleBar()->GetText().GetString();
    d.GetClientRect(&client);
    d.GetDlgItem(1035)->SetWindowText("10");
    d.GetDlgItem(1037)->SetWindowText("8");
    QTest::keyClick(TopWindow(d), Qt::Key_Return);
  });
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(shown, (std::vector<CString>{"8", "6", "25", "30", "5", "6"}));
  EXPECT_EQ(caption, "Calibration Object Properties");
  EXPECT_EQ(client, CRect(0, 0, win::DialogUnitsToPixelsX(214), win::DialogUnitsToPixelsY(99)));
  const CalibrationObjectSettings s = dialog.GetValues();
  EXPECT_EQ(s.squaresX, 11);
  EXPECT_EQ(s.squaresY, 9);
  EXPECT_DOUBLE_EQ(s.squareSizeX, 25.0);
  EXPECT_DOUBLE_EQ(s.squareSizeY, 30.0);
  EXPECT_EQ(s.windowX, 5);
  EXPECT_EQ(s.windowY, 6);
}

// Each label sits left of its edit on the same row, nothing lies under the
// title bar's 29 pixels, and OK and Cancel sit at the bottom right.
TEST(ObjectPropertiesTemplate, LayoutWithinTheDialog) {
  const win::DialogTemplate* t = win::FindDialogTemplate(CObjectProperties::IDD);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->cx, 214);
  EXPECT_EQ(t->cy, 99);
  auto item = [&](const char* className, UINT id, const char* text) -> const win::DialogItemTemplate* {
    for (const auto& i : t->items)
      if (i.className == className && (text ? i.text == text : i.id == id)) return &i;
    return nullptr;
  };
  const std::pair<UINT, const char*> pairs[] = {{1035, "X"}, {1037, "Y"}, {1036, "dX"}, {1038, "dY"}, {1039, "Wx"}, {1040, "Wy"}};
  for (const auto& [id, text] : pairs) {
    SCOPED_TRACE(text);
    const auto* edit = item("EDIT", id, nullptr);
    const auto* label = item("STATIC", 0, text);
    ASSERT_TRUE(edit && label);
    EXPECT_LE(label->x + label->cx, edit->x);
    EXPECT_LT(label->y, edit->y + edit->cy);
    EXPECT_GT(label->y + label->cy, edit->y);
  }
  for (const char* heading : {"Number of Squares", "Square Size", "Window Size"}) EXPECT_NE(item("STATIC", 0, heading), nullptr);
  for (const auto& i : t->items) {
    SCOPED_TRACE(i.text);
    EXPECT_GE(win::DialogUnitsToPixelsY(i.y), 29);
    EXPECT_LE(i.x + i.cx, t->cx);
    EXPECT_LE(i.y + i.cy, t->cy);
  }
  const auto* ok = item("BUTTON", IDOK, nullptr);
  const auto* cancel = item("BUTTON", IDCANCEL, nullptr);
  ASSERT_TRUE(ok && cancel);
  EXPECT_LT(ok->x, cancel->x);
  EXPECT_GT(cancel->x + cancel->cx, t->cx - 10);
  for (const auto& i : t->items) {
    if (&i != ok && &i != cancel) {
      EXPECT_LE(i.y + i.cy, ok->y);
    }
  }
}

TEST_F(ObjectPropertiesTest, CancelKeepsTheBoard) {
  CObjectProperties dialog;
  dialog.SetValues(25.0, 25.0, 9, 7, 5, 5);
  win::SetNextModalHook([](CDialog& d) {
    d.GetDlgItem(1035)->SetWindowText("50");
    QTest::keyClick(TopWindow(d), Qt::Key_Escape);
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.GetValues().squaresX, 9);
}

TEST_F(ObjectPropertiesTest, RangesOfEveryField) {
  struct Row {
    int id;
    const char* text;
    bool accepted;
  };
  const Row rows[] = {
      {1035, "1", false},      {1035, "2", true},        {1035, "100", true},     {1035, "101", false},
      {1037, "1", false},      {1037, "2", true},        {1037, "100", true},     {1037, "101", false},
      {1036, "0.99", false},   {1036, "1", true},        {1036, "10000", true},   {1036, "10000.5", false},
      {1038, "0.99", false},   {1038, "1", true},        {1038, "10000", true},   {1038, "10000.5", false},
      {1039, "0", false},      {1039, "1", true},        {1039, "100", true},     {1039, "101", false},
      {1040, "0", false},      {1040, "1", true},        {1040, "1000", true},    {1040, "1001", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " \"" << r.text << "\"");
    const Outcome run = Answer({{r.id, r.text}}, r.id);
    EXPECT_EQ(run.result, r.accepted ? IDOK : IDCANCEL);
    EXPECT_EQ(run.stayedOpen, !r.accepted);
    if (!r.accepted) {
      EXPECT_EQ(run.focus, run.expectedFocus);
      continue;
    }
    const double v = std::stod(r.text);
    const CalibrationObjectSettings& s = run.values;
    const double got = r.id == 1035 ? s.squaresX - 1 : r.id == 1037 ? s.squaresY - 1 : r.id == 1036 ? s.squareSizeX
                       : r.id == 1038 ? s.squareSizeY : r.id == 1039 ? s.windowX : s.windowY;
    EXPECT_DOUBLE_EQ(got, v);
  }
}

TEST_F(ObjectPropertiesTest, TextsThatAreNotNumbersOfTheFieldsKind) {
  struct Row {
    int id;
    const char* text;
    bool accepted;
  };
  std::vector<Row> rows;
  for (int id : {1035, 1037, 1039, 1040})
    for (const char* text : {"", "abc", "12abc", "2.5"}) rows.push_back({id, text, false});
  for (int id : {1035, 1037, 1039, 1040}) rows.push_back({id, " 8 ", true});
  for (int id : {1036, 1038})
    for (const char* text : {"nan", "inf", "1e400"}) rows.push_back({id, text, false});
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " \"" << r.text << "\"");
    prompts.boxes.clear();
    const Outcome run = Answer({{r.id, r.text}}, r.id);
    EXPECT_EQ(run.result, r.accepted ? IDOK : IDCANCEL);
    if (r.accepted) continue;
    EXPECT_EQ(run.focus, run.expectedFocus);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, r.id == 1036 || r.id == 1038 ? "Please enter a number." : "Please enter an integer.");
  }
}

TEST_F(ObjectPropertiesTest, TheFirstBadFieldInExchangeOrderIsTheOneReported) {
  const Outcome run = Answer({{1040, "1001"}, {1035, "1"}}, 1035);
  EXPECT_EQ(run.result, IDCANCEL);
  EXPECT_EQ(run.focus, run.expectedFocus);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "Please enter an integer between 2 and 100.");
}

}  // namespace
