#include "capture_settings_dlg.h"

#include <vector>

#include "quorl_dshow/graph_functions.h"
#include "win/dialog.h"
#include "win/prompts.h"

namespace {

constexpr UINT kStatic = 0xFFFF;

// 174 x 149 dialog units. The title bar covers the top 18 units; below it
// the compressor list, the file name with its browse button, the hint, and
// the two buttons at the bottom.
win::DialogTemplate CaptureSettingsTemplate() {
  win::DialogTemplate t;
  t.id = CCaptureSettingsDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 174;
  t.cy = 149;
  t.caption = "Video Capture Settings";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"COMBOBOX", CCaptureSettingsDlg::kCompressorList, "", 7, 26, 160, 14,
       CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE},
      {"EDIT", CCaptureSettingsDlg::kFileName, "", 7, 46, 136, 12, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", CCaptureSettingsDlg::kBrowse, "...", 147, 46, 20, 12, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"STATIC", kStatic,
       "After 'Initializing Capture' - \n\nPress 'Run' to begin recording\nPress 'Stop' to end recording", 7, 68,
       160, 44, WS_VISIBLE},
      {"BUTTON", IDOK, "Initialize Capture", 7, 124, 84, 16, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 117, 124, 50, 16, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(CaptureSettingsTemplate());
  return true;
}();

}  // namespace

BEGIN_MESSAGE_MAP(CCaptureSettingsDlg, CDialogX)
ON_BN_CLICKED(CCaptureSettingsDlg::kBrowse, OnBnClickedBrowse)
END_MESSAGE_MAP()

CCaptureSettingsDlg::CCaptureSettingsDlg(CWnd* parent)
    : CDialogX(IDD, parent, "Video Capture Settings", 1, nullptr), m_strFileName("C:\\CalibVideo.avi") {}

CCaptureSettingsDlg::~CCaptureSettingsDlg() = default;

void CCaptureSettingsDlg::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kCompressorList, m_cbCompressors);
  DDX_CBIndex(dx, kCompressorList, m_nCompressor);
  DDX_Text(dx, kFileName, m_strFileName);
}

BOOL CCaptureSettingsDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  std::vector<char> storage(static_cast<std::size_t>(kMaxCompressors) * kNameSize, '\0');
  std::vector<char*> names(kMaxCompressors);
  for (int i = 0; i < kMaxCompressors; ++i) names[i] = storage.data() + static_cast<std::size_t>(i) * kNameSize;
  int count = 0;
  DShow::EnumVideoCompressors(names.data(), &count, kMaxCompressors, kNameSize);
  m_cbCompressors.AddString("No compression");
  for (int i = 0; i < count && i < kMaxCompressors; ++i) m_cbCompressors.AddString(names[i]);
  m_nCompressor = 0;
  m_cbCompressors.SetCurSel(0);
  SetWindowText("Capture Settings...");
  return TRUE;
}

void CCaptureSettingsDlg::OnBnClickedBrowse() {
  // The controls first: a compressor chosen before the browse must survive
  // the refresh below.
  UpdateData(TRUE);
  CFileDialog dialog(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, this);
  if (dialog.DoModal() != IDOK) return;
  m_strFileName = dialog.GetPathName();
  UpdateData(FALSE);
}
