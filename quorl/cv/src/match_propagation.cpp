#include "CV/match_propagation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "cvcompat/errstatus.h"
#include "cvcompat/save_image.h"
#include "quorl/paths.h"

namespace CV {
namespace {

constexpr float kMinScore = 0.5f;  // a candidate must score strictly above
constexpr int kSeedMargin = 2;     // seeds from this far inside the border
constexpr int kExpandMargin = 5;   // matches this close to the border are not expanded
constexpr int kNeighbourhood = 2;  // first-image offsets -2 .. 2
constexpr int kDenseHalfWindow = 2;

const uint8_t* Pixel(const IplImage* im, int x, int y) {
  return reinterpret_cast<const uint8_t*>(im->imageData) + static_cast<ptrdiff_t>(y) * im->widthStep +
         static_cast<ptrdiff_t>(x) * im->nChannels;
}

bool Is8Bit(const IplImage* im) {
  return im && im->imageData && im->depth == IPL_DEPTH_8U && im->nChannels >= 1 && im->width > 0 &&
         im->height > 0 && im->widthStep >= im->width * im->nChannels;
}

bool WindowInside(const IplImage* im, int x, int y, int e) {
  // In 64 bits: any window size a caller sets must not overflow here.
  const int64_t r = e;
  return r >= 0 && x - r >= 0 && y - r >= 0 && x + r < im->width && y + r < im->height;
}

struct Candidate {
  int x1, y1, x2, y2;
  float score;
};
struct ByScore {
  bool operator()(const Candidate& a, const Candidate& b) const { return a.score < b.score; }
};
using MaxHeap = std::priority_queue<Candidate, std::vector<Candidate>, ByScore>;

// The score in single precision, per channel over the window, averaged.
// A window that is uniform in a channel has no correlation to speak of; it
// is caught by an exact test rather than left to a 0/0 (whose float means
// are not always exact, so the quotient can come out finite and large).
float Zncc(const IplImage* a, const IplImage* b, int x1, int y1, int x2, int y2, int e) {
  const int ch = a->nChannels, size = 2 * e + 1;
  float sumA[3] = {0, 0, 0}, sumB[3] = {0, 0, 0};
  int minA[3] = {255, 255, 255}, maxA[3] = {0, 0, 0}, minB[3] = {255, 255, 255}, maxB[3] = {0, 0, 0};
  for (int i = 0; i < size; ++i) {
    const uint8_t* ra = Pixel(a, x1 - e, y1 - e + i);
    const uint8_t* rb = Pixel(b, x2 - e, y2 - e + i);
    for (int k = 0; k < size * ch; k += ch)
      for (int c = 0; c < ch; ++c) {
        const int va = ra[k + c], vb = rb[k + c];
        sumA[c] += va;
        sumB[c] += vb;
        minA[c] = std::min(minA[c], va);
        maxA[c] = std::max(maxA[c], va);
        minB[c] = std::min(minB[c], vb);
        maxB[c] = std::max(maxB[c], vb);
      }
  }
  for (int c = 0; c < ch; ++c)
    if (minA[c] == maxA[c] || minB[c] == maxB[c]) return 0.0f;
  const float n = static_cast<float>(size * size);
  float ma[3], mb[3], s11[3] = {0, 0, 0}, s22[3] = {0, 0, 0}, s12[3] = {0, 0, 0};
  for (int c = 0; c < ch; ++c) {
    ma[c] = sumA[c] / n;
    mb[c] = sumB[c] / n;
  }
  for (int i = 0; i < size; ++i) {
    const uint8_t* ra = Pixel(a, x1 - e, y1 - e + i);
    const uint8_t* rb = Pixel(b, x2 - e, y2 - e + i);
    for (int k = 0; k < size * ch; k += ch)
      for (int c = 0; c < ch; ++c) {
        const float da = ra[k + c] - ma[c], db = rb[k + c] - mb[c];
        s11[c] += da * da;
        s22[c] += db * db;
        s12[c] += da * db;
      }
  }
  float score = 0;
  for (int c = 0; c < ch; ++c) score += s12[c] / (std::sqrt(s11[c]) * std::sqrt(s22[c]));
  return score / static_cast<float>(ch);
}

}  // namespace

void CMatchPropagation::SetCorrWinSize(int halfWidth, int halfHeight) {
  if (halfWidth < 0 || halfHeight < 0) {
    cvcompat::ReportError(CV_StsBadArg, "CV::CMatchPropagation::SetCorrWinSize", "negative window size", __FILE__,
                          __LINE__);
    return;
  }
  corrHalfWidth = halfWidth;
  corrHalfHeight = halfHeight;
}

void CMatchPropagation::Initialize(IplImage* image) {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::Initialize", __FILE__);
  if (!image) {
    errors.Fail(CV_StsBadArg, "null image", __LINE__);
    return;
  }
  if (image->width <= 0 || image->height <= 0) {
    errors.Fail(CV_StsBadSize, "empty image", __LINE__);
    return;
  }
  width = image->width;
  height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  map1.assign(n, cvPoint(-1, -1));
  map2.assign(n, cvPoint(-1, -1));
  texture1.assign(n, 0);
  texture2.assign(n, 0);
}

void CMatchPropagation::BuildTextureDescriptor(IplImage* image, int* texture) {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::BuildTextureDescriptor", __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  if (!texture) return errors.Fail(CV_StsBadArg, "null texture map", __LINE__);
  if (!Is8Bit(image) || image->nChannels > 3)
    return errors.Fail(CV_StsBadArg, "the image must be 8-bit with one to three channels", __LINE__);
  if (image->width != width || image->height != height)
    return errors.Fail(CV_StsBadSize, "the image must have the working size", __LINE__);
  const int ch = image->nChannels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int& out = texture[static_cast<size_t>(y) * width + x];
      if (x < 1 || y < 1 || x > width - 2 || y > height - 2) {
        out = -1;
        continue;
      }
      const uint8_t* p = Pixel(image, x, y);
      const uint8_t* around[4] = {Pixel(image, x - 1, y), Pixel(image, x + 1, y), Pixel(image, x, y - 1),
                                  Pixel(image, x, y + 1)};
      int largest = 0;
      for (const uint8_t* q : around) {
        int sum = 0;
        for (int c = 0; c < ch; ++c) sum += std::abs(p[c] - q[c]);
        largest = std::max(largest, sum);
      }
      out = largest / ch;  // the mean, truncated
      const int capped = std::min(out, 255);
      textureMax = std::max(textureMax, capped);
      textureMin = std::min(textureMin, capped);
    }
}

