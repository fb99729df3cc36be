#include "application_options_dlg.h"

#include "win/dialog.h"

namespace {

constexpr UINT kStatic = 0xFFFF;

// 150 x 84 dialog units. The title bar covers the top 18 units; below it
// the label over the format list, and OK and Cancel at the bottom right.
win::DialogTemplate ApplicationOptionsTemplate() {
  win::DialogTemplate t;
  t.id = CApplicationOptionsDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 150;
  t.cy = 84;
  t.caption = "Application Options";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"STATIC", kStatic, "Image file format", 7, 24, 136, 8, SS_LEFTNOWORDWRAP | WS_VISIBLE},
      {"COMBOBOX", CApplicationOptionsDlg::kFormatList, "", 7, 35, 136, 14,
       CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDOK, "OK", 39, 62, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 93, 62, 50, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(ApplicationOptionsTemplate());
  return true;
}();

const char* const kFormatNames[] = {"BMP", "PNG", "TIFF", "JPG", "GIF"};

}  // namespace

CApplicationOptionsDlg::CApplicationOptionsDlg(CWnd* parent)
    : CDialogX(IDD, parent, "Application Options", 1, nullptr) {}

void CApplicationOptionsDlg::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kFormatList, m_cbFormat);
}

BOOL CApplicationOptionsDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  for (const char* name : kFormatNames) m_cbFormat.AddString(name);
  m_cbFormat.SetCurSel(formatIndex);
  return TRUE;
}

void CApplicationOptionsDlg::OnOK() {
  formatIndex = m_cbFormat.GetCurSel();
  CDialogX::OnOK();
}

CString CApplicationOptionsDlg::GetExtension() const {
  switch (formatIndex) {
    case 0:
      return "bmp";
    case 1:
      return "png";
    case 2:
      return "tif";
    case 4:
      return "gif";
    default:
      return "jpg";
  }
}
