#pragma once
// DataViewHost: a top-level window that stands in for the main dialog
// around a data view. The view and its panels are statics that pass presses
// on to their parent; the host hands them back to the view, moved into the
// view's own coordinates, as the main dialog does. Used by the data view's
// tests and by the dialog preview tool (compiled into each of them).
#include "static_data_view.h"
#include "win/window.h"

class DataViewHost : public CWnd {
 public:
  CStaticDataView* view = nullptr;
  int presses = 0;  // single presses that reached the host

 protected:
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  DECLARE_MESSAGE_MAP()

 private:
  CPoint ToView(CPoint point) const;
};
