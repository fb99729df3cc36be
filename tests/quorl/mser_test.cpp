#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "CV/mser.h"
#include "cvcompat/errstatus.h"
#include "quiet_errors.h"

namespace {

struct ImageDeleter {
  void operator()(IplImage* im) const { cvReleaseImage(&im); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image Grey(int w, int h, int fill) {
  Image im(cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, 1));
  std::memset(im->imageData, fill, static_cast<size_t>(im->imageSize));
  return im;
}

unsigned char& At(IplImage* im, int x, int y) {
  return reinterpret_cast<unsigned char*>(im->imageData)[y * im->widthStep + x];
}

void Rect(IplImage* im, int x0, int y0, int w, int h, int grey) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) At(im, x, y) = static_cast<unsigned char>(grey);
}

// Silences the error layer's default printout and clears the status.
std::set<std::pair<int, int>> SpanPixels(const MserRegion& r) {
  std::set<std::pair<int, int>> px;
  for (const MserSpan& s : r.spans)
    for (int x = s.first; x <= s.last; ++x) EXPECT_TRUE(px.insert({x, s.row}).second) << "pixel listed twice";
  return px;
}

// 4-connected pixels of grey <= threshold around the seed, breadth first.
std::set<std::pair<int, int>> PlainFill(IplImage* im, int sx, int sy, int threshold) {
  std::set<std::pair<int, int>> seen;
  std::deque<std::pair<int, int>> todo{{sx, sy}};
  seen.insert({sx, sy});
  while (!todo.empty()) {
    auto [x, y] = todo.front();
    todo.pop_front();
    const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
    for (int k = 0; k < 4; ++k) {
      if (nx[k] < 0 || ny[k] < 0 || nx[k] >= im->width || ny[k] >= im->height) continue;
      if (At(im, nx[k], ny[k]) > threshold || seen.count({nx[k], ny[k]})) continue;
      seen.insert({nx[k], ny[k]});
      todo.push_back({nx[k], ny[k]});
    }
  }
  return seen;
}

bool SameRegion(const MserRegion& a, const MserRegion& b) {
  if (a.seedX != b.seedX || a.seedY != b.seedY || a.level != b.level || a.stableLevel != b.stableLevel) return false;
  if (a.comp.area != b.comp.area || a.comp.rect.x != b.comp.rect.x || a.comp.rect.width != b.comp.rect.width)
    return false;
  if (a.centroidX != b.centroidX || a.centroidY != b.centroidY || a.hasEllipse != b.hasEllipse) return false;
  if (a.hull.size() != b.hull.size() || a.spans.size() != b.spans.size()) return false;
  for (size_t i = 0; i < a.spans.size(); ++i)
    if (a.spans[i].row != b.spans[i].row || a.spans[i].first != b.spans[i].first ||
        a.spans[i].last != b.spans[i].last)
      return false;
  return std::equal(a.growth, a.growth + 256, b.growth);
}

// ---------------------------------------------------------------------------
// The reference scene: one dark 5 x 5 square on grey 200.

class MserSquare : public Quiet {
 protected:
  Image scene = [] {
    Image im = Grey(32, 32, 200);
    Rect(im.get(), 12, 10, 5, 5, 50);
    return im;
  }();
};

TEST_F(MserSquare, GivesOneRegionDescribedExactly) {
  FeatureDetectionMSER mser;
  mser.DetectMSER0(scene.get(), 0);
  ASSERT_EQ(mser.lists[2][0].size(), 1u);
  const MserRegion& r = mser.lists[2][0][0];
  EXPECT_EQ(r.comp.area, 25);
  EXPECT_EQ(r.comp.value.val[0], 50);
  EXPECT_EQ(r.comp.rect.x, 12);
  EXPECT_EQ(r.comp.rect.y, 10);
  EXPECT_EQ(r.comp.rect.width, 5);
  EXPECT_EQ(r.comp.rect.height, 5);
  EXPECT_FLOAT_EQ(r.centroidX, 14.0f);
  EXPECT_FLOAT_EQ(r.centroidY, 12.0f);
  EXPECT_FALSE(r.hasEllipse);
  EXPECT_EQ(r.level, 50);
  EXPECT_GT(r.stableLevel, 50);
  EXPECT_LT(r.stableLevel, 200);
  EXPECT_EQ(r.AreaAtLevel(r.stableLevel), 25);
  EXPECT_EQ(r.AreaAtLevel(r.level), 0);
  EXPECT_EQ(SpanPixels(r).size(), 25u);

  ASSERT_EQ(r.hull.size(), 5u);
  EXPECT_EQ(r.hull.front().x, r.hull.back().x);
  EXPECT_EQ(r.hull.front().y, r.hull.back().y);
  std::set<std::pair<int, int>> corners;
  for (size_t i = 1; i < r.hull.size(); ++i) corners.insert({r.hull[i].x, r.hull[i].y});
  EXPECT_EQ(corners, (std::set<std::pair<int, int>>{{12, 10}, {16, 10}, {12, 14}, {16, 14}}));
  EXPECT_EQ(mser.outputSize[0].width, 32);
  EXPECT_EQ(mser.outputSize[0].height, 32);
  EXPECT_TRUE(mser.lists[2][1].empty());
}

