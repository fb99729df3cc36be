#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <cstring>

#include "MVG/gdi_frames.h"

namespace GDI {
namespace {

bool Valid(const IplImage* im) {
  return im && im->imageData && im->depth == IPL_DEPTH_8U && im->dataOrder == IPL_DATA_ORDER_PIXEL &&
         im->nChannels >= 1 && im->width > 0 && im->height > 0 &&
         im->widthStep >= im->width * im->nChannels;
}

bool SameSize(const IplImage* a, const IplImage* b) {
  return a->width == b->width && a->height == b->height && a->nChannels == b->nChannels;
}

size_t RowBytes(const IplImage* im) { return static_cast<size_t>(im->width) * im->nChannels; }

unsigned char* Row(IplImage* im, int row) {
  return reinterpret_cast<unsigned char*>(im->imageData) + static_cast<ptrdiff_t>(row) * im->widthStep;
}

// Frame rows start, start + step, ... (count of them); every one inside the frame.
bool InRows(const IplImage* frame, int start, int step, int count) {
  const long last = start + static_cast<long>(count - 1) * step;
  return count > 0 && start >= 0 && start < frame->height && last >= 0 && last < frame->height;
}

int StartRow(const IplImage* frame, bool flip) { return flip ? frame->height - 1 : 0; }
int RowStep(bool flip, bool oneField) { return (oneField ? 2 : 1) * (flip ? -1 : 1); }

// n equal images side by side on a row of the frame.
bool ValidSet(const IplImage* frame, IplImage* const* images, int n) {
  if (!Valid(frame) || !images) return false;
  for (int k = 0; k < n; ++k)
    if (!Valid(images[k]) || !SameSize(images[0], images[k]) || images[k]->nChannels != frame->nChannels)
      return false;
  return 2 * RowBytes(images[0]) <= RowBytes(frame);
}

// The row cursors of a stereo frame (one) or a quad frame (two); doubling
// merges also write the row half a step further.
struct Walk {
  int starts[2];
  int cursors;
  int step;
  int count;
};

bool MakeWalk(const IplImage* frame, IplImage* const* images, bool quad, bool flip, bool oneField,
              bool doubling, Walk* walk) {
  if (!ValidSet(frame, images, quad ? 4 : 2)) return false;
  walk->step = RowStep(flip, oneField);
  walk->count = images[0]->height;
  walk->cursors = quad ? 2 : 1;
  walk->starts[0] = StartRow(frame, flip);
  walk->starts[1] = flip ? (frame->height - 1) / 2 : frame->height / 2;
  for (int c = 0; c < walk->cursors; ++c) {
    if (!InRows(frame, walk->starts[c], walk->step, walk->count)) return false;
    if (doubling && !InRows(frame, walk->starts[c] + walk->step / 2, walk->step, walk->count)) return false;
  }
  return true;
}

// The frame row for image row i of cursor c.
int FrameRow(const Walk& w, int c, int i) { return w.starts[c] + i * w.step; }

bool SplitPairs(IplImage* frame, IplImage** images, bool quad, bool flip, bool oneField) {
  Walk w;
  if (!MakeWalk(frame, images, quad, flip, oneField, false, &w)) return false;
  const size_t bytes = RowBytes(images[0]);
  for (int c = 0; c < w.cursors; ++c)
    for (int i = 0; i < w.count; ++i) {
      const unsigned char* src = Row(frame, FrameRow(w, c, i));
      std::memcpy(Row(images[2 * c], i), src, bytes);
      std::memcpy(Row(images[2 * c + 1], i), src + bytes, bytes);
    }
  return true;
}

bool MergePairs(IplImage* frame, IplImage** images, bool quad, bool flip, bool oneField, bool doubling) {
  Walk w;
  if (!MakeWalk(frame, images, quad, flip, oneField, doubling, &w)) return false;
  const size_t bytes = RowBytes(images[0]);
  for (int c = 0; c < w.cursors; ++c)
    for (int i = 0; i < w.count; ++i) {
      const int r = FrameRow(w, c, i);
      unsigned char* dst = Row(frame, r);
      std::memcpy(dst, Row(images[2 * c], i), bytes);
      std::memcpy(dst + bytes, Row(images[2 * c + 1], i), bytes);
      if (doubling) std::memcpy(Row(frame, r + w.step / 2), dst, 2 * bytes);
    }
  return true;
}

// One field: image row i is frame row 2i (flipped: height - 1 - 2i); merges
// also write the row beside it. halfRes: image pixel j is frame pixel 2j
// (merged into pixels 2j and 2j + 1).
bool FieldFits(const IplImage* frame, const IplImage* field, bool flip, bool merge, bool halfRes) {
  if (!Valid(frame) || !Valid(field) || field->nChannels != frame->nChannels) return false;
  const long columns = halfRes ? 2L * field->width - (merge ? 0 : 1) : field->width;
  if (columns > frame->width) return false;
  const int start = StartRow(frame, flip), step = RowStep(flip, true);
  return InRows(frame, start, step, field->height) &&
         (!merge || InRows(frame, start + step / 2, step, field->height));
}

// Half-resolution rows. The channel count is a template argument for the
// common 3-channel case so that each pixel is a fixed-size copy, not a call.
template <int kCh>
void EverySecondPixel(const unsigned char* src, unsigned char* dst, int n) {
  for (int j = 0; j < n; ++j) std::memcpy(dst + j * kCh, src + 2 * j * kCh, kCh);
}
void EverySecondPixel(const unsigned char* src, unsigned char* dst, int n, int ch) {
  for (int j = 0; j < n; ++j) std::memcpy(dst + j * ch, src + 2 * j * ch, ch);
}
template <int kCh>
void EveryPixelTwice(const unsigned char* src, unsigned char* dst, int n) {
  for (int j = 0; j < n; ++j) {
    std::memcpy(dst + 2 * j * kCh, src + j * kCh, kCh);
    std::memcpy(dst + (2 * j + 1) * kCh, src + j * kCh, kCh);
  }
}
void EveryPixelTwice(const unsigned char* src, unsigned char* dst, int n, int ch) {
  for (int j = 0; j < n; ++j) {
    std::memcpy(dst + 2 * j * ch, src + j * ch, ch);
    std::memcpy(dst + (2 * j + 1) * ch, src + j * ch, ch);
  }
}

bool FieldCopy(IplImage* frame, IplImage* field, int flip, bool merge, bool halfRes) {
  if (!FieldFits(frame, field, flip != 0, merge, halfRes)) return false;
  const int start = StartRow(frame, flip != 0), step = RowStep(flip != 0, true);
  const int ch = field->nChannels;
  for (int i = 0; i < field->height; ++i) {
    const int r = start + i * step;
    unsigned char* frameRow = Row(frame, r);
    unsigned char* fieldRow = Row(field, i);
    if (!merge) {
      if (!halfRes)
        std::memcpy(fieldRow, frameRow, RowBytes(field));
      else if (ch == 3)
        EverySecondPixel<3>(frameRow, fieldRow, field->width);
      else
        EverySecondPixel(frameRow, fieldRow, field->width, ch);
      continue;
    }
    if (!halfRes)
      std::memcpy(frameRow, fieldRow, RowBytes(field));
    else if (ch == 3)
      EveryPixelTwice<3>(fieldRow, frameRow, field->width);
    else
      EveryPixelTwice(fieldRow, frameRow, field->width, ch);
    std::memcpy(Row(frame, r + step / 2), frameRow, halfRes ? 2 * RowBytes(field) : RowBytes(field));
  }
  return true;
}

bool ValidMask(const IplImage* image, const IplImage* mask) {
  return Valid(image) && Valid(mask) && mask->nChannels == 1 && mask->width >= image->width &&
         mask->height >= image->height;
}

// Sets every pixel from its mask byte: value(maskByte) < 0 keeps the pixel.
template <class F>
void ForEachMasked(IplImage* image, IplImage* mask, F value) {
  const int ch = image->nChannels;
  for (int y = 0; y < image->height; ++y) {
    unsigned char* row = Row(image, y);
    const unsigned char* m = Row(mask, y);
    for (int x = 0; x < image->width; ++x) {
      const int v = value(m[x]);
      if (v >= 0) std::memset(row + x * ch, v, ch);
    }
  }
}

CvPoint Scaled(const CvPoint2D32f& p, float scaleX, float scaleY) {
  return cvPoint(cvRound(p.x * scaleX), cvRound(p.y * scaleY));
}

// The offset and flip of the Ex functions.
CvPoint Placed(const IplImage* image, const CvPoint2D32f& p, int offsetX, int offsetY, float scaleX,
               float scaleY, bool flipY) {
  const CvPoint s = Scaled(p, scaleX, scaleY);
  return cvPoint(offsetX + s.x, flipY ? image->height - s.y - offsetY : offsetY + s.y);
}

constexpr int kAntiAliased = 16;
const CvScalar kCyan = {{255, 255, 0, 0}};  // in a blue-green-red image

bool CanDraw(const IplImage* image, const void* points, int n) { return Valid(image) && points && n > 0; }

}  // namespace

bool SplitFrameField(IplImage* frame, IplImage* field, int flip) { return FieldCopy(frame, field, flip, false, false); }
bool SplitFrameFieldAndHalfRes(IplImage* frame, IplImage* small, int flip) {
  return FieldCopy(frame, small, flip, false, true);
}
bool MergeFrameField(IplImage* frame, IplImage* field, int flip) { return FieldCopy(frame, field, flip, true, false); }
bool MergeFrameFieldAndHalfRes(IplImage* frame, IplImage* small, int flip) {
  return FieldCopy(frame, small, flip, true, true);
}

bool SplitFrameStereo(IplImage* frame, IplImage** images, bool flip, bool oneField) {
  return SplitPairs(frame, images, false, flip, oneField);
}
bool MergeFrameStereo(IplImage* frame, IplImage** images, bool flip, bool oneField) {
  return MergePairs(frame, images, false, flip, oneField, oneField);
}
bool SplitFrameQuad(IplImage* frame, IplImage** images, bool flip, bool oneField) {
  return SplitPairs(frame, images, true, flip, oneField);
}
bool MergeFrameQuad(IplImage* frame, IplImage** images, bool flip, bool oneField) {
  return MergePairs(frame, images, true, flip, oneField, false);
}

bool ReallocImage(IplImage** image, CvSize size) {
  if (!image || !*image || size.width <= 0 || size.height <= 0) return false;
  IplImage* fresh = nullptr;
  try {
    fresh = cvCreateImage(size, (*image)->depth, (*image)->nChannels);
  } catch (const cv::Exception&) {
    return false;
  }
  if (!fresh) return false;
  cvReleaseImage(image);
  *image = fresh;
  return true;
}

bool Subsample(IplImage* src, IplImage* dst, int) {
  if (!Valid(src) || !Valid(dst) || src->nChannels != dst->nChannels ||
      src->width < 2 * dst->width - 1 || src->height < 2 * dst->height - 1)
    return false;
  for (int i = 0; i < dst->height; ++i) EverySecondPixel(Row(src, 2 * i), Row(dst, i), dst->width, dst->nChannels);
  return true;
}

bool DoubleFields(IplImage* image) {
  if (!Valid(image)) return false;
  for (int i = 0; i < image->height / 2; ++i) std::memcpy(Row(image, 2 * i + 1), Row(image, 2 * i), RowBytes(image));
  return true;
}

bool ApplyMask(IplImage* image, IplImage* mask) {
  if (!ValidMask(image, mask)) return false;
  ForEachMasked(image, mask, [](unsigned char m) { return m == 0 ? 0 : -1; });
  return true;
}

bool ApplyBinaryMask(IplImage* image, IplImage* mask, int invert) {
  if (!ValidMask(image, mask)) return false;
  if (invert)
    ForEachMasked(image, mask, [](unsigned char m) { return m != 0 ? 0 : -1; });
  else
    ForEachMasked(image, mask, [](unsigned char m) { return m != 0 ? 255 : 0; });
  return true;
}

void DrawCorners(IplImage* image, CvPoint2D32f* points, int n) {
  if (!CanDraw(image, points, n)) return;
  for (int i = 0; i < n; ++i)
    cvCircle(image, cvPoint(cvRound(points[i].x), cvRound(points[i].y)), 3, kCyan, 1, kAntiAliased, 0);
}

void DrawCornersEx(IplImage* image, CvPoint2D32f* points, int n, CvScalar colour, int offsetX,
                   int offsetY, float scaleX, float scaleY, bool flipY, float radius) {
  // A negative radius would throw out of the drawing call.
  if (!CanDraw(image, points, n) || radius < 0) return;
  for (int i = 0; i < n; ++i)
    cvCircle(image, Placed(image, points[i], offsetX, offsetY, scaleX, scaleY, flipY),
             static_cast<int>(radius), colour, 1, kAntiAliased, 0);
}

void DrawMatches(IplImage* image, CvPoint2D32f** points, int n, char* status, CvScalar colour,
                 float scaleX, float scaleY) {
  if (!points) return;
  DrawMatches(image, points[0], points[1], n, status, colour, scaleX, scaleY);
}

void DrawMatches(IplImage* image, CvPoint2D32f* first, CvPoint2D32f* second, int n, char* status,
                 CvScalar colour, float scaleX, float scaleY) {
  if (!CanDraw(image, first, n) || !second || !status) return;
  for (int i = 0; i < n; ++i) {
    if (status[i] != 1) continue;
    const CvPoint a = Scaled(first[i], scaleX, scaleY);
    cvCircle(image, a, 3, kCyan, 1, kAntiAliased, 0);
    cvLine(image, a, Scaled(second[i], scaleX, scaleY), colour, 1, kAntiAliased, 0);
  }
}

void DrawMatchesEx(IplImage* image, CvPoint2D32f* first, CvPoint2D32f* second, int n, char* status,
                   CvScalar colour, int offsetX, int offsetY, float scaleX, float scaleY, bool flipY) {
  if (!CanDraw(image, first, n) || !second || !status) return;
  for (int i = 0; i < n; ++i) {
    if (status[i] != 1) continue;
    const CvPoint a = Placed(image, first[i], offsetX, offsetY, scaleX, scaleY, flipY);
    cvCircle(image, a, 4, colour, 1, kAntiAliased, 0);
    cvLine(image, a, Placed(image, second[i], offsetX, offsetY, scaleX, scaleY, flipY), colour, 1,
           kAntiAliased, 0);
  }
}

}  // namespace GDI
