#include "relative_orientation_dlg.h"

#include <string>

#include "calibration/calibration_data_store.h"
#include "win/dialog.h"
#include "win/prompts.h"

namespace {

constexpr UINT kStatic = 0xFFFF;

// 298 x 258 dialog units. The title bar covers the top 18 units; below it
// the two camera-and-view pairs side by side, the result label filling the
// middle, and the four buttons at the bottom.
win::DialogTemplate RelativeOrientationTemplate() {
  win::DialogTemplate t;
  t.id = CRelativeOrientationDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 298;
  t.cy = 258;
  t.caption = "Relative Orientation Calculator";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  constexpr DWORD label = SS_LEFTNOWORDWRAP | WS_VISIBLE;
  constexpr DWORD combo = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE;
  constexpr DWORD button = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;
  t.items = {
      {"STATIC", kStatic, "First camera", 7, 24, 66, 8, label},
      {"COMBOBOX", CRelativeOrientationDlg::kFirstCamera, "", 7, 34, 66, 14, combo},
      {"STATIC", kStatic, "View", 79, 24, 66, 8, label},
      {"COMBOBOX", CRelativeOrientationDlg::kFirstView, "", 79, 34, 66, 14, combo},
      {"STATIC", kStatic, "Second camera", 153, 24, 66, 8, label},
      {"COMBOBOX", CRelativeOrientationDlg::kSecondCamera, "", 153, 34, 66, 14, combo},
      {"STATIC", kStatic, "View", 225, 24, 66, 8, label},
      {"COMBOBOX", CRelativeOrientationDlg::kSecondView, "", 225, 34, 66, 14, combo},
      {"STATIC", CRelativeOrientationDlg::kOutput, "", 7, 56, 284, 170, WS_VISIBLE},
      {"BUTTON", CRelativeOrientationDlg::kCalculate, "Calculate", 7, 235, 56, 16, button},
      {"BUTTON", CRelativeOrientationDlg::kSave, "Save...", 67, 235, 56, 16, button},
      {"BUTTON", IDOK, "OK", 181, 235, 52, 16, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 239, 235, 52, 16, button},
  };
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(RelativeOrientationTemplate());
  return true;
}();

}  // namespace

BEGIN_MESSAGE_MAP(CRelativeOrientationDlg, CDialogX)
ON_CBN_SELCHANGE(CRelativeOrientationDlg::kFirstCamera, OnCameraChanged)
ON_CBN_SELCHANGE(CRelativeOrientationDlg::kSecondCamera, OnCameraChanged)
ON_BN_CLICKED(CRelativeOrientationDlg::kCalculate, OnCalculate)
ON_BN_CLICKED(CRelativeOrientationDlg::kSave, OnSave)
END_MESSAGE_MAP()

CRelativeOrientationDlg::CRelativeOrientationDlg(CWnd* parent, CalibrationDataStore* store)
    : CDialogX(IDD, parent, "Relative Orientation Calculator", 2, nullptr), m_pStore(store) {}

void CRelativeOrientationDlg::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kFirstCamera, m_cbFirstCamera);
  DDX_Control(dx, kSecondCamera, m_cbSecondCamera);
  DDX_Control(dx, kFirstView, m_cbFirstView);
  DDX_Control(dx, kSecondView, m_cbSecondView);
  DDX_Control(dx, kOutput, m_output);
}

BOOL CRelativeOrientationDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  // Camera indices, not entries: a rig has no views of its own.
  const int cameras = m_pStore ? m_pStore->GetMonoCameraCount() : 0;
  for (int c = 0; c < cameras; ++c) {
    m_cbFirstCamera.AddString(std::to_string(c).c_str());
    m_cbSecondCamera.AddString(std::to_string(c).c_str());
  }
  if (cameras > 0) {
    m_cbFirstCamera.SetCurSel(0);
    m_cbSecondCamera.SetCurSel(0);
  }
  // The view lists are filled now, not only once a camera changes.
  OnCameraChanged();
  m_output.Initialize(8);
  m_output.SetText("");
  // Nothing to save before the first result.
  GetDlgItem(kSave)->EnableWindow(FALSE);
  return TRUE;
}

void CRelativeOrientationDlg::FillViews(CComboBox& views, const CComboBox& camera) {
  views.ResetContent();
  if (!m_pStore) return;
  for (const std::string& label : RelativeOrientationViewLabels(*m_pStore, camera.GetCurSel()))
    views.AddString(label.c_str());
  if (views.GetCount() > 0) views.SetCurSel(0);
}

void CRelativeOrientationDlg::OnCameraChanged() {
  FillViews(m_cbFirstView, m_cbFirstCamera);
  FillViews(m_cbSecondView, m_cbSecondCamera);
}

void CRelativeOrientationDlg::OnCalculate() {
  RelativeOrientation result;
  // The view lists hold the offered views in order, so a list position is a view index.
  if (!m_pStore || !ComputeRelativeOrientation(*m_pStore, m_cbFirstCamera.GetCurSel(), m_cbFirstView.GetCurSel(),
                                               m_cbSecondCamera.GetCurSel(), m_cbSecondView.GetCurSel(), result)) {
    m_output.SetText("Choose two cameras and a view of each.");
    m_output.Invalidate();
    return;
  }
  m_result = result;
  m_bHasResult = true;
  m_output.SetText(FormatRelativeOrientationLabel(m_result).c_str());
  m_output.Invalidate();
  GetDlgItem(kSave)->EnableWindow(TRUE);
}

void CRelativeOrientationDlg::OnSave() {
  if (!m_bHasResult) return;
  CFileDialog dialog(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, this);
  if (dialog.DoModal() != IDOK) return;
  std::string message;
  if (!SaveRelativeOrientation(dialog.GetPathName().GetString(), m_result, &message)) AfxMessageBox(message.c_str());
}
