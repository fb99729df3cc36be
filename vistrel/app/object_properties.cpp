#include "object_properties.h"

#include "win/dialog.h"

namespace {

// Edit controls of template 152.
constexpr UINT kSquaresX = 1035;
constexpr UINT kSizeX = 1036;
constexpr UINT kSquaresY = 1037;
constexpr UINT kSizeY = 1038;
constexpr UINT kWindowX = 1039;
constexpr UINT kWindowY = 1040;
constexpr UINT kStatic = 0xFFFF;

// 214 x 99 dialog units. The title bar covers the top 29 pixels (18 units),
// so the fields start below it: three groups side by side, each a heading
// over two rows of a label left of its edit; OK and Cancel at the bottom
// right.
win::DialogTemplate ObjectPropertiesTemplate() {
  win::DialogTemplate t;
  t.id = CObjectProperties::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 214;
  t.cy = 99;
  t.caption = "Calibration Object Properties";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  // Single-line labels: a heading longer than its room is clipped, never
  // wrapped under the fields.
  constexpr DWORD label = SS_LEFTNOWORDWRAP | WS_VISIBLE;
  constexpr DWORD edit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE;
  t.items = {
      {"STATIC", kStatic, "Number of Squares", 7, 22, 76, 8, label},
      {"STATIC", kStatic, "X", 7, 38, 10, 8, label},
      {"EDIT", kSquaresX, "", 19, 36, 40, 12, edit},
      {"STATIC", kStatic, "Y", 7, 54, 10, 8, label},
      {"EDIT", kSquaresY, "", 19, 52, 40, 12, edit},
      {"STATIC", kStatic, "Square Size", 86, 22, 56, 8, label},
      {"STATIC", kStatic, "dX", 86, 38, 12, 8, label},
      {"EDIT", kSizeX, "", 99, 36, 40, 12, edit},
      {"STATIC", kStatic, "dY", 86, 54, 12, 8, label},
      {"EDIT", kSizeY, "", 99, 52, 40, 12, edit},
      {"STATIC", kStatic, "Window Size", 150, 22, 57, 8, label},
      {"STATIC", kStatic, "Wx", 150, 38, 14, 8, label},
      {"EDIT", kWindowX, "", 166, 36, 40, 12, edit},
      {"STATIC", kStatic, "Wy", 150, 54, 14, 8, label},
      {"EDIT", kWindowY, "", 166, 52, 40, 12, edit},
      {"BUTTON", IDOK, "OK", 103, 78, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 157, 78, 50, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

// The template comes with the class: whoever links the dialog has it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(ObjectPropertiesTemplate());
  return true;
}();

}  // namespace

CObjectProperties::CObjectProperties(CWnd* parent)
    : CDialogX(IDD, parent, "Calibration Object Properties", 1, nullptr) {}

void CObjectProperties::SetValues(double squareSizeX, double squareSizeY, int squaresX, int squaresY, int windowX,
                                  int windowY) {
  m_nSquaresX = squaresX - 1;
  m_nSquaresY = squaresY - 1;
  m_dSquareSizeX = squareSizeX;
  m_dSquareSizeY = squareSizeY;
  m_nWindowX = windowX;
  m_nWindowY = windowY;
}

CalibrationObjectSettings CObjectProperties::GetValues() const {
  CalibrationObjectSettings s;
  s.squareSizeX = m_dSquareSizeX;
  s.squareSizeY = m_dSquareSizeY;
  s.squaresX = m_nSquaresX + 1;
  s.squaresY = m_nSquaresY + 1;
  s.windowX = m_nWindowX;
  s.windowY = m_nWindowY;
  return s;
}

void CObjectProperties::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Text(dx, kSquaresX, m_nSquaresX);
  DDV_MinMaxInt(dx, m_nSquaresX, 2, 100);
  DDX_Text(dx, kSquaresY, m_nSquaresY);
  DDV_MinMaxInt(dx, m_nSquaresY, 2, 100);
  DDX_Text(dx, kSizeX, m_dSquareSizeX);
  DDV_MinMaxDouble(dx, m_dSquareSizeX, 1.0, 10000.0);
  DDX_Text(dx, kSizeY, m_dSquareSizeY);
  DDV_MinMaxDouble(dx, m_dSquareSizeY, 1.0, 10000.0);
  DDX_Text(dx, kWindowX, m_nWindowX);
  DDV_MinMaxInt(dx, m_nWindowX, 1, 100);
  // The y window admits up to 1000 while x stops at 100: stored boards
  // allow it, and the object editor bounds the window where it uses it.
  DDX_Text(dx, kWindowY, m_nWindowY);
  DDV_MinMaxInt(dx, m_nWindowY, 1, 1000);
}
