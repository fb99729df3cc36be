// The capture settings dialog, answered through the modal hook and scripted
// file dialogs.
#include "capture_settings_dlg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dshow/devices.h"
#include "quorl_dshow/graph_functions.h"
#include "video_test_support.h"
#include "win/prompts.h"

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new video_test::GdiplusEnvironment);

std::vector<std::string> Compressors() {
  std::vector<char> storage(1000 * 260);
  std::vector<char*> names(1000);
  for (int i = 0; i < 1000; ++i) names[i] = storage.data() + i * 260;
  int count = 0;
  DShow::EnumVideoCompressors(names.data(), &count, 1000, 260);
  return std::vector<std::string>(names.begin(), names.begin() + count);
}

struct Seen {
  std::vector<std::string> list;
  std::string windowText, titleBarText, fileName;
  int selection = -1;
  INT_PTR result = 0;
  int index = -1;
  std::string path;
};

class CaptureSettingsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    dshow::SetCompressorsHidden(false);
    win::SetNextModalHook(nullptr);
  }
  // Runs the dialog; act works on it before it is closed with `close`.
  Seen Run(const std::function<void(CDialog&)>& act, int close = IDOK) {
    CCaptureSettingsDlg dialog;
    Seen seen;
    win::SetNextModalHook([&](CDialog& d) {
      auto* list = static_cast<CComboBox*>(d.GetDlgItem(CCaptureSettingsDlg::kCompressorList));
      for (int i = 0; i < list->GetCount(); ++i) {
        CString s;
        list->GetLBText(i, s);
        seen.list.emplace_back(s.GetString());
      }
      seen.selection = list->GetCurSel();
      CString text;
      d.GetWindowText(text);
      seen.windowText = text.GetString();
      if (auto* x = dynamic_cast<CDialogX*>(&d); x && x->GetTitleBar()) seen.titleBarText = x->GetTitleBar()->GetText().GetString();
      d.GetDlgItem(CCaptureSettingsDlg::kFileName)->GetWindowText(text);
      seen.fileName = text.GetString();
      if (act) act(d);
      d.PostMessage(WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
    });
    seen.result = dialog.DoModal();
    seen.index = dialog.GetCompressorIndex();
    seen.path = dialog.GetFileName().GetString();
    return seen;
  }
  static void Browse(CDialog& d) {
    d.SendMessage(WM_COMMAND, MAKEWPARAM(CCaptureSettingsDlg::kBrowse, BN_CLICKED),
                  reinterpret_cast<LPARAM>(d.GetDlgItem(CCaptureSettingsDlg::kBrowse)->m_hWnd));
  }
  static void Choose(CDialog& d, int index) {
    static_cast<CComboBox*>(d.GetDlgItem(CCaptureSettingsDlg::kCompressorList))->SetCurSel(index);
  }
  win::ScriptedPrompts prompts;
};

TEST_F(CaptureSettingsTest, ListsNoCompressionThenTheCompressors) {
  const std::vector<std::string> compressors = Compressors();
  const Seen seen = Run(nullptr);
  ASSERT_EQ(seen.list.size(), compressors.size() + 1);
  EXPECT_EQ(seen.list[0], "No compression");
  for (std::size_t i = 0; i < compressors.size(); ++i) EXPECT_EQ(seen.list[i + 1], compressors[i]);
  EXPECT_EQ(seen.selection, 0);
  EXPECT_EQ(seen.windowText, "Capture Settings...");
  EXPECT_EQ(seen.titleBarText, "Video Capture Settings");
  EXPECT_EQ(seen.fileName, "C:\\CalibVideo.avi");
  EXPECT_EQ(seen.result, IDOK);
  EXPECT_EQ(seen.index, 0);
  EXPECT_EQ(seen.path, "C:\\CalibVideo.avi");
  const win::DialogTemplate* t = win::FindDialogTemplate(CCaptureSettingsDlg::IDD);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->caption, "Video Capture Settings");
  EXPECT_EQ(t->cx, 174);
  EXPECT_EQ(t->cy, 149);

  dshow::SetCompressorsHidden(true);
  const Seen hidden = Run(nullptr);
  EXPECT_EQ(hidden.list, std::vector<std::string>{"No compression"});
}

TEST_F(CaptureSettingsTest, OkReturnsTheChoiceAndBrowseKeepsIt) {
  const std::size_t compressors = Compressors().size();
  if (compressors < 2)
    MEDIA_FIXTURE_MISSING(std::to_string(compressors) +
                          " video compressors here, two needed: GStreamer encoders that avimux takes, such as "
                          "jpegenc (gstreamer1.0-plugins-good) and avenc_mjpeg (gstreamer1.0-libav)");
  struct Case {
    const char* name;
    bool browseAnswered;
    int close;
    int index;
    const char* path;
  } const cases[] = {
      {"browse answered", true, IDOK, 2, "/tmp/chosen.avi"},
      {"browse cancelled", false, IDOK, 2, "C:\\CalibVideo.avi"},
      {"dialog cancelled", true, IDCANCEL, 0, "C:\\CalibVideo.avi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts.files.clear();
    if (c.browseAnswered) prompts.fileAnswers.push_back({true, {"/tmp/chosen.avi"}});
    const Seen seen = Run(
        [&](CDialog& d) {
          Choose(d, 2);
          Browse(d);
          CString shown;
          d.GetDlgItem(CCaptureSettingsDlg::kFileName)->GetWindowText(shown);
          EXPECT_EQ(std::string(shown.GetString()), c.browseAnswered ? "/tmp/chosen.avi" : "C:\\CalibVideo.avi");
          EXPECT_EQ(static_cast<CComboBox*>(d.GetDlgItem(CCaptureSettingsDlg::kCompressorList))->GetCurSel(), 2);
        },
        c.close);
    ASSERT_EQ(prompts.files.size(), 1u);
    EXPECT_FALSE(prompts.files[0].open);
    EXPECT_EQ(prompts.files[0].flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
    EXPECT_EQ(prompts.files[0].defaultExt, "");
    EXPECT_EQ(prompts.files[0].initialName, "");
    EXPECT_EQ(seen.result, c.close);
    if (c.close == IDOK) {
      EXPECT_EQ(seen.index, c.index);
      EXPECT_EQ(seen.path, c.path);
    }
  }
}

}  // namespace
