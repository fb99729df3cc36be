#include "quorlmfc/image_list_x.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gdiplus/draw_string_observer.h"
#include "gdiplus/startup.h"
#include "win/window.h"
#include "win/window_services.h"

namespace {

using QuorlMFC::Tarvesh::Network::DataPacket;

struct Strings : gdiplus::DrawStringObserver {
  Strings() { gdiplus::SetDrawStringObserver(this); }
  ~Strings() override { gdiplus::SetDrawStringObserver(nullptr); }
  void OnDrawString(const gdiplus::DrawStringCall& c) override { calls.push_back(c); }
  std::vector<gdiplus::DrawStringCall> calls;
};

// The list sits at (10, 10) in a top-level window. With 40 x 30 previews a
// cell is 45 wide and 50 high (margin 5, caption 15): a 200 x 180 list has
// 4 columns and 3 rows.
constexpr int kOffset = 10;

class ImageListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token, &in, nullptr);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token); }
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 440, 340), nullptr, 0));
  }
  void TearDown() override { parent.DestroyWindow(); }
  void Make(CImageListX& list, int width, int height) {
    ASSERT_TRUE(list.Create("", WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                            CRect(kOffset, kOffset, kOffset + width, kOffset + height), &parent, 1500));
  }
  // A list of n slots of 4 x 3 pixels on the usual grid, initialised.
  void MakeGrid(CImageListX& list, int n, int width = 200, int height = 180) {
    Make(list, width, height);
    list.Initialize();
    list.SetImageDataSize(4, 3);
    list.SetImagePreviewSize(40, 30);
    for (int i = 0; i < n; ++i) list.AddImageElement(nullptr);
    // The first paint comes now, not over what a click draws later.
    win::PumpMessages();
  }
  void Click(int x, int y) {
    QWindow* w = static_cast<QWidget*>(parent.GetHostWidget())->windowHandle();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(kOffset + x, kOffset + y));
    win::PumpMessages();
  }
  static std::vector<std::uint32_t> Shown(CWnd& w) {
    CRect rc;
    w.GetClientRect(&rc);
    std::vector<std::uint32_t> px(static_cast<size_t>(rc.Width() * rc.Height()));
    EXPECT_TRUE(win::GetWindowServices()->ReadClient(w.m_hWnd, px.data(), rc.Width(), rc.Height(), rc.Width() * 4));
    for (std::uint32_t& p : px) p |= 0xFF000000;
    return px;
  }
  static std::uint32_t At(const std::vector<std::uint32_t>& px, int width, float x, float y) {
    return px[static_cast<size_t>(static_cast<int>(y) * width + static_cast<int>(x))];
  }
  static bool Close(std::uint32_t p, std::uint32_t want, int tol = 3) {
    for (int s = 0; s < 24; s += 8)
      if (std::abs(static_cast<int>((p >> s) & 0xFF) - static_cast<int>((want >> s) & 0xFF)) > tol) return false;
    return true;
  }
  static std::vector<BYTE> Filled(const IplImage* image, BYTE b, BYTE g, BYTE r) {
    std::vector<BYTE> px(static_cast<size_t>(image->imageSize), 0);
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) {
        BYTE* p = px.data() + y * image->widthStep + x * 3;
        p[0] = b, p[1] = g, p[2] = r;
      }
    return px;
  }
  static bool Same(const IplImage* image, const std::vector<BYTE>& bytes) {
    return std::memcmp(image->imageData, bytes.data(), bytes.size()) == 0;
  }
  static ULONG_PTR token;
  CWnd parent;
};
ULONG_PTR ImageListTest::token = 0;

// ---- Layout -------------------------------------------------------------------------

