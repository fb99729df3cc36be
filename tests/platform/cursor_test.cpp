// The cursor and capture seam: the built-in capture tells the window that
// loses it who took it; client rectangles come from the window services.
#include <gtest/gtest.h>

#include <vector>

#include "fake_window_services.h"
#include "win/cursor.h"
#include "win/messages.h"

namespace {

TEST(CursorSeam, BuiltInCaptureNotifiesTheLoserWithTheNewOwner) {
  test::FakeWindowServices windows;
  HWND a = windows.Add(10, 10), b = windows.Add(10, 10);
  std::vector<std::pair<UINT, LPARAM>> seen;
  windows.Get(a).handler = [&](UINT m, WPARAM, LPARAM lp) {
    seen.emplace_back(m, lp);
    return LRESULT(0);
  };
  EXPECT_EQ(SetCapture(a), nullptr);
  EXPECT_EQ(GetCapture(), a);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(SetCapture(b), a);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, WM_CAPTURECHANGED);
  EXPECT_EQ(seen[0].second, LPARAM(b));
  EXPECT_TRUE(ReleaseCapture());
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST(CursorSeam, ClientRectAndDefaults) {
  RECT r{1, 2, 3, 4};
  EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x5), &r));
  EXPECT_EQ(r.right, 0);
  test::FakeWindowServices windows;
  HWND w = windows.Add(320, 200);
  ASSERT_TRUE(GetClientRect(w, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 320);
  EXPECT_EQ(r.bottom, 200);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  POINT p{7, 7};
  EXPECT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 0);
  EXPECT_FALSE(GetCursorPos(nullptr));
}

}  // namespace