TEST_F(MserSquare, OutputIndexOneFillsTheSecondList) {
  FeatureDetectionMSER mser;
  mser.DetectMSER0(scene.get(), 1);
  EXPECT_TRUE(mser.lists[2][0].empty());
  EXPECT_EQ(mser.lists[2][1].size(), 1u);
}

TEST_F(MserSquare, ADetectionDependsOnlyOnItsOwnImageAndCopiesAreDeep) {
  // A scene with many more regions first, so that list 0 holds stale
  // records that the second detection must overwrite.
  Image busy = Grey(48, 48, 220);
  for (int i = 0; i < 6; ++i) Rect(busy.get(), 3 + 7 * i, 5 + 5 * (i % 3), 3 + i % 3, 4, 30 + 20 * i);
  for (int y = 30; y < 46; ++y)
    for (int x = 2; x < 46; ++x) At(busy.get(), x, y) = static_cast<unsigned char>((x * 37 + y * 11) % 200);

  FeatureDetectionMSER reused, fresh;
  reused.DetectMSER0(busy.get(), 0);
  const size_t held = reused.lists[0][0].size();
  reused.DetectMSER0(scene.get(), 0);
  fresh.DetectMSER0(scene.get(), 0);
  EXPECT_EQ(reused.lists[0][0].size(), held);  // records are reused, not dropped
  ASSERT_EQ(reused.lists[2][0].size(), fresh.lists[2][0].size());
  for (size_t i = 0; i < fresh.lists[2][0].size(); ++i)
    EXPECT_TRUE(SameRegion(reused.lists[2][0][i], fresh.lists[2][0][i]));

  FeatureDetectionMSER copy(fresh);
  FeatureDetectionMSER assigned;
  assigned = fresh;
  fresh.lists[2][0].clear();
  fresh.lists[0][0].clear();
  for (const FeatureDetectionMSER* c : {&copy, &assigned}) {
    ASSERT_EQ(c->lists[2][0].size(), 1u);
    EXPECT_EQ(c->lists[2][0][0].comp.area, 25);
    EXPECT_FALSE(c->lists[0][0].empty());
  }
}

// ---------------------------------------------------------------------------
// Variants of the scene.

struct Variant {
  const char* name;
  int width, height;
  void (*paint)(IplImage*);
  int regions;     // expected output count
  double area;     // of the first region, when any
  int boxX, boxY;  // of the first region
};

void TinySquare(IplImage* im) { Rect(im, 10, 10, 2, 2, 50); }
void LargeSquare(IplImage* im) { Rect(im, 5, 5, 20, 20, 50); }
void BorderSquare(IplImage* im) { Rect(im, 0, 10, 5, 5, 50); }
void Dumbbell(IplImage* im) {
  // Two squares joined only through the darkest pixel of the image, which
  // is the first region created.
  Rect(im, 5, 10, 4, 4, 60);
  Rect(im, 10, 10, 4, 4, 60);
  At(im, 9, 11) = 40;
}
void PaddedScene(IplImage* im) { Rect(im, 12, 10, 5, 5, 50); }