TEST_F(ImageListTest, PositionsFollowBoundsAndPreviewSize) {
  struct Case {
    int width, height;
    UINT pw, ph;
    size_t count;
    Gdiplus::RectF first, last;
  };
  const Case cases[] = {
      {200, 180, 40, 30, 12, {5, 5, 40, 30}, {5 + 3 * 45, 5 + 2 * 50, 40, 30}},
      {100, 100, 80, 60, 1, {5, 5, 80, 60}, {5, 5, 80, 60}},
      {300, 60, 40, 30, 0, {}, {}},  // not one row high
      {2, 2, 0, 0, 0, {}, {}},       // below the margins in both directions
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    CImageListX list;
    Make(list, c.width, c.height);
    list.Initialize();
    list.SetImagePreviewSize(c.pw, c.ph);
    const auto& images = list.GetImageRects();
    const auto& captions = list.GetCaptionRects();
    ASSERT_EQ(images.size(), c.count);
    ASSERT_EQ(captions.size(), c.count);
    if (c.count == 0) continue;
    for (const auto& [got, want] : {std::pair{images.front(), c.first}, std::pair{images.back(), c.last}}) {
      EXPECT_EQ(got.X, want.X);
      EXPECT_EQ(got.Y, want.Y);
      EXPECT_EQ(got.Width, want.Width);
      EXPECT_EQ(got.Height, want.Height);
    }
    EXPECT_EQ(captions.back().X, c.last.X);
    EXPECT_EQ(captions.back().Y, c.last.Y + c.last.Height);
    EXPECT_EQ(captions.back().Width, c.last.Width);
    EXPECT_EQ(captions.back().Height, 15);
  }
  // Before Initialize the bounds are empty: no positions.
  CImageListX early;
  early.SetImagePreviewSize(0, 0);
  EXPECT_TRUE(early.GetImageRects().empty());
}

// ---- Slots ----------------------------------------------------------------------------

TEST_F(ImageListTest, SlotsAreCaptionedAndBlackAtTheSlotSize) {
  CImageListX list;
  Make(list, 200, 180);
  list.AddImageElement(nullptr);  // before any size: 0 x 0, draws nothing
  EXPECT_EQ(list.GetImage(0), nullptr);
  ASSERT_TRUE(list.SetImageDataSize(8, 6));
  list.AddImageElement(nullptr);
  CString cam("Cam");
  list.AddImageElement(&cam);
  EXPECT_STREQ(list.GetCaption(0), "Server 0");
  EXPECT_STREQ(list.GetCaption(1), "Server 1");
  EXPECT_STREQ(list.GetCaption(2), "Cam");
  EXPECT_STREQ(list.GetCaption(3), "");
  for (int i = 0; i < 3; ++i) {
    const IplImage* im = list.GetImage(i);
    ASSERT_NE(im, nullptr) << i;
    EXPECT_EQ(im->width, 8);
    EXPECT_EQ(im->height, 6);
    EXPECT_EQ(im->nChannels, 3);
    EXPECT_EQ(im->depth, IPL_DEPTH_8U);
    EXPECT_EQ(Same(im, std::vector<BYTE>(static_cast<size_t>(im->imageSize), 0)), true) << i;
  }
  std::vector<BYTE> grey = Filled(list.GetImage(1), 90, 90, 90);
  list.SetImageData(1, grey.data());
  EXPECT_TRUE(Same(list.GetImage(1), grey));
  ASSERT_TRUE(list.SetImageDataSize(16, 12));
  for (int i = 0; i < 3; ++i) {
    const IplImage* im = list.GetImage(i);
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(im->width, 16);
    EXPECT_TRUE(Same(im, std::vector<BYTE>(static_cast<size_t>(im->imageSize), 0))) << i;
  }
  // A size whose image cannot be addressed changes nothing.
  EXPECT_FALSE(list.SetImageDataSize(0x7FFFFFFF, 2));
  EXPECT_FALSE(list.SetImageDataSize(50000, 50000));
  EXPECT_EQ(list.GetImage(0)->width, 16);
}

// ---- Selection ------------------------------------------------------------------------

TEST_F(ImageListTest, AClickSelectsTheHitSlotAlone) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> clicks;
    int selected;  // -1: none
  };
  const Case cases[] = {
      {"slot 2 then slot 0", {{100, 10}, {10, 10}}, 0},
      {"slot 0 then slot 2", {{10, 10}, {100, 10}}, 2},
      {"a caption bar", {{10, 10}, {10, 40}}, -1},
      {"outside every slot", {{100, 10}, {195, 175}}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CImageListX list;
    MakeGrid(list, 6);
    list.PaintBackBuffer();
    for (const auto& [x, y] : c.clicks) Click(x, y);
    EXPECT_TRUE(list.IsWindowPainted());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(list.IsSelected(i), i == c.selected ? TRUE : FALSE) << i;
    EXPECT_FALSE(list.IsSelected(-1));
    EXPECT_FALSE(list.IsSelected(6));
  }
}

