#include "quorlmfc/hover_button_ex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <string>
#include <vector>

#include "gdiplus/startup.h"
#include "win/window.h"

namespace {

TEST(HoverButtonRules, BlendTable) {
  struct Case {
    std::uint32_t strip, bg, want;
  };
  const Case cases[] = {
      {0x00FFFFFF, 0xFF123456, 0xFF123456},  // alpha 0: the background exactly
      {0xFFFFFFFF, 0xFF000000, 0xFFFEFEFE},  // alpha 255: one level darker
      {0xFF808080, 0xFFFFFFFF, 0xFF7F7F7F},
      {0x80FF0000, 0xFF0000FF, 0x807F007E},  // alpha 128: (bg 127 + s 128) >> 8
  };
  for (const Case& c : cases) EXPECT_EQ(CHoverButtonEx::BlendPixel(c.strip, c.bg), c.want) << std::hex << c.strip;
}

TEST(HoverButtonRules, FrameChoiceTable) {
  struct Case {
    UINT state;
    bool hover, enabled;
    int frame;
  };
  const Case cases[] = {
      {0, false, true, 0},           {ODS_SELECTED, false, true, 1}, {ODS_SELECTED, true, true, 1},
      {0, true, true, 2},            {0, false, false, 3},           {0, true, false, 2},
      {ODS_SELECTED, true, false, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(CHoverButtonEx::ChooseFrame(c.state, c.hover, c.enabled), c.frame);
}

TEST(HoverButtonRules, ColorrefToArgb) {
  EXPECT_EQ(CHoverButtonEx::ColorrefToArgb(0x000000FF), 0xFFFF0000u);
  EXPECT_EQ(CHoverButtonEx::ColorrefToArgb(RGB(1, 2, 3)), 0xFF010203u);
  EXPECT_EQ(CHoverButtonEx::ColorrefToArgb(0xFF000000), 0xFF000000u);  // the default mode-1 colour
}

// Frame k of the fixture: a base colour per frame, with a few partly
// transparent pixels.
QRgb FixturePixel(int frame, int x, int y) {
  static const QRgb base[4] = {qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200), qRgb(120, 120, 120)};
  const int alpha = ((x + y) % 3 == 0) ? 255 : ((x + y) % 3 == 1) ? 160 : 64;
  return qRgba(qRed(base[frame]), qGreen(base[frame]), qBlue(base[frame]), alpha);
}

class Fixture {
 public:
  Fixture() {
    QImage strip(96, 24, QImage::Format_ARGB32);
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 96; ++x) strip.setPixel(x, y, FixturePixel(x / 24, x % 24, y));
    argb = path("strip32.png");
    rgb = path("strip24.png");
    palette = path("strip8.png");
    odd = path("odd.png");
    EXPECT_TRUE(strip.save(QString::fromStdString(argb)));
    EXPECT_TRUE(strip.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(rgb)));
    EXPECT_TRUE(strip.convertToFormat(QImage::Format_Indexed8).save(QString::fromStdString(palette)));
    QImage o(98, 24, QImage::Format_ARGB32);  // width not a multiple of 4
    o.fill(qRgba(10, 20, 30, 255));
    EXPECT_TRUE(o.save(QString::fromStdString(odd)));
  }
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
  std::string argb, rgb, palette, odd;
};

class Parent : public CWnd {
 public:
  std::vector<std::pair<UINT, UINT>> commands;

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM) override {
    commands.push_back({LOWORD(wp), HIWORD(wp)});
    return TRUE;
  }
};

class HoverButtonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token, &in, nullptr);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token); }
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 240, 140), nullptr, 0));
    CClientDC dc(&parent);
    dc.FillSolidRect(0, 0, 200, 100, RGB(0, 128, 255));
  }
  void TearDown() override { parent.DestroyWindow(); }
  void Make(CHoverButtonEx& b, const std::string& file, bool region) {
    ASSERT_TRUE(b.Create("", WS_CHILD | WS_VISIBLE, CRect(10, 10, 20, 20), &parent, 1124));
    b.SetHorizontal(true);
    b.SetBackgroundMode(1, 0xFF000000);
    b.LoadImageStrip(file.c_str());
    if (region) {
      HRGN r = CreateEllipticRgn(0, 0, 24, 24);
      b.SetRegion(r);
      DeleteObject(r);  // the button keeps its own copy
    }
    b.Invalidate();
    win::PumpMessages();
  }
  // The parent's client area as shown, at a point of the button.
  COLORREF Shown(int x, int y) {
    CClientDC dc(&parent);
    return dc.GetPixel(10 + x, 10 + y);
  }
  QWindow* Window() { return static_cast<QWidget*>(parent.GetHostWidget())->windowHandle(); }
  static ULONG_PTR token;
  Parent parent;
  Fixture files;
};
ULONG_PTR HoverButtonTest::token = 0;

