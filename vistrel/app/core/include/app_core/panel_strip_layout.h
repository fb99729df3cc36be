#pragma once
// Geometry of the data view without any window: the panel strip on the left
// (one 30-pixel panel per entry, 5 apart, the selected one grown by 75 and
// the ones after it pushed down), the image columns on the right, and the
// control ids handed to both.
#include <set>

struct StripRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const StripRect&) const = default;
};

class PanelStripLayout {
 public:
  static constexpr int kLeft = 10, kRight = 200, kTop = 10, kHeight = 30, kGap = 5, kGrowth = 75;
  // Image columns start right of the strip (separator at 215).
  static constexpr int kColumnsLeft = 220, kColumnWidth = 300, kColumnGap = 10;

  int Count() const { return count_; }
  // -1: none.
  int Selected() const { return selected_; }
  StripRect Panel(int index) const;
  // The column of an entry: laid out from its entry index alone.
  static StripRect Column(int entry, int clientHeight);

  void Add() { ++count_; }
  // Insert or remove the panel at index (appending at index == Count()).
  // A grown selected panel shrinks back and the selection clears, so the
  // panels after the change sit 35 apart again. False out of range.
  bool Insert(int index);
  bool Remove(int index);
  void ClearSelection() { selected_ = -1; }

  // A press on the strip: another panel becomes selected (the old one
  // shrinks), no panel clears the selection, the selected one changes
  // nothing. Returns the panel hit or -1.
  int Press(int x, int y);

 private:
  int count_ = 0;
  int selected_ = -1;
};

// One counter per kind of control, never reused, never handing out an id
// the other kind already holds (the two ranges start 67 apart and would meet
// at the 68th column).
class ColumnControlIds {
 public:
  static constexpr int kFirstImageListId = 100123, kFirstPanelId = 100190;
  int NextImageListId() { return Next(nextImageList_); }
  int NextPanelId() { return Next(nextPanel_); }

 private:
  int Next(int& counter);
  int nextImageList_ = kFirstImageListId;
  int nextPanel_ = kFirstPanelId;
  std::set<int> used_;
};
