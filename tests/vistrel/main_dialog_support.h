#pragma once
// The main dialog run in-process as the program runs it: modally, acting
// from the next-modal hook.
#include <functional>
#include <string>

#include "vistrel_dlg.h"
#include "win/dialog.h"
#include "window_test_support.h"

namespace main_dialog_test {

// Runs the main dialog modally; body acts inside its loop, between settles,
// then the dialog is ended. A non-empty programFolder stands for the
// executable's folder.
inline void RunMain(const std::function<void(CVistrelDlg&)>& body, const std::string& programFolder = "") {
  CVistrelDlg dialog;
  if (!programFolder.empty()) dialog.SetProgramFolder(programFolder);
  win::SetNextModalHook([&](CDialog&) {
    window_test::Settle();
    body(dialog);
    window_test::Settle();
    dialog.EndDialog(IDOK);
  });
  dialog.DoModal();
}

}  // namespace main_dialog_test