TEST_F(Quiet, VariantsOfTheScene) {
  const Variant variants[] = {
      {"2 x 2 square: area 4 is too small", 32, 32, TinySquare, 0, 0, 0, 0},
      {"20 x 20 square: over 300 pixels", 32, 32, LargeSquare, 0, 0, 0, 0},
      {"square touching the border: the fill takes the border column", 32, 32, BorderSquare, 1, 25, 0, 10},
      {"dumbbell through the darkest pixel: one region", 32, 32, Dumbbell, 1, 33, 5, 10},
      {"30 x 30 scene with padded rows", 30, 30, PaddedScene, 1, 25, 12, 10},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    Image im = Grey(v.width, v.height, 200);
    v.paint(im.get());
    FeatureDetectionMSER mser;
    mser.DetectMSER0(im.get(), 0);
    ASSERT_EQ(static_cast<int>(mser.lists[2][0].size()), v.regions);
    if (v.regions == 0) continue;
    const MserRegion& r = mser.lists[2][0][0];
    EXPECT_EQ(r.comp.area, v.area);
    EXPECT_EQ(r.comp.rect.x, v.boxX);
    EXPECT_EQ(r.comp.rect.y, v.boxY);
    EXPECT_EQ(SpanPixels(r), PlainFill(im.get(), r.seedX, r.seedY, r.stableLevel));
  }
}

TEST_F(Quiet, ARampedRimStaysStableAndGetsAnEllipse) {
  // An elliptic blob, semi-axes 9 x 5 around (20, 16), whose rim beyond
  // 7 x 3 darkens level by level, at most 7 new pixels a level.
  Image im = Grey(40, 32, 200);
  std::vector<std::pair<double, std::pair<int, int>>> rim;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 40; ++x) {
      const double dx = x - 20.0, dy = y - 16.0;
      const double outer = dx * dx / 81 + dy * dy / 25, inner = dx * dx / 49 + dy * dy / 9;
      if (inner <= 1) At(im.get(), x, y) = 40;
      else if (outer <= 1) rim.push_back({outer, {x, y}});
    }
  std::sort(rim.begin(), rim.end());
  for (size_t i = 0; i < rim.size(); ++i)
    At(im.get(), rim[i].second.first, rim[i].second.second) = static_cast<unsigned char>(41 + i / 6);
  ASSERT_GE(rim.size() / 6, 7u);

  FeatureDetectionMSER mser;
  mser.DetectMSER0(im.get(), 0);
  ASSERT_EQ(mser.lists[2][0].size(), 1u);
  const MserRegion& r = mser.lists[2][0][0];
  EXPECT_EQ(SpanPixels(r), PlainFill(im.get(), r.seedX, r.seedY, r.stableLevel));
  ASSERT_TRUE(r.hasEllipse);
  EXPECT_NEAR(r.ellipse.center.x, 20.0, 0.3);
  EXPECT_NEAR(r.ellipse.center.y, 16.0, 0.3);
  const float major = std::max(r.ellipse.size.width, r.ellipse.size.height);
  const float minor = std::min(r.ellipse.size.width, r.ellipse.size.height);
  EXPECT_NEAR(major, 18.0, 1.5);
  EXPECT_NEAR(minor, 10.0, 1.5);
  EXPECT_GT(r.hull.size(), 6u);
}

TEST_F(Quiet, FillWithManyPendingSpansMatchesAPlainCount) {
  // Bars on even rows, single pixels between them on odd rows: every bar
  // leaves a row of one-pixel spans pending, far more than 2 x max(W, H)
  // at once. 16 x 16 keeps the region under 300 pixels.
  Image im = Grey(16, 16, 200);
  for (int y = 1; y < 15; ++y)
    for (int x = 1; x < 15; ++x)
      if (y % 2 == 0 || x % 2 == 1) At(im.get(), x, y) = 50;
  FeatureDetectionMSER mser;
  mser.DetectMSER0(im.get(), 0);
  ASSERT_EQ(mser.lists[2][0].size(), 1u);
  const MserRegion& r = mser.lists[2][0][0];
  const auto plain = PlainFill(im.get(), r.seedX, r.seedY, r.stableLevel);
  EXPECT_EQ(r.comp.area, static_cast<double>(plain.size()));
  EXPECT_EQ(SpanPixels(r), plain);
  EXPECT_GT(r.spans.size(), 2u * 16u);

  // The same pattern reaching past 300 pixels is dropped.
  Image big = Grey(24, 24, 200);
  for (int y = 1; y < 23; ++y)
    for (int x = 1; x < 23; ++x)
      if (y % 2 == 0 || x % 2 == 1) At(big.get(), x, y) = 50;
  mser.DetectMSER0(big.get(), 0);
  EXPECT_TRUE(mser.lists[2][0].empty());
}

