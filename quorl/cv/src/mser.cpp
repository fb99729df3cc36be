#include "CV/mser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "cvcompat/errstatus.h"

namespace {

constexpr int kMaxArea = 300;     // larger regions are never output
constexpr int kMinArea = 5;       // area at the stable level must exceed 4
constexpr int kMaxGain = 7;       // pixels a level may gain and still count as stable
constexpr int kMinRun = 7;        // levels of stability needed (a run longer than 6)
constexpr int kMinLevelSpan = 5;  // a region living 4 levels or fewer is never stable

const unsigned char* Row(const IplImage* im, int y) {
  return reinterpret_cast<const unsigned char*>(im->imageData) + static_cast<ptrdiff_t>(y) * im->widthStep;
}

// Scan-line 4-connected fill of the pixels no brighter than `threshold`
// around the seed. Marks `mask` (the image's size, 0 = free) and lists the
// spans; gives up once more than kMaxArea pixels are filled, since such a
// region is dropped anyway. Pending spans sit on a growable stack.
struct Fill {
  std::vector<MserSpan> spans;
  long area = 0;
  long greySum = 0;
  bool tooLarge = false;
};

Fill FloodFill(const IplImage* im, std::vector<uint8_t>& mask, int seedX, int seedY, int threshold) {
  const int w = im->width, h = im->height;
  Fill fill;
  auto free = [&](int x, int y, const unsigned char* row) {
    return mask[static_cast<size_t>(y) * w + x] == 0 && row[x] <= threshold;
  };
  std::vector<MserSpan> pending;
  // Marks and queues the maximal free run through (x, y).
  auto take = [&](int x, int y, const unsigned char* row) {
    int first = x, last = x;
    while (last + 1 < w && free(last + 1, y, row)) ++last;
    while (first > 0 && free(first - 1, y, row)) --first;
    std::fill_n(mask.begin() + static_cast<ptrdiff_t>(y) * w + first, last - first + 1, uint8_t{1});
    pending.push_back({static_cast<uint16_t>(y), static_cast<uint16_t>(first), static_cast<uint16_t>(last)});
    fill.area += last - first + 1;
  };
  const unsigned char* seedRow = Row(im, seedY);
  if (!free(seedX, seedY, seedRow)) return fill;
  take(seedX, seedY, seedRow);
  while (!pending.empty()) {
    if (fill.area > kMaxArea) {
      fill.tooLarge = true;
      return fill;
    }
    const MserSpan s = pending.back();
    pending.pop_back();
    fill.spans.push_back(s);
    for (int dy = -1; dy <= 1; dy += 2) {
      const int y = s.row + dy;
      if (y < 0 || y >= h) continue;
      const unsigned char* row = Row(im, y);
      for (int x = s.first; x <= s.last; ++x)
        if (free(x, y, row)) take(x, y, row);
    }
  }
  for (const MserSpan& s : fill.spans) {
    const unsigned char* row = Row(im, s.row);
    for (int x = s.first; x <= s.last; ++x) fill.greySum += row[x];
  }
  return fill;
}

void ClearMask(std::vector<uint8_t>& mask, int w, const std::vector<MserSpan>& spans) {
  for (const MserSpan& s : spans)
    std::fill_n(mask.begin() + static_cast<ptrdiff_t>(s.row) * w + s.first, s.last - s.first + 1, uint8_t{0});
}

// Spans, box, mean, centroid, hull and ellipse of a selected region.
void Describe(MserRegion& r, const Fill& fill) {
  r.spans = fill.spans;
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  int64_t sumX = 0, sumY = 0;
  std::vector<cv::Point> ends;
  ends.reserve(r.spans.size() * 2);
  for (const MserSpan& s : r.spans) {
    x0 = std::min<int>(x0, s.first);
    x1 = std::max<int>(x1, s.last);
    y0 = std::min<int>(y0, s.row);
    y1 = std::max<int>(y1, s.row);
    const int n = s.last - s.first + 1;
    sumX += static_cast<int64_t>(s.first + s.last) * n / 2;
    sumY += static_cast<int64_t>(s.row) * n;
    ends.emplace_back(s.first, s.row);
    ends.emplace_back(s.last, s.row);
  }
  r.comp = CvConnectedComp{};
  r.comp.area = static_cast<double>(fill.area);
  r.comp.value = cvScalar(fill.area ? static_cast<double>(fill.greySum) / fill.area : 0.0);
  r.comp.rect = fill.area ? cvRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1) : cvRect(0, 0, 0, 0);
  r.centroidX = fill.area ? static_cast<float>(sumX) / static_cast<float>(fill.area) : 0.f;
  r.centroidY = fill.area ? static_cast<float>(sumY) / static_cast<float>(fill.area) : 0.f;

