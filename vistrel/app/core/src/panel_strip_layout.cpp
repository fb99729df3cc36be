#include "app_core/panel_strip_layout.h"

StripRect PanelStripLayout::Panel(int index) const {
  StripRect r;
  if (index < 0 || index >= count_) return r;
  r.left = kLeft;
  r.right = kRight;
  r.top = kTop + index * (kHeight + kGap);
  if (selected_ >= 0 && index > selected_) r.top += kGrowth;
  r.bottom = r.top + kHeight + (index == selected_ ? kGrowth : 0);
  return r;
}

StripRect PanelStripLayout::Column(int entry, int clientHeight) {
  StripRect r;
  r.left = kColumnsLeft + entry * (kColumnWidth + kColumnGap);
  r.right = r.left + kColumnWidth;
  r.top = kTop;
  r.bottom = clientHeight - kTop;
  return r;
}

bool PanelStripLayout::Insert(int index) {
  if (index < 0 || index > count_) return false;
  selected_ = -1;
  ++count_;
  return true;
}

bool PanelStripLayout::Remove(int index) {
  if (index < 0 || index >= count_) return false;
  selected_ = -1;
  --count_;
  return true;
}

int PanelStripLayout::Press(int x, int y) {
  int hit = -1;
  for (int i = 0; i < count_ && hit < 0; ++i) {
    if (Panel(i).Contains(x, y)) hit = i;
  }
  if (hit != selected_) selected_ = hit;
  return hit;
}

int ColumnControlIds::Next(int& counter) {
  while (used_.count(counter)) ++counter;
  used_.insert(counter);
  return counter++;
}
