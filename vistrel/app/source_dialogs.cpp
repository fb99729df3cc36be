#include "source_dialogs.h"

#include "quorl_dshow/graph_functions.h"
#include "win/dialog.h"

namespace {

constexpr UINT kStatic = 0xFFFF;

// 190 x 106 dialog units; the title bar covers the top 18.
win::DialogTemplate SourceSelectTemplate() {
  win::DialogTemplate t;
  t.id = CSourceSelectDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.cx = 190;
  t.cy = 106;
  t.caption = "Select Video Source";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"COMBOBOX", CSourceSelectDlg::kDeviceList, "", 10, 40, 170, 60,
       CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDOK, "OK", 40, 82, 50, 16, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 100, 82, 50, 16, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

// 168 x 74 dialog units.
win::DialogTemplate RemoveSourceTemplate() {
  win::DialogTemplate t;
  t.id = CRemoveSourceOptionsDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.cx = 168;
  t.cy = 74;
  t.caption = "Remove video source";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"STATIC", kStatic, "Would you like to remove all cameras and data associated with this source?", 10, 24, 148,
       24, WS_VISIBLE},
      {"BUTTON", CRemoveSourceOptionsDlg::kYes, "Yes", 8, 52, 46, 16, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", CRemoveSourceOptionsDlg::kNo, "No", 61, 52, 46, 16, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", CRemoveSourceOptionsDlg::kCancel, "Cancel", 114, 52, 46, 16,
       BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

// The templates come with the classes: whoever links the dialogs has them.
const bool g_registered = [] {
  win::RegisterDialogTemplate(SourceSelectTemplate());
  win::RegisterDialogTemplate(RemoveSourceTemplate());
  return true;
}();

}  // namespace

CSourceSelectDlg::CSourceSelectDlg(CWnd* parent) : CDialogX(IDD, parent, "Select Video Source", 1, nullptr) {}

CSourceSelectDlg::~CSourceSelectDlg() = default;

void CSourceSelectDlg::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kDeviceList, m_cbDevices);
}

BOOL CSourceSelectDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  // Fixed buffers: the enumeration cuts each name and stops at the bound.
  std::vector<char> storage(static_cast<std::size_t>(kMaxDevices) * kNameSize, '\0');
  std::vector<char*> names(kMaxDevices);
  for (int i = 0; i < kMaxDevices; ++i) names[i] = storage.data() + static_cast<std::size_t>(i) * kNameSize;
  int count = 0;
  DShow::EnumVideoCaptureDevices(names.data(), &count, kMaxDevices, kNameSize);
  m_names.clear();
  for (int i = 0; i < count && i < kMaxDevices; ++i) {
    m_names.emplace_back(names[i]);
    m_cbDevices.AddString(names[i]);
  }
  m_cbDevices.SetCurSel(0);
  SetWindowText(" Select video device..");
  return TRUE;
}

void CSourceSelectDlg::OnOK() {
  const int selected = m_cbDevices.GetCurSel();
  m_nSelected = selected;
  m_strSelected = selected >= 0 && selected < static_cast<int>(m_names.size()) ? m_names[selected] : std::string();
  CDialogX::OnOK();
}

BEGIN_MESSAGE_MAP(CRemoveSourceOptionsDlg, CDialogX)
ON_BN_CLICKED(CRemoveSourceOptionsDlg::kYes, OnYes)
ON_BN_CLICKED(CRemoveSourceOptionsDlg::kNo, OnNo)
ON_BN_CLICKED(CRemoveSourceOptionsDlg::kCancel, OnCancelButton)
END_MESSAGE_MAP()

CRemoveSourceOptionsDlg::CRemoveSourceOptionsDlg(CWnd* parent)
    : CDialogX(IDD, parent, "Remove video source", 1, nullptr) {}

CRemoveSourceOptionsDlg::~CRemoveSourceOptionsDlg() = default;

void CRemoveSourceOptionsDlg::OnYes() {
  m_nAnswer = kRemoveCameras;
  EndDialog(IDOK);
}

void CRemoveSourceOptionsDlg::OnNo() {
  m_nAnswer = kKeepCameras;
  EndDialog(IDOK);
}

void CRemoveSourceOptionsDlg::OnCancelButton() {
  m_nAnswer = kCancelled;
  EndDialog(IDCANCEL);
}
