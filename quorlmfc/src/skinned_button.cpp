#include "skinned_button.h"

namespace QuorlMFC {

void MakeSkinnedButton(CHoverButtonEx* button, const ButtonPlacement& where, const CRect& rect, HRGN region,
                       const char* imagePath, const char* tooltip, UINT id, int backgroundMode, COLORREF colour) {
  if (!button || !where.parent || !button->Create("Dummy", where.style | WS_CHILD, rect, where.parent, id)) return;
  button->SetHorizontal(true);
  button->MoveWindow(&rect, TRUE);
  button->SetRegion(region);
  button->LoadImageStrip(imagePath);
  button->SetToolTipText(tooltip ? tooltip : "", TRUE);
  if (backgroundMode == 1) button->SetBackgroundMode(1, colour);
  button->ShowWindow(where.showCommand);
}

}  // namespace QuorlMFC
