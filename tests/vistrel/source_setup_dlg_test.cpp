// The stream set-up dialog: the source's values shown, option boxes hit by
// clicks (and nothing outside them), the property-page buttons for a live
// source only.
#include "source_setup_dlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "video_test_support.h"
#include "win/dialog.h"

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new video_test::GdiplusEnvironment);

constexpr int t = CDialogX::kTitleBarHeight;

struct Seen {
  bool filterEnabled = false, pinEnabled = false;
  int splittingShown = -1, deinterlaceShown = -1;
  std::uint32_t chosenPixel = 0;
  INT_PTR result = 0;
  int splitting = -1, deinterlace = -1;
};

Seen RunSetup(bool live, int splitting, int deinterlace, const std::vector<std::pair<int, int>>& clicks, int close) {
  CSourceSetupDlg dialog;
  dialog.Prepare(live, nullptr, splitting, deinterlace, CString("."));
  Seen seen;
  win::SetNextModalHook([&](CDialog& d) {
    seen.filterEnabled = d.GetDlgItem(CSourceSetupDlg::kCaptureFilter)->IsWindowEnabled();
    seen.pinEnabled = d.GetDlgItem(CSourceSetupDlg::kCapturePin)->IsWindowEnabled();
    seen.splittingShown = dialog.GetSplitting();
    seen.deinterlaceShown = dialog.GetDeinterlace();
    for (auto [x, y] : clicks) d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    // The chosen splitting box is drawn in the highlight colour.
    const CRect box = CSourceSetupDlg::SplittingBox(dialog.GetSplitting());
    if (dialog.BackBuffer()) seen.chosenPixel = dialog.BackBuffer()[(box.top + 1) * dialog.BufferWidth() + box.left + 1];
    d.PostMessage(WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
  });
  seen.result = dialog.DoModal();
  win::SetNextModalHook(nullptr);
  seen.splitting = dialog.GetSplitting();
  seen.deinterlace = dialog.GetDeinterlace();
  return seen;
}

TEST(SourceSetupDlg, ShowsTheSourcesValuesAndButtonsForALiveSourceOnly) {
  Seen seen = RunSetup(true, 2, 1, {}, IDOK);
  EXPECT_TRUE(seen.filterEnabled);
  EXPECT_TRUE(seen.pinEnabled);
  EXPECT_EQ(seen.splittingShown, 2);
  EXPECT_EQ(seen.deinterlaceShown, 1);
  EXPECT_EQ(seen.chosenPixel, 0xFFFFBF00u);
  seen = RunSetup(false, 1, 0, {}, IDOK);
  EXPECT_FALSE(seen.filterEnabled);
  EXPECT_FALSE(seen.pinEnabled);
  EXPECT_EQ(seen.splittingShown, 1);
}

TEST(SourceSetupDlg, ClicksSelectTheOptionTheyHit) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> clicks;
    int splitting, deinterlace;
  };
  const Case cases[] = {
      {"stereo", {{20, t + 80}}, 1, 0},
      {"quad", {{89, t + 139}}, 2, 0},
      {"fields", {{115, t + 75}}, 0, 1},
      {"quad, fields, then none", {{50, t + 120}, {150, t + 90}, {50, t + 50}}, 0, 1},
      {"between the boxes", {{50, t + 72}, {100, t + 50}}, 0, 0},
      {"below the deinterlace boxes", {{150, t + 120}}, 0, 0},
      {"right edge is outside", {{90, t + 80}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Seen seen = RunSetup(false, 0, 0, c.clicks, IDOK);
    EXPECT_EQ(seen.result, IDOK);
    EXPECT_EQ(seen.splitting, c.splitting);
    EXPECT_EQ(seen.deinterlace, c.deinterlace);
  }
}

TEST(SourceSetupDlg, OutOfRangeValuesShowAsNone) {
  const Seen seen = RunSetup(false, 7, -3, {}, IDCANCEL);
  EXPECT_EQ(seen.result, IDCANCEL);
  EXPECT_EQ(seen.splittingShown, 0);
  EXPECT_EQ(seen.deinterlaceShown, 0);
}

}  // namespace