void CMatchPropagation::GetTextureDescriptorImage(int* texture, unsigned char* output, int stride) {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::GetTextureDescriptorImage", __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  if (!texture || !output) return errors.Fail(CV_StsBadArg, "null buffer", __LINE__);
  if (stride < 3 * width) return errors.Fail(CV_StsBadSize, "stride shorter than a row", __LINE__);
  const float range = static_cast<float>(textureMax - textureMin);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = output + static_cast<ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      int value = 0;
      if (range > 0) {
        const float t = static_cast<float>(texture[static_cast<size_t>(y) * width + x] - textureMin) / range * 255.0f;
        value = std::clamp(static_cast<int>(std::clamp(t, -1.0f, 256.0f)), 0, 255);
      }
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<unsigned char>(value);
    }
  }
}

void CMatchPropagation::PropagateMatchesFast(CvPoint2D32f** points, char* status, int count, IplImage* first,
                                             IplImage* second) {
  Propagate(points, status, count, first, second, false, "CV::CMatchPropagation::PropagateMatchesFast");
}

void CMatchPropagation::PropagateRectifiedMatchesFast(CvPoint2D32f** points, char* status, int count,
                                                      IplImage* first, IplImage* second) {
  Propagate(points, status, count, first, second, true, "CV::CMatchPropagation::PropagateRectifiedMatchesFast");
}

