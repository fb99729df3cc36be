#pragma once
// The one way the title bar, the dialogs and the toolbar make a skinned
// button; they differ only in the parent, the style and the show command.
#include "quorlmfc/hover_button_ex.h"

namespace QuorlMFC {

struct ButtonPlacement {
  CWnd* parent;
  DWORD style;      // BS_OWNERDRAW, with BS_NOTIFY on the title bar
  int showCommand;  // SW_SHOW or SW_SHOWNORMAL
};

// Creates the button over rect, gives it region (copied; null keeps the whole
// rectangle, the strip still drawn with alpha), the horizontal strip at
// imagePath and the tooltip. Mode 1 draws the strip over
// colour; the mode is set before the button is shown, since the background
// is captured once, at the first draw.
void MakeSkinnedButton(CHoverButtonEx* button, const ButtonPlacement& where, const CRect& rect, HRGN region,
                       const char* imagePath, const char* tooltip, UINT id, int backgroundMode, COLORREF colour);

}  // namespace QuorlMFC
