#include "data_view_host.h"

BEGIN_MESSAGE_MAP(DataViewHost, CWnd)
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONDBLCLK()
END_MESSAGE_MAP()

void DataViewHost::OnLButtonDown(UINT flags, CPoint point) {
  ++presses;
  if (view) view->OnLButtonDown(flags, ToView(point));
}

void DataViewHost::OnLButtonDblClk(UINT flags, CPoint point) {
  if (view) view->OnLButtonDblClk(flags, ToView(point));
}

CPoint DataViewHost::ToView(CPoint point) const {
  CRect rc;
  view->GetWindowRect(&rc);
  ScreenToClient(&rc);
  return CPoint(point.x - rc.left, point.y - rc.top);
}