TEST_F(ImageListTest, TheSelectedSlotShowsItsOverlayAndGreenFrame) {
  CImageListX list;
  MakeGrid(list, 3);
  Click(60, 20);  // slot 1
  ASSERT_TRUE(list.IsSelected(1));
  const std::vector<std::uint32_t> px = Shown(list);
  const Gdiplus::RectF r = list.GetImageRects()[1];
  // Black under the translucent orange (alpha 150 of 255).
  EXPECT_TRUE(Close(At(px, 200, r.X + 20, r.Y + 15), 0xFF96703B)) << std::hex << At(px, 200, r.X + 20, r.Y + 15);
  // The unselected slot 0 stays black; the background is grey.
  EXPECT_EQ(At(px, 200, 25, 20), 0xFF000000u);
  EXPECT_EQ(At(px, 200, 2, 2), 0xFF646464u);
  // The pen frames image and caption: left and right edges, and the bottom
  // under the caption bar.
  auto green = [&](float x, float y) {
    for (int d = -1; d <= 1; ++d)
      if (At(px, 200, x + static_cast<float>(d), y) == 0xFF00FF00u || At(px, 200, x, y + static_cast<float>(d)) == 0xFF00FF00u)
        return true;
    return false;
  };
  EXPECT_TRUE(green(r.X, r.Y + 10));
  EXPECT_TRUE(green(r.X + r.Width, r.Y + 40));
  EXPECT_TRUE(green(r.X + 20, r.Y + r.Height + 15));
  EXPECT_FALSE(green(r.X + 20, r.Y + 15));
}

TEST_F(ImageListTest, SlotsBeyondTheGridAreKeptButNeitherDrawnNorHit) {
  // 110 x 120 holds 2 x 2 positions.
  CImageListX list;
  MakeGrid(list, 7, 110, 120);
  ASSERT_EQ(list.GetImageRects().size(), 4u);
  ASSERT_EQ(list.GetSlotCount(), 7);
  const std::vector<BYTE> white = Filled(list.GetImage(5), 255, 255, 255);
  for (UINT i = 4; i < 7; ++i) list.SetImageData(i, const_cast<BYTE*>(white.data()));
  EXPECT_TRUE(Same(list.GetImage(6), white));
  list.PaintBackBuffer();
  list.Invalidate();
  win::PumpMessages();
  for (const auto& [x, y] : {std::pair{10, 10}, std::pair{60, 60}, std::pair{100, 110}}) Click(x, y);
  int w = 0, h = 0;
  const auto* back = reinterpret_cast<const std::uint32_t*>(list.GetBackBuffer(&w, &h));
  ASSERT_EQ(w, 110);
  ASSERT_EQ(h, 120);
  for (int i = 0; i < w * h; ++i) ASSERT_NE(back[i] | 0xFF000000, 0xFFFFFFFFu) << i;
  for (std::uint32_t p : Shown(list)) ASSERT_NE(p, 0xFFFFFFFFu);
  for (int i = 4; i < 7; ++i) EXPECT_FALSE(list.IsSelected(i));
}

TEST_F(ImageListTest, BeforeInitializeOnlyTheFlagsAndPixelsChange) {
  CImageListX list;
  Make(list, 200, 180);
  list.SetImageDataSize(4, 3);
  CString cam("Cam");
  list.AddImageElement(&cam);
  list.Invalidate();
  win::PumpMessages();
  const std::vector<std::uint32_t> before = Shown(list);
  Click(10, 10);
  EXPECT_FALSE(list.IsSelected(0));
  DataPacket packet;
  packet.bytes.assign(CImageListX::kPacketPixels + 12 * 3, 77);
  Strings seen;
  list.SetNodeData(0, &packet);
  list.PaintBackBuffer();
  EXPECT_EQ(list.GetBackBuffer(nullptr, nullptr), nullptr);
  EXPECT_TRUE(Same(list.GetImage(0), std::vector<BYTE>(36, 77)));
  EXPECT_TRUE(seen.calls.empty());
  EXPECT_EQ(Shown(list), before);
}

// ---- Filling slots ---------------------------------------------------------------------

