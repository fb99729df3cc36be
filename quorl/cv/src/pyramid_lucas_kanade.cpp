#include "CV/pyramid_lucas_kanade.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "MVG/ip_operations.h"
#include "bilinear_patch.h"
#include "cvcompat/errstatus.h"

namespace CV {
namespace detail {

void SampleBilinearPatch(const uint8_t* data, int step, int width, int height, int channels, float cx, float cy,
                         int n, float* out) {
  // Far outside, every sample is an edge pixel anyway; clamping first keeps
  // floor() and the int conversion defined.
  const float half = (n - 1) * 0.5f;
  float x = cx - half, y = cy - half;
  const float loX = -2.0f - n, hiX = width + 2.0f, loY = -2.0f - n, hiY = height + 2.0f;
  if (!(x > loX)) x = loX;
  if (!(x < hiX)) x = hiX;
  if (!(y > loY)) y = loY;
  if (!(y < hiY)) y = hiY;
  const float fx = std::floor(x), fy = std::floor(y);
  const float ax = x - fx, ay = y - fy;
  const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
  const float w00 = (1 - ax) * (1 - ay), w01 = ax * (1 - ay), w10 = (1 - ax) * ay, w11 = ax * ay;
  auto clampX = [width](int v) { return std::clamp(v, 0, width - 1); };
  auto clampY = [height](int v) { return std::clamp(v, 0, height - 1); };
  for (int i = 0; i < n; ++i) {
    const uint8_t* r0 = data + static_cast<ptrdiff_t>(clampY(y0 + i)) * step;
    const uint8_t* r1 = data + static_cast<ptrdiff_t>(clampY(y0 + i + 1)) * step;
    for (int j = 0; j < n; ++j) {
      const int c0 = clampX(x0 + j) * channels, c1 = clampX(x0 + j + 1) * channels;
      float* o = out + (static_cast<ptrdiff_t>(i) * n + j) * channels;
      for (int c = 0; c < channels; ++c)
        o[c] = w00 * r0[c0 + c] + w01 * r0[c1 + c] + w10 * r1[c0 + c] + w11 * r1[c1 + c];
    }
  }
}

}  // namespace detail

namespace {

constexpr int kLevels = 4;
constexpr int kMaxIterations = 20;
constexpr double kMinDeterminant = 2.220446049250313e-16;  // DBL_EPSILON
constexpr float kConverged = 0.003f;                       // squared step, pixels^2
constexpr float kOscillation = 0.01f;

const float kDerivative[3] = {-1.0f, 0.0f, 1.0f};
const float kSmoothing[3] = {0.09375f, 0.3125f, 0.09375f};

bool Usable(const IplImage* im) {
  return im && im->imageData && im->depth == IPL_DEPTH_8U && im->nChannels >= 1 && im->width > 0 &&
         im->height > 0 && im->widthStep >= im->width * im->nChannels;
}

struct Level {
  const uint8_t* data;
  int step, width, height;
};

// Level 0 is the image itself; each next level is cvPyrDown's
// ((w + 1) / 2) x ((h + 1) / 2) Gaussian reduction of the one before.
bool BuildPyramid(IplImage* image, std::vector<cv::Mat>& store, Level (&levels)[kLevels]) {
  store.assign(kLevels, cv::Mat());
  return cvcompat::Guarded([&] {
    store[0] = cv::cvarrToMat(image);
    for (int l = 1; l < kLevels; ++l)
      cv::pyrDown(store[l - 1], store[l], cv::Size((store[l - 1].cols + 1) / 2, (store[l - 1].rows + 1) / 2));
    for (int l = 0; l < kLevels; ++l)
      levels[l] = {store[l].data, static_cast<int>(store[l].step), store[l].cols, store[l].rows};
  });
}

// One point through all levels. Answers whether it was found; `out` gets
// the position (full-resolution coordinates either way).
bool Track(const Level (&a)[kLevels], const Level (&b)[kLevels], int ch, CvPoint2D32f p, CvPoint2D32f& out) {
  out = p;
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  // Patches: 5 x 5 of the first image, its 3 x 3 centre, gradients, and 3 x 3 of the second.
  float big[25 * 4], tmp[25 * 4], ix[9 * 4], iy[9 * 4], patchJ[9 * 4];
  std::vector<float> heap;
  float *pBig = big, *pTmp = tmp, *pIx = ix, *pIy = iy, *pJ = patchJ;
  if (ch > 4) {
    heap.resize(static_cast<size_t>(ch) * (25 + 25 + 9 + 9 + 9));
    pBig = heap.data();
    pTmp = pBig + 25 * ch;
    pIx = pTmp + 25 * ch;
    pIy = pIx + 9 * ch;
    pJ = pIy + 9 * ch;
  }
  float u = p.x / 16.0f, v = p.y / 16.0f;
  for (int L = kLevels - 1; L >= 0; --L) {
    const float scale = 1.0f / static_cast<float>(1 << L);
    u *= 2.0f;
    v *= 2.0f;
    const Level& la = a[L];
    const Level& lb = b[L];
    detail::SampleBilinearPatch(la.data, la.step, la.width, la.height, ch, p.x * scale, p.y * scale, 5, pBig);
    IP::SeparableConvolution3x3(pBig, pIx, pTmp, 5, 5, ch, kDerivative, kSmoothing);
    IP::SeparableConvolution3x3(pBig, pIy, pTmp, 5, 5, ch, kSmoothing, kDerivative);
    float dxPrev = 0, dyPrev = 0;
    for (int it = 0; it < kMaxIterations; ++it) {
      // Far outside the level the window is empty and the point is lost
      // below; the bound also keeps floor() and the int casts defined.
      if (!(std::fabs(u) < 1e6f) || !(std::fabs(v) < 1e6f)) {
        out = cvPoint2D32f(u / scale, v / scale);
        return false;
      }
      detail::SampleBilinearPatch(lb.data, lb.step, lb.width, lb.height, ch, u, v, 3, pJ);
      const int gx = static_cast<int>(std::floor(u)) - 1, gy = static_cast<int>(std::floor(v)) - 1;
      const int c0 = std::max(0, -gx), c1 = std::min(lb.width - gx, 3);
      const int r0 = std::max(0, -gy), r1 = std::min(lb.height - gy, 3);
      double gxx = 0, gyy = 0, gxy = 0, bx = 0, by = 0;
      for (int i = r0; i < r1; ++i)
        for (int j = c0; j < c1; ++j)
          for (int c = 0; c < ch; ++c) {
            const int k = (i * 3 + j) * ch + c;
            // The centre 3 x 3 of the 5 x 5 patch is the first image's I.
            const double diff = pBig[((i + 1) * 5 + j + 1) * ch + c] - pJ[k];
            const double gx1 = pIx[k], gy1 = pIy[k];
            gxx += gx1 * gx1;
            gyy += gy1 * gy1;
            gxy += gx1 * gy1;
            bx += gx1 * diff;
            by += gy1 * diff;
          }
      const double det = gxx * gyy - gxy * gxy;
      if (det < kMinDeterminant) {
        out = cvPoint2D32f(u / scale, v / scale);
        return false;
      }
      const float dx = static_cast<float>((bx * gyy - by * gxy) / det);
      const float dy = static_cast<float>((by * gxx - bx * gxy) / det);
      u += dx;
      v += dy;
      if (dx * dx + dy * dy < kConverged) break;
      if (it > 0 && std::fabs(dx + dxPrev) < kOscillation && std::fabs(dy + dyPrev) < kOscillation) {
        u -= dx * 0.5f;
        v -= dy * 0.5f;
        break;
      }
      dxPrev = dx;
      dyPrev = dy;
    }
  }
  out = cvPoint2D32f(u, v);
  return true;
}

}  // namespace

void FeatureMatcherPyramidLucasKanade(IplImage* first, IplImage* second, CvPoint2D32f* points, CvPoint2D32f* matched,
                                      int count, char* status) {
  const cvcompat::RoutineErrors errors("CV::FeatureMatcherPyramidLucasKanade", __FILE__);
  auto refuse = [&](int code, const char* message, int line) {
    if (count > 0) {
      if (points && matched) std::copy_n(points, count, matched);
      if (status) std::fill_n(status, count, char{0});
    }
    errors.Fail(code, message, line);
  };
  if (count < 0) return refuse(CV_StsBadSize, "count must not be negative", __LINE__);
  if (count > 0 && (!points || !matched)) return refuse(CV_StsBadArg, "null point array", __LINE__);
  if (!first || !second) return refuse(CV_StsBadArg, "null image", __LINE__);
  if (first->depth != IPL_DEPTH_8U || second->depth != IPL_DEPTH_8U)
    return refuse(CV_StsBadArg, "the images must be 8-bit", __LINE__);
  if (first->nChannels != second->nChannels)
    return refuse(CV_StsBadArg, "the images must have equal channel counts", __LINE__);
  if (!Usable(first) || !Usable(second)) return refuse(CV_StsBadSize, "empty or malformed image", __LINE__);
  if (count == 0) return;

  std::vector<cv::Mat> storeA, storeB;
  Level a[kLevels], b[kLevels];
  if (!BuildPyramid(first, storeA, a) || !BuildPyramid(second, storeB, b))
    return refuse(CV_StsBadArg, "the pyramid could not be built", __LINE__);
  const int ch = first->nChannels;
  for (int i = 0; i < count; ++i) {
    const bool found = Track(a, b, ch, points[i], matched[i]);
    if (status) status[i] = found ? 1 : 0;
  }
}

}  // namespace CV
