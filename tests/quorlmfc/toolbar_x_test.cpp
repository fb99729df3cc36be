// The toolbar: layout in a row or a column, region sizes, clicks reaching
// the buttons' parent, and painting background and faces without a cycle.
#include "quorlmfc/toolbar_x.h"

#include <gtest/gtest.h>

#include <QTest>

#include "skin_test_support.h"

namespace {

using skin_test::Settle;
using skin_test::Shown;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new skin_test::GdiplusEnvironment);

class Parent : public CWnd {
 public:
  std::vector<std::pair<UINT, UINT>> commands;

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM) override {
    commands.push_back({LOWORD(wp), HIWORD(wp)});
    return TRUE;
  }
};

// Counts its own paints.
class CountingToolbar : public CToolbarX {
 public:
  explicit CountingToolbar(COLORREF c) : CToolbarX(c) {}
  int paints = 0;

 protected:
  void OnPaint() {
    ++paints;
    CToolbarX::OnPaint();
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CountingToolbar, CToolbarX)
ON_WM_PAINT()
END_MESSAGE_MAP()

class ToolbarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 640, 440), nullptr, 0));
  }
  void TearDown() override { parent.DestroyWindow(); }
  void Make(CToolbarX& t, const CRect& rc) {
    ASSERT_TRUE(t.Create("", WS_CHILD | WS_VISIBLE, rc, &parent, 4000));
  }
  CRect InParent(CWnd& w) {
    CRect rc;
    w.GetWindowRect(&rc);
    parent.ScreenToClient(&rc);
    return rc;
  }
  Parent parent;
  QTemporaryDir dir;
};

TEST_F(ToolbarTest, LayoutOfRowsAndColumns) {
  const CPoint origin(30, 50);
  const CSize sizes[] = {{36, 36}, {24, 36}, {36, 24}};
  for (bool vertical : {false, true}) {
    for (const CSize& s : sizes) {
      SCOPED_TRACE(testing::Message() << (vertical ? "column " : "row ") << s.cx << "x" << s.cy);
      CToolbarX t;
      t.m_bVertical = vertical;
      Make(t, CRect(origin, CSize(300, 300)));
      t.SetRegionSize(s.cx, s.cy);
      t.Initialize(8, 2);
      EXPECT_EQ(t.OriginRect().TopLeft(), origin);
      for (int n = 0; n < 4; ++n) t.AddButton(dir.filePath("none.png").toStdString().c_str(), "tip", 100 + n);
      for (int n = 0; n < 4; ++n) {
        // The step is the width in both layouts.
        const CPoint at = vertical ? CPoint(origin.x + 5, origin.y + 5 + n * (s.cx + 2))
                                   : CPoint(origin.x + n * (s.cx + 2), origin.y + 5);
        EXPECT_EQ(InParent(*t.Buttons()[n]), CRect(at, s)) << n;
        EXPECT_EQ(t.Buttons()[n]->GetDlgCtrlID(), 100 + n);
      }
    }
  }
}

TEST_F(ToolbarTest, RegionSizeAfterInitializeChangesOnlyLaterButtons) {
  CToolbarX t;
  Make(t, CRect(0, 0, 400, 50));
  t.Initialize(8, 2);
  const std::string none = dir.filePath("none.png").toStdString();
  t.AddButton(none.c_str(), "a", 1);
  const int live = win::LiveGdiObjectCount();
  t.SetRegionSize(20, 30);  // replaces the region: the count stays
  EXPECT_EQ(win::LiveGdiObjectCount(), live);
  t.AddButton(none.c_str(), "b", 2);
  EXPECT_EQ(InParent(*t.Buttons()[0]).Size(), CSize(36, 36));
  EXPECT_EQ(InParent(*t.Buttons()[1]), CRect(22, 5, 42, 35));  // n (width + 2) at the new width
  RECT box{};
  GetRgnBox(t.ButtonRegion(), &box);
  EXPECT_EQ(CRect(box), CRect(0, 0, 20, 30));
}

TEST_F(ToolbarTest, DestructionFreesRegionBrushAndButtons) {
  const int live = win::LiveGdiObjectCount();
  {
    CToolbarX t;
    Make(t, CRect(0, 0, 400, 50));
    t.SetRegionSize(30, 30);
    t.Initialize(8, 2);
    t.AddButton(skin_test::WriteStrip(dir, "s.png", 30, 30, qRgb(1, 2, 3)).c_str(), "a", 1);
    EXPECT_GT(win::LiveGdiObjectCount(), live);
  }
  EXPECT_EQ(win::LiveGdiObjectCount(), live);
}

