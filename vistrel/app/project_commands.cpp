#include "project_commands.h"

#include "calibration/calibration_data_store.h"
#include "calibration/project_file.h"
#include "win/messagebox.h"
#include "win/prompts.h"
#include "win/window.h"

namespace {

void Tell(CWnd* owner, const std::string& text) {
  ::MessageBox(owner ? owner->GetSafeHwnd() : nullptr, text.c_str(), nullptr, MB_OK);
}

}  // namespace

bool SaveProject(const CalibrationDataStore& store, CWnd* owner, const char* extension) {
  CFileDialog dialog(FALSE, ".txt", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, owner);
  if (dialog.DoModal() != IDOK) return false;
  std::string message;
  if (WriteProject(store, dialog.GetPathName().GetString(), extension ? extension : "", &message)) return true;
  Tell(owner, message);
  return false;
}

bool LoadProject(const std::string& path, CalibrationDataStore& store, IDataViewColumns& view, CWnd* owner) {
  CalibrationDataStore staged;
  ProjectReadReport report;
  if (!ReadProject(path, staged, &report)) {
    Tell(owner, report.message);
    return false;
  }
  const int first = store.GetEntryCount();
  const int firstCamera = store.GetMonoCameraCount();
  int rig = store.GetStereoRigCount();
  store.AppendFrom(staged);
  for (int entry = first; entry < store.GetEntryCount(); ++entry) {
    if (store.GetEntryKind(entry) == kStereoRigEntry) {
      const StereoPairRecord pair = store.GetStereoPair(rig++);
      view.BuildStereoRigPanel(pair.cameraA, pair.cameraB);
    } else {
      view.AddCameraColumn();
    }
  }
  view.RefreshPanels(1000);
  const std::string skipped = SkippedFilesMessage(report, firstCamera);
  if (!skipped.empty()) Tell(owner, skipped);
  return true;
}