  r.hull.clear();
  r.hasEllipse = false;
  r.ellipse = CvBox2D{};
  if (ends.empty()) return;
  // Neither call throws on these inputs; Guarded keeps that promise should
  // OpenCV ever disagree.
  cvcompat::Guarded([&] {
    std::vector<int> index;
    cv::convexHull(ends, index, /*clockwise=*/true, /*returnPoints=*/false);
    if (index.empty()) return;
    r.hull.reserve(index.size() + 1);
    r.hull.push_back(cvPoint(ends[index.back()].x, ends[index.back()].y));
    for (int i : index) r.hull.push_back(cvPoint(ends[i].x, ends[i].y));
    if (index.size() > 5) {
      std::vector<cv::Point2f> pts;
      for (int i : index) pts.emplace_back(static_cast<float>(ends[i].x), static_cast<float>(ends[i].y));
      const cv::RotatedRect box = cv::fitEllipse(pts);
      r.ellipse.center = cvPoint2D32f(box.center.x, box.center.y);
      r.ellipse.size = cvSize2D32f(box.size.width, box.size.height);
      r.ellipse.angle = box.angle;
      r.hasEllipse = true;
    }
  });
}

}  // namespace

int MserRegion::AreaAtLevel(int n) const {
  int sum = 0;
  for (int l = std::max(level, 0); l < std::min(n, 256); ++l) sum += growth[l];
  return sum;
}

std::vector<MserRegion>* FeatureDetectionMSER::List(int r) {
  if (r < 0 || r >= 6) return nullptr;
  return &lists[r / 2][r % 2];
}

bool FeatureDetectionMSER::is_root(int r, int i) {
  std::vector<MserRegion>* l = List(r);
  if (!l || i < 0 || i >= static_cast<int>(l->size())) return false;
  return (*l)[i].parent == (*l)[i].id;
}

int FeatureDetectionMSER::get_root(int r, int i) {
  std::vector<MserRegion>* l = List(r);
  const int n = l ? static_cast<int>(l->size()) : 0;
  if (i < 0 || i >= n) return -1;
  std::vector<MserRegion>& v = *l;
  while (v[i].parent != v[i].id) {
    // Records of list 0 have id == index; anything else is foreign data,
    // answered with -1 rather than read outside the list.
    const int p = v[i].parent;
    if (p < 0 || p >= n) return -1;
    const int grandparent = v[p].parent;
    if (grandparent < 0 || grandparent >= n) return -1;
    v[i].parent = grandparent;
    i = grandparent;
  }
  return i;
}

bool FeatureDetectionMSER::is_same(int r, int i, int j) {
  const int a = get_root(r, i);
  return a >= 0 && a == get_root(r, j);
}

void FeatureDetectionMSER::merge(int r, int i, int j) {
  const int a = get_root(r, i), b = get_root(r, j);
  if (a < 0 || b < 0 || a == b) return;
  (*List(r))[b].parent = a;
}