// A region whose flood fill leaves it through border pixels, which never
// enter its growth: its area at the stable level is 16, but the fill runs
// down the left border column into a second region and past 300 pixels,
// so it is dropped. The fill is cut off in the middle of the second
// region's rows; those rows must be free again when that region's own
// fill comes, or it would stop at them.
//
// Column 0 (grey 100) runs from row 1 to 234; A (grey 50, 4 x 4) sits at
// rows 1-4 beside it, C (grey 60, 5 x 5) at rows 230-234 beside it, D
// (grey 80, 7 x 7) one column right of C, joined to it by a column of
// grey 90 at which C merges into D (C's run: levels 61-89).
class MserFillThroughTheBorder : public Quiet {
 protected:
  static Image Scene(bool withA) {
    Image im = Grey(20, 240, 200);
    for (int y = 1; y <= 234; ++y) At(im.get(), 0, y) = 100;
    if (withA) Rect(im.get(), 1, 1, 4, 4, 50);
    Rect(im.get(), 1, 230, 5, 5, 60);
    Rect(im.get(), 6, 230, 1, 5, 90);
    Rect(im.get(), 7, 229, 7, 7, 80);
    return im;
  }
};

TEST_F(MserFillThroughTheBorder, DropsTheRegionAndLeavesTheMaskCleanForTheNext) {
  Image scene = Scene(true);
  FeatureDetectionMSER mser;
  mser.DetectMSER0(scene.get(), 0);
  // A was a candidate: stable at 199 with 16 pixels below it.
  const auto& store = mser.lists[0][0];
  const auto a =
      std::find_if(store.begin(), store.end(), [](const MserRegion& r) { return r.seedX == 1 && r.seedY == 1; });
  ASSERT_NE(a, store.end());
  EXPECT_EQ(a->stableLevel, 199);
  EXPECT_EQ(a->AreaAtLevel(a->stableLevel), 16);
  EXPECT_GT(PlainFill(scene.get(), 1, 1, 199).size(), 300u);

  // Only C is output, whole, as in the scene without A.
  ASSERT_EQ(mser.lists[2][0].size(), 1u);
  const MserRegion& c = mser.lists[2][0][0];
  EXPECT_EQ(c.seedX, 1);
  EXPECT_EQ(c.seedY, 230);
  EXPECT_EQ(c.stableLevel, 89);
  EXPECT_EQ(c.comp.area, 25);
  EXPECT_EQ(SpanPixels(c), PlainFill(scene.get(), 1, 230, 89));
  Image withoutA = Scene(false);
  FeatureDetectionMSER alone;
  alone.DetectMSER0(withoutA.get(), 0);
  ASSERT_EQ(alone.lists[2][0].size(), 1u);
  EXPECT_TRUE(SameRegion(c, alone.lists[2][0][0]));
}