void CMatchPropagation::Propagate(CvPoint2D32f** points, char* status, int count, IplImage* first, IplImage* second,
                                  bool rectified, const char* function) {
  const cvcompat::RoutineErrors errors(function, __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  if (!Is8Bit(first) || !Is8Bit(second) || first->nChannels > 3)
    return errors.Fail(CV_StsBadArg, "the images must be 8-bit with one to three channels", __LINE__);
  if (first->nChannels != second->nChannels)
    return errors.Fail(CV_StsBadArg, "the images must have equal channel counts", __LINE__);
  if (first->width != width || first->height != height || second->width != width || second->height != height)
    return errors.Fail(CV_StsBadSize, "the images must have the working size", __LINE__);
  if (count < 0) return errors.Fail(CV_StsBadSize, "negative seed count", __LINE__);
  if (count > 0 && (!points || !points[0] || !points[1] || !status))
    return errors.Fail(CV_StsBadArg, "null seed arrays", __LINE__);

  BuildTextureDescriptor(first, texture1.data());
  BuildTextureDescriptor(second, texture2.data());

  const int e = rectified ? corrHalfWidth : kDenseHalfWindow;
  auto at = [this](int x, int y) { return static_cast<size_t>(y) * width + x; };
  auto score = [&](int x1, int y1, int x2, int y2) {
    if (!WindowInside(first, x1, y1, e) || !WindowInside(second, x2, y2, e)) return 0.0f;
    return Zncc(first, second, x1, y1, x2, y2, e);
  };
  auto record = [&](const Candidate& c) {
    map1[at(c.x1, c.y1)] = cvPoint(c.x2, c.y2);
    map2[at(c.x2, c.y2)] = cvPoint(c.x1, c.y1);
  };

  MaxHeap global;
  for (int j = 0; j < count; ++j) {
    if (status[j] != 1) continue;
    const CvPoint2D32f p = points[0][j], q = points[1][j];
    // Range first: truncating a NaN or a huge float to int is undefined.
    auto inRange = [this](CvPoint2D32f v) { return v.x >= 0 && v.y >= 0 && v.x < width && v.y < height; };
    if (!inRange(p) || !inRange(q)) continue;
    const Candidate c{static_cast<int>(p.x), static_cast<int>(p.y), static_cast<int>(q.x), static_cast<int>(q.y), 0};
    auto seedable = [this](int x, int y) {
      return x >= kSeedMargin && y >= kSeedMargin && x <= width - kSeedMargin && y <= height - kSeedMargin;
    };
    if (!seedable(c.x1, c.y1) || !seedable(c.x2, c.y2)) continue;
    // A seed must not break the one-to-one maps.
    if (map1[at(c.x1, c.y1)].x != -1 || map2[at(c.x2, c.y2)].x != -1) continue;
    const float s = score(c.x1, c.y1, c.x2, c.y2);
    if (!(s > kMinScore)) continue;
    Candidate seeded = c;
    seeded.score = s;
    record(seeded);
    global.push(seeded);
  }

  MaxHeap local;
  while (!global.empty()) {
    const Candidate m = global.top();
    global.pop();
    auto expandable = [this](int x, int y) {
      return x >= kExpandMargin && y >= kExpandMargin && x <= width - kExpandMargin && y <= height - kExpandMargin;
    };
    if (!expandable(m.x1, m.y1) || !expandable(m.x2, m.y2)) continue;
    for (int dy = -kNeighbourhood; dy <= kNeighbourhood; ++dy)
      for (int dx = -kNeighbourhood; dx <= kNeighbourhood; ++dx) {
        const int x1 = m.x1 + dx, y1 = m.y1 + dy;
        if (map1[at(x1, y1)].x != -1 || texture1[at(x1, y1)] <= 0) continue;
        const int eyFirst = rectified ? 0 : -1, eyLast = rectified ? 0 : 1;
        for (int ey = eyFirst; ey <= eyLast; ++ey)
          for (int ex = -1; ex <= 1; ++ex) {
            const int x2 = m.x2 + dx + ex, y2 = m.y2 + dy + ey;
            if (x2 < 0 || y2 < 0 || x2 >= width || y2 >= height) continue;
            if (map2[at(x2, y2)].x != -1 || texture2[at(x2, y2)] <= 0) continue;
            const float s = score(x1, y1, x2, y2);
            if (s > kMinScore) local.push({x1, y1, x2, y2, s});
          }
      }
    while (!local.empty()) {
      const Candidate c = local.top();
      local.pop();
      if (map1[at(c.x1, c.y1)].x != -1 || map2[at(c.x2, c.y2)].x != -1) continue;
      record(c);
      global.push(c);
    }
  }
}

void CMatchPropagation::GetDspImage(unsigned char* output, int stride) {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::GetDspImage", __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  if (!output) return errors.Fail(CV_StsBadArg, "null buffer", __LINE__);
  if (stride < 3 * width) return errors.Fail(CV_StsBadSize, "stride shorter than a row", __LINE__);
  auto length = [this](int x, int y) {
    const CvPoint m = map1[static_cast<size_t>(y) * width + x];
    const float dx = static_cast<float>(x - m.x), dy = static_cast<float>(y - m.y);
    return std::sqrt(dy * dy + dx * dx);
  };
  float lo = 1e9f, hi = -1e9f;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (map1[static_cast<size_t>(y) * width + x].x != -1) {
        const float v = length(x, y);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
  for (int y = 0; y < height; ++y) {
    unsigned char* row = output + static_cast<ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      unsigned char* px = row + 3 * x;
      if (map1[static_cast<size_t>(y) * width + x].x == -1) {
        px[0] = 0;
        px[1] = 0;
        px[2] = 200;
        continue;
      }
      // All lengths equal: no range to scale by, so 0 rather than 0/0.
      const int value = hi > lo ? std::clamp(static_cast<int>((length(x, y) - lo) / (hi - lo) * 250.0f), 0, 255) : 0;
      px[0] = px[1] = px[2] = static_cast<unsigned char>(value);
    }
  }
}

void CMatchPropagation::GetDspImage2(unsigned char* output, int stride, int, int) {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::GetDspImage2", __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  if (!output) return errors.Fail(CV_StsBadArg, "null buffer", __LINE__);
  if (stride < 3 * width) return errors.Fail(CV_StsBadSize, "stride shorter than a row", __LINE__);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = output + static_cast<ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const CvPoint m = map1[static_cast<size_t>(y) * width + x];
      // A disparity of 16 or more saturates rather than wrapping round.
      const int value = m.x == -1 ? 16 : std::min(std::abs(x - m.x) * 16, 255);
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<unsigned char>(value);
    }
  }
}

