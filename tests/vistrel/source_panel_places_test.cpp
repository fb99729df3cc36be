// The sources view's panel places: after add, add, remove, add no two
// panels overlap and the remaining ones keep their places; the selection
// grows one details panel and moves the later ones.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app_core/source_panel_places.h"

namespace {

bool Overlap(const StripRect& a, const StripRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

void ExpectNoOverlap(const SourcePanelPlaces& places) {
  for (int i = 0; i < places.Count(); ++i) {
    for (int j = i + 1; j < places.Count(); ++j) {
      EXPECT_FALSE(Overlap(places.Video(i), places.Video(j))) << i << " " << j;
      EXPECT_FALSE(Overlap(places.Details(i), places.Details(j))) << i << " " << j;
    }
  }
}

TEST(SourcePanelPlaces, AddAddRemoveAddKeepsPlacesAndOverlapsNothing) {
  SourcePanelPlaces places;
  places.Append(600);
  places.Append(600);
  EXPECT_EQ(places.Video(0), (StripRect{220, 10, 520, 590}));
  EXPECT_EQ(places.Video(1), (StripRect{530, 10, 830, 590}));
  EXPECT_EQ(places.Details(1), (StripRect{10, 45, 200, 75}));

  ASSERT_TRUE(places.Remove(0));
  EXPECT_EQ(places.Video(0), (StripRect{530, 10, 830, 590})) << "the remaining source keeps its place";
  EXPECT_EQ(places.Details(0), (StripRect{10, 45, 200, 75}));
  places.Append(600);
  EXPECT_EQ(places.Video(1), (StripRect{840, 10, 1140, 590}));
  EXPECT_EQ(places.Details(1), (StripRect{10, 80, 200, 110}));
  ExpectNoOverlap(places);
  EXPECT_FALSE(places.Remove(2));
  EXPECT_FALSE(places.Remove(-1));
}

TEST(SourcePanelPlaces, SelectionGrowsOnePanelAndMovesTheLaterOnes) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> presses;
    int selected;
    std::vector<int> tops, bottoms;
  };
  const Case cases[] = {
      {"none", {}, -1, {10, 45, 80}, {40, 75, 110}},
      {"second", {{20, 50}}, 1, {10, 45, 155}, {40, 150, 185}},
      {"second then first", {{20, 50}, {20, 20}}, 0, {10, 120, 155}, {115, 150, 185}},
      {"first then the moved third", {{20, 20}, {20, 160}}, 2, {10, 45, 80}, {40, 75, 185}},
      {"selected again keeps it", {{20, 50}, {20, 140}}, 1, {10, 45, 155}, {40, 150, 185}},
      {"nothing clears", {{20, 50}, {20, 300}}, -1, {10, 45, 80}, {40, 75, 110}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourcePanelPlaces places;
    for (int i = 0; i < 3; ++i) places.Append(600);
    for (auto [x, y] : c.presses) places.Press(x, y);
    EXPECT_EQ(places.Selected(), c.selected);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(places.Details(i).top, c.tops[i]) << i;
      EXPECT_EQ(places.Details(i).bottom, c.bottoms[i]) << i;
    }
  }
}

TEST(SourcePanelPlaces, RemovingCollapsesTheSelectionFirst) {
  SourcePanelPlaces places;
  for (int i = 0; i < 3; ++i) places.Append(600);
  places.Press(20, 20);  // first grows, the others move down
  ASSERT_TRUE(places.Remove(1));
  EXPECT_EQ(places.Selected(), -1);
  EXPECT_EQ(places.Details(0), (StripRect{10, 10, 200, 40}));
  EXPECT_EQ(places.Details(1), (StripRect{10, 80, 200, 110}));
  places.Append(600);
  EXPECT_EQ(places.Details(2), (StripRect{10, 115, 200, 145}));
  ExpectNoOverlap(places);
}

}  // namespace