TEST_F(Quiet, RefusedDetectionsChangeNothing) {
  Image scene = Grey(32, 32, 200);
  Rect(scene.get(), 12, 10, 5, 5, 50);
  FeatureDetectionMSER mser;
  mser.DetectMSER0(scene.get(), 0);
  ASSERT_EQ(mser.lists[2][0].size(), 1u);

  Image colour(cvCreateImage(cvSize(32, 32), IPL_DEPTH_8U, 3));
  Image deep(cvCreateImage(cvSize(32, 32), IPL_DEPTH_16U, 1));
  IplImage* wide = cvCreateImageHeader(cvSize(70000, 1), IPL_DEPTH_8U, 1);
  std::vector<char> row(70000 + 4, 0);
  wide->imageData = row.data();
  struct Case {
    const char* what;
    IplImage* image;
    int index;
    int status;
  } cases[] = {
      {"null image", nullptr, 0, CV_StsBadArg},
      {"three channels", colour.get(), 0, CV_StsBadArg},
      {"16-bit", deep.get(), 0, CV_StsBadArg},
      {"output index 2", scene.get(), 2, CV_StsBadArg},
      {"output index -1", scene.get(), -1, CV_StsBadArg},
      {"side over 65535", wide, 0, CV_StsBadSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cvcompat::ClearErrStatus();
    mser.DetectMSER0(c.image, c.index);
    EXPECT_EQ(cvcompat::GetErrStatus(), c.status);
    EXPECT_EQ(mser.lists[2][0].size(), 1u);
    EXPECT_EQ(mser.outputSize[0].width, 32);
  }
  wide->imageData = nullptr;
  cvReleaseImageHeader(&wide);
}

TEST_F(Quiet, UnionFindHalvesPathsAndMergesRoots) {
  FeatureDetectionMSER mser;
  auto& list = mser.lists[0][0];
  list.resize(5);
  for (int i = 0; i < 5; ++i) list[i].id = list[i].parent = i;
  // A chain 4 -> 3 -> 2 -> 1 -> 0.
  for (int i = 1; i < 5; ++i) list[i].parent = i - 1;
  EXPECT_TRUE(mser.is_root(0, 0));
  EXPECT_FALSE(mser.is_root(0, 4));
  EXPECT_EQ(mser.get_root(0, 4), 0);
  EXPECT_EQ(list[4].parent, 2);  // halved: 4 now points at its old grandparent
  EXPECT_EQ(list[2].parent, 0);
  EXPECT_TRUE(mser.is_same(0, 4, 1));
  list.push_back(MserRegion{});
  list[5].id = list[5].parent = 5;
  mser.merge(0, 5, 3);  // the root of 3 (record 0) goes under 5
  EXPECT_EQ(list[0].parent, 5);
  EXPECT_EQ(mser.get_root(0, 4), 5);
  EXPECT_EQ(mser.get_root(0, 99), -1);
  EXPECT_FALSE(mser.is_root(7, 0));
}

// ---------------------------------------------------------------------------
// Drawing

TEST_F(MserSquare, DrawingMarksSpansAndBoxAndRefusesOtherImages) {
  Image big = Grey(40, 40, 200);
  Rect(big.get(), 10, 12, 10, 10, 50);
  FeatureDetectionMSER mser;
  mser.DetectMSER0(big.get(), 0);
  ASSERT_EQ(mser.lists[2][0].size(), 1u);

  Image canvas(cvCreateImage(cvSize(40, 40), IPL_DEPTH_8U, 3));
  std::memset(canvas->imageData, 0, static_cast<size_t>(canvas->imageSize));
  mser.DrawDetectedMSER(canvas.get());
  auto px = [&](int x, int y) {
    const unsigned char* p = reinterpret_cast<unsigned char*>(canvas->imageData) + y * canvas->widthStep + 3 * x;
    return cv::Vec3b(p[0], p[1], p[2]);
  };
  EXPECT_EQ(px(14, 16), cv::Vec3b(0, 255, 0));  // inside the spans, off hull and circle
  EXPECT_EQ(px(18, 20), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(px(15, 22), cv::Vec3b(255, 0, 0));  // bottom edge at y + height
  EXPECT_EQ(px(20, 14), cv::Vec3b(255, 0, 0));  // right edge at x + width
  EXPECT_EQ(px(30, 30), cv::Vec3b(0, 0, 0));

  // Refusals: wrong channel count, wrong size, null.
  Image grey = Grey(40, 40, 7);
  Image small(cvCreateImage(cvSize(32, 40), IPL_DEPTH_8U, 3));
  std::memset(small->imageData, 7, static_cast<size_t>(small->imageSize));
  const std::vector<char> greyBefore(grey->imageData, grey->imageData + grey->imageSize);
  const std::vector<char> smallBefore(small->imageData, small->imageData + small->imageSize);
  mser.DrawDetectedMSER(grey.get());
  mser.DrawDetectedMSER(small.get());
  mser.DrawDetectedMSER(nullptr);
  EXPECT_EQ(std::vector<char>(grey->imageData, grey->imageData + grey->imageSize), greyBefore);
  EXPECT_EQ(std::vector<char>(small->imageData, small->imageData + small->imageSize), smallBefore);
  EXPECT_LT(cvcompat::GetErrStatus(), 0);
}

}  // namespace
