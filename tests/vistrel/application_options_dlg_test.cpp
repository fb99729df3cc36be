// The options dialog, answered through the modal hook: its list, the
// extension each choice gives, and that Cancel and reopening keep the choice.
#include "application_options_dlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "win/prompts.h"

namespace {

struct Seen {
  std::vector<std::string> items;
  int selection = -2;
  std::string titleBarText;
  INT_PTR result = 0;
};

// One run of `dialog`: records what it shows, chooses `choice` unless it is
// -2, then closes with `close`.
Seen RunDialog(CApplicationOptionsDlg& dialog, int choice, int close) {
  Seen seen;
  win::SetNextModalHook([&](CDialog& d) {
    auto* list = static_cast<CComboBox*>(d.GetDlgItem(CApplicationOptionsDlg::kFormatList));
    for (int i = 0; i < list->GetCount(); ++i) {
      CString s;
      list->GetLBText(i, s);
      seen.items.emplace_back(s.GetString());
    }
    seen.selection = list->GetCurSel();
    if (auto* x = dynamic_cast<CDialogX*>(&d); x && x->GetTitleBar())
      seen.titleBarText = x->GetTitleBar()->GetText().GetString();
    if (choice != -2) list->SetCurSel(choice);
    d.PostMessage(WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
  });
  seen.result = dialog.DoModal();
  win::SetNextModalHook(nullptr);
  return seen;
}

TEST(ApplicationOptionsDlg, NewDialogListsFormatsAndGivesJpg) {
  CApplicationOptionsDlg dialog;
  EXPECT_EQ(dialog.GetExtension(), "jpg");
  const Seen seen = RunDialog(dialog, -2, IDOK);
  EXPECT_EQ(seen.items, (std::vector<std::string>{"BMP", "PNG", "TIFF", "JPG", "GIF"}));
  EXPECT_EQ(seen.selection, 3);
  EXPECT_EQ(seen.titleBarText, "Application Options");
  EXPECT_EQ(seen.result, IDOK);
  EXPECT_EQ(dialog.GetExtension(), "jpg");
}

TEST(ApplicationOptionsDlg, EachChoiceGivesItsExtension) {
  const struct {
    int choice;
    const char* extension;
  } cases[] = {{0, "bmp"}, {1, "png"}, {2, "tif"}, {3, "jpg"}, {4, "gif"}, {-1, "jpg"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    CApplicationOptionsDlg dialog;
    EXPECT_EQ(RunDialog(dialog, c.choice, IDOK).result, IDOK);
    EXPECT_EQ(dialog.GetFormatIndex(), c.choice);
    EXPECT_EQ(dialog.GetExtension(), c.extension);
  }
}

TEST(ApplicationOptionsDlg, CancelKeepsTheChoiceAndReopeningShowsIt) {
  CApplicationOptionsDlg dialog;
  RunDialog(dialog, 2, IDOK);
  ASSERT_EQ(dialog.GetExtension(), "tif");
  EXPECT_EQ(RunDialog(dialog, 4, IDCANCEL).result, IDCANCEL);
  EXPECT_EQ(dialog.GetExtension(), "tif");
  const Seen reopened = RunDialog(dialog, -2, IDCANCEL);
  EXPECT_EQ(reopened.selection, 2);
  EXPECT_EQ(reopened.items.size(), 5u);  // the list is filled afresh, not appended to
}

}  // namespace
