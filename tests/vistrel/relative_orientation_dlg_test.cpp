// The relative orientation dialog, driven through the modal hook and the
// scripted prompts.
#include "relative_orientation_dlg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "gdiplus/startup.h"
#include "relative_orientation_fixture.h"
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

std::vector<std::string> Items(CDialog& d, UINT id) {
  auto* list = static_cast<CComboBox*>(d.GetDlgItem(id));
  std::vector<std::string> items;
  for (int i = 0; i < list->GetCount(); ++i) {
    CString s;
    list->GetLBText(i, s);
    items.emplace_back(s.GetString());
  }
  return items;
}

void Choose(CDialog& d, UINT id, int index) {
  static_cast<CComboBox*>(d.GetDlgItem(id))->SetCurSel(index);
  if (id == CRelativeOrientationDlg::kFirstCamera || id == CRelativeOrientationDlg::kSecondCamera)
    d.SendMessage(WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(d.GetDlgItem(id)->m_hWnd));
}

void Click(CDialog& d, UINT id) {
  d.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(d.GetDlgItem(id)->m_hWnd));
}

std::string Output(CDialog& d) {
  return static_cast<CRelativeOrientationDlg&>(d).Output().GetText().GetString();
}

class RelativeOrientationDlgTest : public testing::Test {
 protected:
  void SetUp() override { BuildOrientationStore(store_); }
  // Runs the dialog with act, then closes it with OK.
  void Run(const std::function<void(CDialog&)>& act) {
    CRelativeOrientationDlg dialog(nullptr, &store_);
    win::SetNextModalHook([&](CDialog& d) {
      act(d);
      d.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    win::SetNextModalHook(nullptr);
  }
  CalibrationDataStore store_;
  win::ScriptedPrompts prompts_;
};

using Items_ = std::vector<std::string>;

TEST_F(RelativeOrientationDlgTest, ListsAreFilledAtOnceAndFollowTheCamera) {
  Run([&](CDialog& d) {
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kFirstCamera), (Items_{"0", "1", "2"}));
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kSecondCamera), (Items_{"0", "1", "2"}));
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kFirstView), (Items_{"0", "1", "2"}));
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kSecondView), (Items_{"0", "1", "2"}));
    EXPECT_EQ(Output(d), "");
    EXPECT_FALSE(d.GetDlgItem(CRelativeOrientationDlg::kSave)->IsWindowEnabled());

    Choose(d, CRelativeOrientationDlg::kSecondCamera, 2);  // after the rig, one image disabled
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kSecondView), (Items_{"0", "2"}));
    Choose(d, CRelativeOrientationDlg::kFirstCamera, 1);  // never calibrated
    EXPECT_EQ(Items(d, CRelativeOrientationDlg::kFirstView), Items_{});
    Click(d, CRelativeOrientationDlg::kCalculate);
    EXPECT_EQ(Output(d), "Choose two cameras and a view of each.");
    EXPECT_FALSE(d.GetDlgItem(CRelativeOrientationDlg::kSave)->IsWindowEnabled());
  });
}

TEST_F(RelativeOrientationDlgTest, CalculateShowsTheResultAndSaveWritesIt) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("relative_orientation_dlg_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "orientation.txt").string();
  const std::string unwritable = (folder / "missing" / "orientation.txt").string();
  prompts_.fileAnswers.push_back({true, {path}});
  prompts_.fileAnswers.push_back({true, {unwritable}});
  RelativeOrientation expected;
  ASSERT_TRUE(ComputeRelativeOrientation(store_, 2, 1, 0, 0, expected));

  Run([&](CDialog& d) {
    Choose(d, CRelativeOrientationDlg::kFirstCamera, 2);
    Choose(d, CRelativeOrientationDlg::kFirstView, 1);  // image 2
    Click(d, CRelativeOrientationDlg::kCalculate);
    EXPECT_EQ(Output(d), FormatRelativeOrientationLabel(expected));
    EXPECT_TRUE(d.GetDlgItem(CRelativeOrientationDlg::kSave)->IsWindowEnabled());
    Click(d, CRelativeOrientationDlg::kSave);
    Click(d, CRelativeOrientationDlg::kSave);
  });

  ASSERT_EQ(prompts_.files.size(), 2u);
  EXPECT_FALSE(prompts_.files[0].open);
  EXPECT_EQ(prompts_.files[0].defaultExt, "");
  EXPECT_EQ(prompts_.files[0].flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), FormatRelativeOrientationFile(expected));
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text, "Cannot write: " + unwritable + "!");
  std::filesystem::remove_all(folder);
}

}  // namespace