COLORREF Expected(QRgb file, std::uint32_t bg) {
  const std::uint32_t argb = (static_cast<std::uint32_t>(qAlpha(file)) << 24) | (qRed(file) << 16) | (qGreen(file) << 8) | qBlue(file);
  const std::uint32_t p = CHoverButtonEx::BlendPixel(argb, bg);
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

TEST_F(HoverButtonTest, EveryStateOfEveryFormatDrawsInsideTheCircle) {
  for (const std::string* file : {&files.argb, &files.rgb, &files.palette}) {
    SCOPED_TRACE(*file);
    const QImage reference = QImage(QString::fromStdString(*file)).convertToFormat(QImage::Format_ARGB32);
    CHoverButtonEx b;
    Make(b, *file, true);
    EXPECT_EQ(b.FrameWidth(), 24);
    EXPECT_EQ(b.FrameHeight(), 24);
    EXPECT_EQ(b.GetButtonStyle() & BS_TYPEMASK, BS_OWNERDRAW);
    CRect rc;
    b.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 24, 24));
    auto check = [&](int frame) {
      for (int y = 4; y < 20; y += 3)
        for (int x = 4; x < 20; x += 3) {
          if ((x - 12) * (x - 12) + (y - 12) * (y - 12) > 64) continue;
          ASSERT_EQ(Shown(x, y), Expected(reference.pixel(frame * 24 + x, y), 0xFF000000)) << frame << " " << x << "," << y;
        }
    };
    check(0);
    // Pressed: drawn with ODS_SELECTED on the button's own DC.
    {
      CClientDC dc(&b);
      DRAWITEMSTRUCT dis{ODT_BUTTON, 1124, 0, ODA_DRAWENTIRE, ODS_SELECTED, b.m_hWnd, dc.m_hDC, {0, 0, 24, 24}, 0};
      b.DrawItem(&dis);
    }
    check(1);
    b.SendMessage(WM_MOUSEHOVER, 0, 0);
    win::PumpMessages();
    check(2);
    b.SendMessage(WM_MOUSELEAVE, 0, 0);
    b.EnableWindow(FALSE);
    win::PumpMessages();
    check(3);
    // Outside the circle the parent shows through.
    CClientDC pdc(&parent);
    EXPECT_EQ(Shown(0, 0), pdc.GetPixel(5, 5));
  }
}

TEST_F(HoverButtonTest, MissingFileGivesAPlainButton) {
  CHoverButtonEx b;
  Make(b, files.path("missing.png"), false);
  EXPECT_EQ(b.FrameWidth(), 0);
  EXPECT_EQ(b.GetButtonStyle() & BS_TYPEMASK, BS_PUSHBUTTON);
  // A second load over a good one frees the first (leak checker) and a bad
  // one leaves no frame.
  CHoverButtonEx c;
  Make(c, files.argb, false);
  EXPECT_EQ(c.FrameWidth(), 24);
  c.LoadImageStrip(files.rgb.c_str());
  c.LoadImageStrip(files.path("nothing.png").c_str());
  EXPECT_EQ(c.FrameWidth(), 0);
  EXPECT_EQ(c.LoadRaw(101, 96, 24), 0);
}

TEST_F(HoverButtonTest, SkinPathsJoinAFolderAndABackslashLiteral) {
  CHoverButtonEx b;
  // The application folder ends in a separator; the literal starts with "\".
  const std::string folder = files.dir.path().toStdString() + "/";
  Make(b, folder + "\\strip32.png", true);
  EXPECT_EQ(b.FrameWidth(), 24);
}

TEST_F(HoverButtonTest, StripWithoutRegionCopiesTheFrameWithoutAlpha) {
  CHoverButtonEx b;
  Make(b, files.argb, false);
  const QImage ref = QImage(QString::fromStdString(files.argb)).convertToFormat(QImage::Format_ARGB32);
  const QRgb p = ref.pixel(5, 7);
  EXPECT_EQ(Shown(5, 7), RGB(qRed(p), qGreen(p), qBlue(p)));
}

// A null region given after a circle: no clipping any more, and the strip
// is still blended with its alpha, corners included.
TEST_F(HoverButtonTest, NullRegionBlendsTheWholeFrame) {
  CHoverButtonEx b;
  Make(b, files.argb, true);
  b.SetRegion(nullptr);
  b.Invalidate();
  win::PumpMessages();
  const QImage ref = QImage(QString::fromStdString(files.argb)).convertToFormat(QImage::Format_ARGB32);
  for (const QPoint p : {QPoint(0, 0), QPoint(23, 23), QPoint(12, 12), QPoint(1, 2)})
    EXPECT_EQ(Shown(p.x(), p.y()), Expected(ref.pixel(p.x(), p.y()), 0xFF000000)) << p.x() << "," << p.y();
}