void CMatchPropagation::SaveDsp() {
  const cvcompat::RoutineErrors errors("CV::CMatchPropagation::SaveDsp", __FILE__);
  if (width <= 0) return errors.Fail(CV_StsBadArg, "Initialize first", __LINE__);
  cv::Mat image(height, width, CV_8UC3);
  GetDspImage(image.data, static_cast<int>(image.step));
  cv::Mat flipped;
  if (!errors.Call([&] { cv::flip(image, flipped, 0); }, __LINE__)) return;
  const std::string path = quorl::MapPath("C:\\PropDsp.bmp");
  IplImage header = cvIplImage(flipped);
  cvSaveImage(path.c_str(), &header);  // records its own failure
}

float CMatchPropagation::WindowZNCC(IplImage* first, IplImage* second, int x1, int y1, int x2, int y2, int e) {
  if (!Is8Bit(first) || !Is8Bit(second) || first->nChannels != second->nChannels || first->nChannels > 3) return 0;
  if (!WindowInside(first, x1, y1, e) || !WindowInside(second, x2, y2, e)) return 0;
  return Zncc(first, second, x1, y1, x2, y2, e);
}

float CMatchPropagation::WindowSSD(IplImage* first, IplImage* second, int x1, int y1, int x2, int y2, int e) {
  if (!Is8Bit(first) || !Is8Bit(second) || first->nChannels != second->nChannels) return -1;
  if (!WindowInside(first, x1, y1, e) || !WindowInside(second, x2, y2, e)) return -1;
  const int ch = first->nChannels, size = 2 * e + 1;
  float sum = 0;
  for (int i = 0; i < size; ++i) {
    const uint8_t* ra = Pixel(first, x1 - e, y1 - e + i);
    const uint8_t* rb = Pixel(second, x2 - e, y2 - e + i);
    for (int k = 0; k < size * ch; ++k) {
      const float d = static_cast<float>(ra[k]) - static_cast<float>(rb[k]);
      sum += d * d;
    }
  }
  return sum;
}

bool CMatchPropagation::IsTexturedPixel(IplImage* image, int x, int y) {
  if (!Is8Bit(image)) return false;
  if (x < 1 || y < 1 || x > image->width - 2 || y > image->height - 2) return false;
  const int ch = image->nChannels;
  const uint8_t* p = Pixel(image, x, y);
  const uint8_t* around[4] = {Pixel(image, x, y - 1), Pixel(image, x, y + 1), Pixel(image, x - 1, y),
                              Pixel(image, x + 1, y)};
  for (const uint8_t* q : around) {
    int sum = 0;
    for (int c = 0; c < ch; ++c) sum += std::abs(p[c] - q[c]);
    if (static_cast<float>(sum) / static_cast<float>(ch) > 1.0f) return true;
  }
  return false;
}

}  // namespace CV
