#pragma once
// Where the sources view puts its panels, without any window: per source a
// video panel (300 wide, 10 right of the last one, the first at x 220) and a
// details panel on the left strip (5 below the last one, the first at y 10).
// Places come from the panels that exist, never from a count, so after a
// removal a new source neither covers a live panel nor takes its place; the
// remaining panels keep theirs.
#include <vector>

#include "app_core/panel_strip_layout.h"

class SourcePanelPlaces {
 public:
  static constexpr int kVideoLeft = 220, kVideoWidth = 300, kVideoGap = 10, kTop = 10;
  static constexpr int kDetailsLeft = 10, kDetailsRight = 200, kDetailsHeight = 30, kDetailsGap = 5;
  static constexpr int kGrowth = 75;

  int Count() const { return static_cast<int>(videos_.size()); }
  StripRect Video(int source) const { return InRange(source) ? videos_[source] : StripRect(); }
  StripRect Details(int source) const { return InRange(source) ? details_[source] : StripRect(); }
  int Selected() const { return selected_; }

  // The places the next source would take (a selected panel stays grown).
  StripRect NextVideo(int clientHeight) const;
  StripRect NextDetails() const;
  // Appends a source at the next places; returns its position.
  int Append(int clientHeight);
  // Collapses and clears the selection, then drops the source; the others
  // keep their places. False out of range.
  bool Remove(int source);
  // A press on the strip: selects the details panel hit (the old one
  // collapses, later ones move back up 75; the new one grows, later ones
  // move down 75), clears the selection on no panel, keeps it on the
  // selected one. Returns the source hit or -1.
  int Press(int x, int y);
  void ClearSelection();

 private:
  bool InRange(int source) const { return source >= 0 && source < Count(); }
  void Grow(int source, int by);

  std::vector<StripRect> videos_;
  std::vector<StripRect> details_;
  int selected_ = -1;
};
