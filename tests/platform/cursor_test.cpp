// The cursor and capture seam: the built-in capture tells the window that
// loses it who took it.
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
  win::CursorServices* cursor = win::GetCursorServices();
  EXPECT_EQ(cursor->SetCapture(a), nullptr);
  EXPECT_EQ(cursor->GetCapture(), a);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(cursor->SetCapture(b), a);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, WM_CAPTURECHANGED);
  EXPECT_EQ(seen[0].second, LPARAM(b));
  EXPECT_TRUE(cursor->ReleaseCapture());
  EXPECT_EQ(cursor->GetCapture(), nullptr);
}

TEST(CursorSeam, Defaults) {
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  POINT p{7, 7};
  EXPECT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 0);
  EXPECT_FALSE(GetCursorPos(nullptr));
}

}  // namespace