TEST_F(ToolbarTest, ClickingButtonNSendsItsIdToTheParent) {
  CToolbarX t;
  Make(t, CRect(10, 10, 400, 60));
  t.Initialize(8, 2);
  const std::string strip = skin_test::WriteStrip(dir, "face.png", 36, 36, qRgb(200, 100, 50));
  for (int n = 0; n < 3; ++n) t.AddButton(strip.c_str(), "tip", 500 + n);
  Settle();
  QWindow* w = skin_test::TopWindow(parent);
  for (int n = 0; n < 3; ++n) {
    const CPoint c = InParent(*t.Buttons()[n]).CenterPoint();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(c.x, c.y), n == 0 ? -1 : 600);
  }
  Settle();
  ASSERT_EQ(parent.commands.size(), 3u);
  for (UINT n = 0; n < 3; ++n) EXPECT_EQ(parent.commands[n], std::make_pair(500 + n, BN_CLICKED));
}

TEST_F(ToolbarTest, OnePaintOfTheToolbarRepaintsEachButtonOnce) {
  const COLORREF bar = RGB(10, 20, 30);
  CountingToolbar t(bar);
  Make(t, CRect(10, 10, 200, 60));
  t.Initialize(8, 2);
  const std::string strip = skin_test::WriteStrip(dir, "face.png", 36, 36, qRgb(200, 100, 50));
  t.AddButton(strip.c_str(), "a", 1);
  t.AddButton(strip.c_str(), "b", 2);
  Settle();
  // Between the buttons the toolbar, on them their faces (an opaque strip
  // blends one level darker).
  const COLORREF face = RGB(199, 99, 49);
  EXPECT_EQ(Shown(parent, 10 + 36, 30), bar);
  EXPECT_EQ(Shown(parent, 10 + 18, 33), face);
  EXPECT_EQ(Shown(parent, 10 + 38 + 18, 33), face);
  // Spoil a face; one toolbar paint brings it back, and nothing follows.
  {
    CClientDC dc(t.Buttons()[1]);
    dc.FillSolidRect(0, 0, 36, 36, RGB(0, 0, 0));
  }
  t.paints = 0;
  t.Invalidate();
  win::PumpMessages();
  EXPECT_EQ(t.paints, 1);
  win::PumpMessages();  // the buttons' paints, queued by the toolbar's
  EXPECT_EQ(Shown(parent, 10 + 38 + 18, 33), face);
  EXPECT_EQ(win::PumpMessages(), 0);
  EXPECT_EQ(t.paints, 1);
}

TEST_F(ToolbarTest, WithoutButtonsOnlyTheBackgroundIsPainted) {
  CToolbarX t(RGB(70, 80, 90));
  Make(t, CRect(10, 10, 110, 60));
  t.Initialize(8, 2);
  t.Invalidate();
  Settle();
  for (const CPoint p : {CPoint(10, 10), CPoint(60, 35), CPoint(109, 59)}) EXPECT_EQ(Shown(parent, p.x, p.y), RGB(70, 80, 90));
}

TEST_F(ToolbarTest, ButtonsBelongToTheToolbarsParentUnlessAnotherIsSet) {
  CToolbarX own, other;
  Make(own, CRect(0, 0, 200, 50));
  own.Initialize(8, 2);
  own.AddButton("none.png", "a", 1);
  EXPECT_EQ(own.Buttons()[0]->GetParent(), &parent);

  CWnd panel;
  ASSERT_TRUE(panel.Create(nullptr, "panel", WS_CHILD | WS_VISIBLE, CRect(0, 100, 300, 300), &parent, 7));
  Make(other, CRect(0, 60, 200, 100));
  other.SetParent(&panel);
  other.Initialize(8, 2);
  other.AddButton("none.png", "b", 2);
  EXPECT_EQ(other.Buttons()[0]->GetParent(), &panel);
  EXPECT_EQ(other.GetParent(), &parent);
  EXPECT_EQ(other.OriginRect().TopLeft(), CPoint(0, -40));  // in the panel's coordinates
}

}  // namespace