TEST_F(ImageListTest, SetImageDataFillsTheSlotAndDrawsItOnTheWindow) {
  CImageListX list;
  MakeGrid(list, 2);
  list.PaintBackBuffer();
  const std::vector<BYTE> blue = Filled(list.GetImage(1), 200, 100, 50);
  list.SetImageData(1, const_cast<BYTE*>(blue.data()));
  EXPECT_TRUE(Same(list.GetImage(1), blue));
  const std::vector<std::uint32_t> px = Shown(list);
  const Gdiplus::RectF r = list.GetImageRects()[1];
  for (float y = r.Y + 1; y < r.Y + r.Height - 1; y += 4)
    for (float x = r.X + 1; x < r.X + r.Width - 1; x += 4) ASSERT_EQ(At(px, 200, x, y), 0xFF3264C8u) << x << "," << y;
  // The caption bar: dark, with the caption's glyphs on it.
  int bar = 0;
  for (float y = r.Y + r.Height; y < r.Y + r.Height + 15; ++y)
    for (float x = r.X; x < r.X + r.Width; ++x) {
      ASSERT_NE(At(px, 200, x, y), 0xFF646464u);
      bar += At(px, 200, x, y) == 0xFF323232u;
    }
  EXPECT_GT(bar, 40 * 15 / 2);
  // Out of range and null pixels are ignored.
  list.SetImageData(2, const_cast<BYTE*>(blue.data()));
  list.SetImageData(0, nullptr);
  EXPECT_TRUE(Same(list.GetImage(0), std::vector<BYTE>(blue.size(), 0)));
}

TEST_F(ImageListTest, SetNodeDataCaptionsWithThePacketsNumbers) {
  for (bool toBackBuffer : {true, false}) {
    SCOPED_TRACE(toBackBuffer);
    CImageListX list;
    Make(list, 200, 180);
    list.Initialize();
    list.SetImageDataSize(4, 3);
    list.SetImagePreviewSize(40, 30);
    list.AddImageElement(nullptr);
    CString cam("Cam");
    list.AddImageElement(&cam);
    list.PaintBackBuffer();
    list.Invalidate();
    win::PumpMessages();
    list.SetPaintToBackBuffer(toBackBuffer);
    int w = 0, h = 0;
    const BYTE* back = list.GetBackBuffer(&w, &h);
    const std::vector<BYTE> backBefore(back, back + w * h * 4);
    const std::vector<std::uint32_t> shownBefore = Shown(list);

    DataPacket packet;
    packet.bytes.assign(CImageListX::kPacketPixels + 3 * 12, 0);
    const std::int32_t five = 5, nine = 9;
    std::memcpy(packet.bytes.data() + 716, &five, 4);
    std::memcpy(packet.bytes.data() + 296, &nine, 4);
    for (size_t i = CImageListX::kPacketPixels; i < packet.bytes.size(); ++i) packet.bytes[i] = 0xC0;
    Strings seen;
    list.SetNodeData(1, &packet);
    ASSERT_EQ(seen.calls.size(), 1u);
    EXPECT_EQ(seen.calls[0].text, L"Cam - 5 / 9");
    const Gdiplus::RectF& caption = list.GetCaptionRects()[1];
    EXPECT_EQ(seen.calls[0].layout.X, caption.X);
    EXPECT_EQ(seen.calls[0].layout.Y, caption.Y);
    EXPECT_EQ(seen.calls[0].layout.Width, caption.Width);
    EXPECT_STREQ(list.GetCaption(1), "Cam");  // the numbers are shown, not kept
    EXPECT_TRUE(Same(list.GetImage(1), std::vector<BYTE>(36, 0xC0)));
    const bool backChanged = std::vector<BYTE>(back, back + w * h * 4) != backBefore;
    const bool shownChanged = Shown(list) != shownBefore;
    EXPECT_EQ(backChanged, toBackBuffer);
    EXPECT_EQ(shownChanged, !toBackBuffer);

    // One byte short, and null, are refused: the slot keeps its pixels.
    DataPacket shortPacket;
    shortPacket.bytes.assign(CImageListX::kPacketPixels + 3 * 12 - 1, 0x11);
    seen.calls.clear();
    list.SetNodeData(1, &shortPacket);
    list.SetNodeData(1, nullptr);
    list.SetNodeData(7, &packet);
    EXPECT_TRUE(Same(list.GetImage(1), std::vector<BYTE>(36, 0xC0)));
    EXPECT_TRUE(seen.calls.empty());
  }
}

}  // namespace
