// The device choice and the remove-source question, answered through the
// modal hook on fake devices.
#include "source_dialogs.h"
#include "source_setup_dlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dshow/devices.h"
#include "video_test_support.h"
#include "win/dialog.h"

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new video_test::GdiplusEnvironment);

class SourceSelectTest : public ::testing::Test {
 protected:
  void TearDown() override {
    dshow::ClearFakeDevices();
    win::SetNextModalHook(nullptr);
  }
  struct Seen {
    std::vector<std::string> names;
    int selection = -1;
    std::string windowText;
    INT_PTR result = 0;
    int index = -1;
    std::string name;
  };
  Seen Run(int choose, int close) {
    CSourceSelectDlg dialog;
    Seen seen;
    win::SetNextModalHook([&](CDialog& d) {
      auto* list = static_cast<CComboBox*>(d.GetDlgItem(CSourceSelectDlg::kDeviceList));
      for (int i = 0; i < list->GetCount(); ++i) {
        CString s;
        list->GetLBText(i, s);
        seen.names.emplace_back(s.GetString());
      }
      seen.selection = list->GetCurSel();
      CString text;
      d.GetWindowText(text);
      seen.windowText = text.GetString();
      if (choose >= 0) list->SetCurSel(choose);
      d.PostMessage(WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
    });
    seen.result = dialog.DoModal();
    seen.index = dialog.GetSelectedIndex();
    seen.name = dialog.GetSelectedName();
    return seen;
  }
};

TEST_F(SourceSelectTest, ListsDevicesStartsAtTheFirstAndKeepsTheChoiceOnOk) {
  dshow::ClearFakeDevices();
  for (const char* name : {"Left Cam", "Right Cam", "Board Cam"}) {
    dshow::FakeDevice device;
    device.name = name;
    dshow::AddFakeDevice(device);
  }
  Seen seen = Run(2, IDOK);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"Left Cam", "Right Cam", "Board Cam"}));
  EXPECT_EQ(seen.selection, 0);
  EXPECT_EQ(seen.windowText, " Select video device..");
  EXPECT_EQ(seen.result, IDOK);
  EXPECT_EQ(seen.index, 2);
  EXPECT_EQ(seen.name, "Board Cam");

  seen = Run(1, IDCANCEL);
  EXPECT_EQ(seen.result, IDCANCEL);
  EXPECT_EQ(seen.index, -1);
}

TEST_F(SourceSelectTest, TwentyFiveDevicesGiveTwentyEntriesLongNamesCut) {
  dshow::ClearFakeDevices();
  for (int i = 0; i < 25; ++i) {
    dshow::FakeDevice device;
    device.name = i == 3 ? std::string(150, 'x') : "Device " + std::to_string(i);
    dshow::AddFakeDevice(device);
  }
  const Seen seen = Run(3, IDOK);
  ASSERT_EQ(seen.names.size(), 20u);
  EXPECT_EQ(seen.names[3], std::string(99, 'x'));
  EXPECT_EQ(seen.names[19], "Device 19");
  EXPECT_EQ(seen.name, std::string(99, 'x'));
}

TEST(RemoveSourceOptions, AnswersFollowTheButtons) {
  struct Case {
    UINT button;
    int answer;
    INT_PTR result;
  };
  const Case cases[] = {
      {CRemoveSourceOptionsDlg::kYes, CRemoveSourceOptionsDlg::kRemoveCameras, IDOK},
      {CRemoveSourceOptionsDlg::kNo, CRemoveSourceOptionsDlg::kKeepCameras, IDOK},
      {CRemoveSourceOptionsDlg::kCancel, CRemoveSourceOptionsDlg::kCancelled, IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    CRemoveSourceOptionsDlg dialog;
    win::SetNextModalHook([&](CDialog& d) {
      CWnd* button = d.GetDlgItem(c.button);
      ASSERT_NE(button, nullptr);
      d.PostMessage(WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), reinterpret_cast<LPARAM>(button->m_hWnd));
    });
    EXPECT_EQ(dialog.DoModal(), c.result);
    EXPECT_EQ(dialog.GetAnswer(), c.answer);
  }
  win::SetNextModalHook(nullptr);
}

// The source dialogs open centred over the window that asks for them, as
// every other dialog of the workbench does, not in a screen corner.
TEST(SourceDialogPlacement, OpenCentredOverTheirOwner) {
  CWnd owner;
  ASSERT_TRUE(owner.CreateEx(0, "O", "owner", WS_POPUP | WS_VISIBLE, CRect(200, 100, 1400, 900), nullptr, 0));
  CRect ownerRect;
  owner.GetWindowRect(&ownerRect);
  const CPoint ownerCentre = ownerRect.CenterPoint();
  auto centreOf = [](CDialog& d) {
    CRect r;
    d.GetWindowRect(&r);
    return r.CenterPoint();
  };
  CPoint seen;
  auto close = [&](CDialog& d) {
    seen = centreOf(d);
    d.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  {
    CSourceSelectDlg select(&owner);
    win::SetNextModalHook(close);
    select.DoModal();
    EXPECT_NEAR(seen.x, ownerCentre.x, 1);
    EXPECT_NEAR(seen.y, ownerCentre.y, 1);
  }
  {
    CSourceSetupDlg setup(&owner);
    setup.Prepare(false, nullptr, 0, 0, CString());
    win::SetNextModalHook(close);
    setup.DoModal();
    EXPECT_NEAR(seen.x, ownerCentre.x, 1);
    EXPECT_NEAR(seen.y, ownerCentre.y, 1);
  }
  {
    CRemoveSourceOptionsDlg remove(&owner);
    win::SetNextModalHook([&](CDialog& d) {
      seen = centreOf(d);
      d.PostMessage(WM_COMMAND, MAKEWPARAM(CRemoveSourceOptionsDlg::kCancel, BN_CLICKED), 0);
    });
    remove.DoModal();
    EXPECT_NEAR(seen.x, ownerCentre.x, 1);
    EXPECT_NEAR(seen.y, ownerCentre.y, 1);
  }
  win::SetNextModalHook(nullptr);
  owner.DestroyWindow();
}

}  // namespace
