#include "app_core/source_panel_places.h"

StripRect SourcePanelPlaces::NextVideo(int clientHeight) const {
  StripRect r;
  r.left = videos_.empty() ? kVideoLeft : videos_.back().right + kVideoGap;
  r.right = r.left + kVideoWidth;
  r.top = kTop;
  r.bottom = clientHeight - kTop;
  return r;
}

StripRect SourcePanelPlaces::NextDetails() const {
  StripRect r;
  r.left = kDetailsLeft;
  r.right = kDetailsRight;
  r.top = details_.empty() ? kTop : details_.back().bottom + kDetailsGap;
  r.bottom = r.top + kDetailsHeight;
  return r;
}

int SourcePanelPlaces::Append(int clientHeight) {
  const StripRect video = NextVideo(clientHeight);
  const StripRect details = NextDetails();
  videos_.push_back(video);
  details_.push_back(details);
  return Count() - 1;
}

void SourcePanelPlaces::Grow(int source, int by) {
  details_[source].bottom += by;
  for (int i = source + 1; i < Count(); ++i) {
    details_[i].top += by;
    details_[i].bottom += by;
  }
}

void SourcePanelPlaces::ClearSelection() {
  if (InRange(selected_)) Grow(selected_, -kGrowth);
  selected_ = -1;
}

bool SourcePanelPlaces::Remove(int source) {
  if (!InRange(source)) return false;
  ClearSelection();
  videos_.erase(videos_.begin() + source);
  details_.erase(details_.begin() + source);
  return true;
}

int SourcePanelPlaces::Press(int x, int y) {
  int hit = -1;
  for (int i = 0; i < Count() && hit < 0; ++i) {
    if (details_[i].Contains(x, y)) hit = i;
  }
  if (hit == selected_) return hit;
  ClearSelection();
  if (hit >= 0) {
    selected_ = hit;
    Grow(hit, kGrowth);
  }
  return hit;
}