void FeatureDetectionMSER::DetectMSER0(IplImage* image, int outputIndex) {
  const cvcompat::RoutineErrors errors("FeatureDetectionMSER::DetectMSER0", __FILE__);
  if (!image || !image->imageData) {
    errors.Fail(CV_StsBadArg, "null image", __LINE__);
    return;
  }
  if (image->depth != IPL_DEPTH_8U || image->nChannels != 1) {
    errors.Fail(CV_StsBadArg, "the image must be 8-bit single-channel", __LINE__);
    return;
  }
  if (outputIndex != 0 && outputIndex != 1) {
    errors.Fail(CV_StsBadArg, "the output index must be 0 or 1", __LINE__);
    return;
  }
  const int w = image->width, h = image->height;
  if (w < 0 || h < 0 || w > 65535 || h > 65535 || image->widthStep < w) {
    errors.Fail(CV_StsBadSize, "image sides must lie in 0 .. 65535", __LINE__);
    return;
  }

  // Interior pixels sorted by grey, stably (a counting sort): border pixels
  // never enter a region's growth, grey 255 is never processed.
  struct Pixel {
    uint16_t x, y;
  };
  std::vector<size_t> start(257, 0);
  for (int y = 1; y + 1 < h; ++y) {
    const unsigned char* row = Row(image, y);
    for (int x = 1; x + 1 < w; ++x) ++start[row[x] + 1];
  }
  for (int g = 0; g < 256; ++g) start[g + 1] += start[g];
  std::vector<Pixel> sorted(start[256]);
  {
    std::vector<size_t> next(start.begin(), start.end() - 1);
    for (int y = 1; y + 1 < h; ++y) {
      const unsigned char* row = Row(image, y);
      for (int x = 1; x + 1 < w; ++x)
        sorted[next[row[x]]++] = {static_cast<uint16_t>(x), static_cast<uint16_t>(y)};
    }
  }

  std::vector<int> label(static_cast<size_t>(w) * static_cast<size_t>(h), -1);
  std::vector<MserRegion>& store = lists[0][0];
  int created = 0;
  for (int level = 0; level < 255; ++level) {
    for (size_t k = start[level]; k < start[level + 1]; ++k) {
      const int x = sorted[k].x, y = sorted[k].y;
      const size_t at = static_cast<size_t>(y) * w + x;
      const size_t around[4] = {at - 1, at + 1, at - w, at + w};  // left, right, up, down
      int roots[4];
      int count = 0;
      for (size_t n : around) {
        if (label[n] < 0) continue;
        const int root = get_root(0, label[n]);
        if (std::find(roots, roots + count, root) == roots + count) roots[count++] = root;
      }
      if (count == 0) {
        const int id = created++;
        // Records are reset in place: a fresh one is over a kilobyte, and a
        // busy image creates tens of thousands.
        if (id >= static_cast<int>(store.size())) store.emplace_back();
        MserRegion& fresh = store[id];
        std::fill(std::begin(fresh.growth), std::end(fresh.growth), 0);
        fresh.seedX = x;
        fresh.seedY = y;
        fresh.level = level;
        fresh.reserved = 0;
        fresh.id = fresh.parent = id;
        fresh.area = 1;
        fresh.mergeLevel = fresh.stableLevel = -1;
        fresh.comp = CvConnectedComp{};
        fresh.spans.clear();
        fresh.centroidX = fresh.centroidY = 0;
        fresh.hasEllipse = false;
        fresh.ellipse = CvBox2D{};
        fresh.hull.clear();
        fresh.growth[level] = 1;
        label[at] = id;
        continue;
      }
      int winner = roots[0];
      for (int i = 1; i < count; ++i)
        if (store[roots[i]].area >= store[winner].area) winner = roots[i];
      MserRegion& win = store[winner];
      for (int i = 0; i < count; ++i) {
        if (roots[i] == winner) continue;
        MserRegion& loser = store[roots[i]];
        merge(0, winner, roots[i]);
        loser.mergeLevel = level;
        win.area += loser.area;
        win.growth[level] += loser.area;
      }
      ++win.area;
      ++win.growth[level];
      label[at] = winner;
    }
  }

  std::vector<MserRegion>& out = lists[2][outputIndex];
  out.clear();
  outputSize[outputIndex] = cvSize(w, h);
  std::vector<uint8_t> mask(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  for (int id = 0; id < created; ++id) {
    MserRegion& r = store[id];
    const int first = r.level;
    const int end = r.mergeLevel < 0 ? 255 : r.mergeLevel;
    if (end - first < kMinLevelSpan) continue;
    int run = 0, best = 0, stable = first;
    for (int l = first; l < end; ++l) {
      if (r.growth[l] > kMaxGain) {
        run = 0;
        continue;
      }
      if (++run > best) {
        best = run;
        stable = l;
      }
    }
    if (best < kMinRun || stable <= first) continue;
    const int areaAtStable = r.AreaAtLevel(stable);
    if (areaAtStable < kMinArea || areaAtStable > kMaxArea) continue;

    r.stableLevel = stable;
    // The seed's own grey is the region's level, so the fill takes every
    // pixel up to the stable level.
    const Fill fill = FloodFill(image, mask, r.seedX, r.seedY, Row(image, r.seedY)[r.seedX] + (stable - first));
    ClearMask(mask, w, fill.spans);
    if (fill.tooLarge) {
      // The spans of a cut-off fill do not hold every marked pixel.
      std::fill(mask.begin(), mask.end(), uint8_t{0});
      continue;
    }
    Describe(r, fill);
    out.push_back(r);
  }
}

void FeatureDetectionMSER::DrawDetectedMSER(IplImage* image) {
  const cvcompat::RoutineErrors errors("FeatureDetectionMSER::DrawDetectedMSER", __FILE__);
  if (!image || !image->imageData || image->depth != IPL_DEPTH_8U || image->nChannels != 3) {
    errors.Fail(CV_StsBadArg, "the image must be 8-bit three-channel", __LINE__);
    return;
  }
  if (image->width != outputSize[0].width || image->height != outputSize[0].height) {
    errors.Fail(CV_StsBadSize, "the image must have the size of the detection", __LINE__);
    return;
  }
  cvcompat::Guarded([&] {
    cv::Mat canvas = cv::cvarrToMat(image);
    for (const MserRegion& r : lists[2][0]) {
      for (const MserSpan& s : r.spans) {
        if (s.row >= canvas.rows) continue;
        for (int x = s.first; x <= s.last && x < canvas.cols; ++x) canvas.at<cv::Vec3b>(s.row, x) = cv::Vec3b(0, 255, 0);
      }
      const CvRect& b = r.comp.rect;
      cv::rectangle(canvas, cv::Point(b.x, b.y), cv::Point(b.x + b.width, b.y + b.height), cv::Scalar(255, 0, 0), 1,
                    cv::LINE_8);
      for (size_t i = 1; i < r.hull.size(); ++i)
        cv::line(canvas, cv::Point(r.hull[i - 1].x, r.hull[i - 1].y), cv::Point(r.hull[i].x, r.hull[i].y),
                 cv::Scalar(0, 0, 255), 1, cv::LINE_8);
      if (r.hasEllipse)
        cv::ellipse(canvas, cv::Point(static_cast<int>(r.ellipse.center.x), static_cast<int>(r.ellipse.center.y)),
                    cv::Size(static_cast<int>(r.ellipse.size.width / 2), static_cast<int>(r.ellipse.size.height / 2)),
                    r.ellipse.angle, 0, 360, cv::Scalar(0, 255, 255), 1, cv::LINE_8);
      cv::circle(canvas, cv::Point(static_cast<int>(r.centroidX), static_cast<int>(r.centroidY)), 4,
                 cv::Scalar(0, 0, 255), 1, cv::LINE_AA);
    }
  });
}
