// The data view's geometry: click sequences on the panel strip leave at most
// one panel grown by 75; inserts and removals leave the panels 35 apart;
// columns follow their entry; control ids never repeat across kinds.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app_core/panel_strip_layout.h"

namespace {

std::vector<StripRect> Panels(const PanelStripLayout& layout) {
  std::vector<StripRect> out;
  for (int i = 0; i < layout.Count(); ++i) out.push_back(layout.Panel(i));
  return out;
}

StripRect Rect(int top, int height) { return {10, top, 200, top + height}; }

TEST(PanelStripLayout, ClickSequencesGrowAtMostOnePanel) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> presses;
    int selected;
    std::vector<StripRect> panels;
  };
  const std::vector<StripRect> plain = {Rect(10, 30), Rect(45, 30), Rect(80, 30)};
  const Case cases[] = {
      {"none", {}, -1, plain},
      {"first", {{20, 15}}, 0, {Rect(10, 105), Rect(120, 30), Rect(155, 30)}},
      {"second", {{20, 50}}, 1, {Rect(10, 30), Rect(45, 105), Rect(155, 30)}},
      {"first then third (moved down)", {{20, 15}, {20, 160}}, 2, {Rect(10, 30), Rect(45, 30), Rect(80, 105)}},
      {"selected again", {{20, 50}, {20, 140}}, 1, {Rect(10, 30), Rect(45, 105), Rect(155, 30)}},
      {"gap between panels clears", {{20, 50}, {20, 42}}, -1, plain},
      {"below every panel clears", {{20, 15}, {20, 400}}, -1, plain},
      {"right edge is outside", {{200, 15}}, -1, plain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PanelStripLayout layout;
    for (int i = 0; i < 3; ++i) layout.Add();
    for (auto [x, y] : c.presses) layout.Press(x, y);
    EXPECT_EQ(layout.Selected(), c.selected);
    EXPECT_EQ(Panels(layout), c.panels);
  }
}

TEST(PanelStripLayout, InsertAndRemoveShrinkTheSelectionAndKeepPanelsApart) {
  PanelStripLayout layout;
  for (int i = 0; i < 3; ++i) layout.Add();
  layout.Press(20, 15);
  ASSERT_TRUE(layout.Insert(1));
  EXPECT_EQ(layout.Selected(), -1);
  EXPECT_EQ(Panels(layout), (std::vector<StripRect>{Rect(10, 30), Rect(45, 30), Rect(80, 30), Rect(115, 30)}));
  layout.Press(20, 120);
  ASSERT_TRUE(layout.Remove(0));
  EXPECT_EQ(layout.Selected(), -1);
  EXPECT_EQ(Panels(layout), (std::vector<StripRect>{Rect(10, 30), Rect(45, 30), Rect(80, 30)}));
  EXPECT_TRUE(layout.Insert(3));
  EXPECT_FALSE(layout.Insert(5));
  EXPECT_FALSE(layout.Remove(4));
  EXPECT_FALSE(layout.Remove(-1));
  EXPECT_EQ(layout.Count(), 4);
}

TEST(PanelStripLayout, ColumnsFollowTheirEntry) {
  EXPECT_EQ(PanelStripLayout::Column(0, 600), (StripRect{220, 10, 520, 590}));
  EXPECT_EQ(PanelStripLayout::Column(3, 600), (StripRect{1150, 10, 1450, 590}));
}

TEST(ColumnControlIds, NeverRepeatAcrossKinds) {
  ColumnControlIds ids;
  EXPECT_EQ(ids.NextImageListId(), 100123);
  EXPECT_EQ(ids.NextPanelId(), 100190);
  std::set<int> seen = {100123, 100190};
  for (int column = 1; column < 200; ++column) {
    EXPECT_TRUE(seen.insert(ids.NextImageListId()).second) << "column " << column;
    EXPECT_TRUE(seen.insert(ids.NextPanelId()).second) << "column " << column;
  }
}

}  // namespace