TEST_F(HoverButtonTest, BitmapWithRegionDrawsClippedToTheRegion) {
  // A bitmap strip (no alpha) under an elliptic region: the chosen frame is
  // copied inside the circle and the parent shows through outside it.
  QImage strip(96, 24, QImage::Format_RGB888);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 96; ++x) strip.setPixel(x, y, qRgb(40 + 50 * (x / 24), 10 + x % 24, 20 + y));
  const std::string bmp = files.path("strip.bmp");
  ASSERT_TRUE(strip.save(QString::fromStdString(bmp)));
  CHoverButtonEx b;
  ASSERT_TRUE(b.Create("", WS_CHILD | WS_VISIBLE, CRect(10, 10, 20, 20), &parent, 1124));
  b.SetHorizontal(true);
  b.LoadBitmapFromFile(bmp.c_str());
  ASSERT_EQ(b.FrameWidth(), 24);
  ASSERT_EQ(b.FrameHeight(), 24);
  HRGN r = CreateEllipticRgn(0, 0, 24, 24);
  b.SetRegion(r);
  DeleteObject(r);
  b.Invalidate();
  win::PumpMessages();
  for (const QPoint p : {QPoint(12, 12), QPoint(5, 12), QPoint(12, 20)}) {
    const QRgb want = strip.pixel(p.x(), p.y());
    EXPECT_EQ(Shown(p.x(), p.y()), RGB(qRed(want), qGreen(want), qBlue(want))) << p.x() << "," << p.y();
  }
  CClientDC pdc(&parent);
  EXPECT_EQ(Shown(0, 0), pdc.GetPixel(5, 5));
  EXPECT_EQ(Shown(23, 23), pdc.GetPixel(5, 5));
}

TEST_F(HoverButtonTest, WidthNotAMultipleOfFourDropsTheRemainder) {
  CHoverButtonEx b;
  Make(b, files.odd, true);
  EXPECT_EQ(b.FrameWidth(), 24);  // 98 / 4
  EXPECT_EQ(Shown(12, 12), Expected(qRgba(10, 20, 30, 255), 0xFF000000));
}

TEST_F(HoverButtonTest, HoverLeaveTooltipAndClicksThroughTheTopLevelWindow) {
  win::ManualClock clock;
  CHoverButtonEx b;
  Make(b, files.argb, true);
  b.SetToolTipText("Power", TRUE);
  ASSERT_NE(b.ToolTip(), nullptr);
  EXPECT_EQ(b.ToolTip()->InitialDelay(), 2000);
  EXPECT_EQ(b.ToolTip()->AutoPopDelay(), 20000);
  const HWND firstTip = b.ToolTip()->m_hWnd;
  const QImage ref = QImage(QString::fromStdString(files.argb)).convertToFormat(QImage::Format_ARGB32);
  QWindow* w = Window();
  QTest::mouseMove(w, QPoint(22, 22));
  clock.Advance(1);
  EXPECT_TRUE(b.IsHovering());
  EXPECT_EQ(Shown(12, 12), Expected(ref.pixel(2 * 24 + 12, 12), 0xFF000000));
  ASSERT_NE(b.ToolTip(), nullptr);
  EXPECT_NE(b.ToolTip()->m_hWnd, firstTip);  // re-created on hover
  EXPECT_FALSE(b.ToolTip()->IsShown());
  // A relayed move, then rest.
  QTest::mouseMove(w, QPoint(23, 22));
  clock.Advance(1999);
  EXPECT_FALSE(b.ToolTip()->IsShown());
  clock.Advance(1);
  EXPECT_TRUE(b.ToolTip()->IsShown());
  EXPECT_EQ(b.ToolTip()->ShownText(), "Power");
  // Leaving shows frame 0 again.
  QTest::mouseMove(w, QPoint(150, 80));
  win::PumpMessages();
  EXPECT_FALSE(b.IsHovering());
  EXPECT_EQ(Shown(12, 12), Expected(ref.pixel(12, 12), 0xFF000000));
  // A click outside the ellipse (a corner of the button) does nothing.
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(11, 11));
  EXPECT_TRUE(parent.commands.empty());
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(22, 22), 1000);
  ASSERT_EQ(parent.commands.size(), 1u);
  EXPECT_EQ(parent.commands[0], std::make_pair(1124u, BN_CLICKED));
}

TEST_F(HoverButtonTest, MoveableButtonMovesInItsParentsClientCoordinates) {
  // A right press starts the move; the plain drag offsets the button, the
  // Ctrl drag spans a rubber band from its top-left corner. Both end in the
  // parent's client coordinates, wherever the parent sits on the screen.
  const struct {
    const char* name;
    Qt::KeyboardModifiers modifiers;
    CRect expected;
  } cases[] = {
      {"plain drag", Qt::NoModifier, CRect(40, 30, 64, 54)},
      {"rubber band", Qt::ControlModifier, CRect(10, 10, 45, 35)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CHoverButtonEx b;
    Make(b, files.argb, false);
    b.SetMoveable(TRUE);
    QWindow* w = Window();
    QTest::mouseMove(w, QPoint(15, 15));
    QTimer::singleShot(0, [w] {
      QTest::mouseMove(w, QPoint(45, 35));
      QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(45, 35));
    });
    QTest::mousePress(w, Qt::RightButton, c.modifiers, QPoint(15, 15));
    QTest::mouseRelease(w, Qt::RightButton, c.modifiers, QPoint(45, 35));
    win::PumpMessages();
    CRect rc;
    b.GetWindowRect(&rc);
    parent.ScreenToClient(&rc);
    EXPECT_EQ(rc, c.expected);
    b.DestroyWindow();
  }
}

}  // namespace
