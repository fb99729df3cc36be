// Frame split and merge per video frame against (a) a memcpy of the bytes the
// call writes and (b) OpenCV's nearest equivalent on the same buffers.
// Prints times and ratios; run by hand on an otherwise idle machine.
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MVG/gdi_frames.h"

namespace {

double MedianMicros(const std::function<void()>& fn, int reps) {
  for (int i = 0; i < 5; ++i) fn();
  std::vector<double> t;
  t.reserve(reps);
  for (int i = 0; i < reps; ++i) {
    const auto a = std::chrono::steady_clock::now();
    fn();
    const auto b = std::chrono::steady_clock::now();
    t.push_back(std::chrono::duration<double, std::micro>(b - a).count());
  }
  std::nth_element(t.begin(), t.begin() + reps / 2, t.end());
  return t[reps / 2];
}

enum class Kind { Stereo, Quad, Field, FieldHalfRes };

struct Case {
  Kind kind;
  bool flip, oneField;
  std::string Name() const {
    const char* k[] = {"stereo", "quad", "field", "field-half-res"};
    return std::string(k[static_cast<int>(kind)]) + (flip ? " flip" : "") + (oneField ? " 1field" : "");
  }
};

// A frame of exactly height x row bytes, as the sampler hands it over.
struct Frame {
  std::vector<unsigned char> data;
  IplImage* header;
  Frame(int w, int h) : data(static_cast<size_t>(w) * 3 * h) {
    header = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, 3);
    cvSetData(header, data.data(), w * 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  }
  ~Frame() { cvReleaseImageHeader(&header); }
};

// OpenCV over the same buffers: ROI copyTo, flip of the ROI when flipped, a
// two-row-step view for one field, resize INTER_NEAREST for half resolution.
cv::Mat FieldView(const cv::Mat& frame, bool flip, int rows, int offset = 0) {
  // Rows walked by a field: 0, 2, ... or, flipped, h-1, h-3, ... (ascending
  // here; flip reverses). offset 1 gives the rows beside them that doubling
  // writes.
  const int start = flip ? frame.rows - 1 - 2 * (rows - 1) - offset : offset;
  return cv::Mat(rows, frame.cols, frame.type(), const_cast<uchar*>(frame.ptr(start)), frame.step * 2);
}

void CopyMaybeFlipped(const cv::Mat& src, cv::Mat dst, bool flip) {
  if (flip)
    cv::flip(src, dst, 0);
  else
    src.copyTo(dst);
}

void Run(const char* label, int W, int H, const Case& c, int reps) {
  Frame frame(W, H);
  const cv::Mat f = cv::cvarrToMat(frame.header);
  const int step = c.oneField ? 2 : 1;
  int n = 1, w = W, h = H / 2;
  switch (c.kind) {
    case Kind::Stereo: n = 2, w = W / 2, h = H / step; break;
    case Kind::Quad: n = 4, w = W / 2, h = H / 2 / step; break;
    case Kind::Field: break;
    case Kind::FieldHalfRes: w = W / 2; break;
  }
  std::vector<IplImage*> images;
  std::vector<cv::Mat> mats;
  for (int k = 0; k < n; ++k) {
    images.push_back(cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, 3));
    mats.push_back(cv::cvarrToMat(images.back()));
  }
  const size_t imageBytes = static_cast<size_t>(n) * w * 3 * h;
  const bool doubles = c.kind == Kind::Field || c.kind == Kind::FieldHalfRes || (c.kind == Kind::Stereo && c.oneField);
  const size_t mergeBytes = c.kind == Kind::FieldHalfRes ? imageBytes * 4 : doubles ? imageBytes * 2 : imageBytes;

  auto split = [&] {
    switch (c.kind) {
      case Kind::Stereo: GDI::SplitFrameStereo(frame.header, images.data(), c.flip, c.oneField); break;
      case Kind::Quad: GDI::SplitFrameQuad(frame.header, images.data(), c.flip, c.oneField); break;
      case Kind::Field: GDI::SplitFrameField(frame.header, images[0], c.flip); break;
      case Kind::FieldHalfRes: GDI::SplitFrameFieldAndHalfRes(frame.header, images[0], c.flip); break;
    }
  };
  auto merge = [&] {
    switch (c.kind) {
      case Kind::Stereo: GDI::MergeFrameStereo(frame.header, images.data(), c.flip, c.oneField); break;
      case Kind::Quad: GDI::MergeFrameQuad(frame.header, images.data(), c.flip, c.oneField); break;
      case Kind::Field: GDI::MergeFrameField(frame.header, images[0], c.flip); break;
      case Kind::FieldHalfRes: GDI::MergeFrameFieldAndHalfRes(frame.header, images[0], c.flip); break;
    }
  };
  // The ROIs of each image within the frame (for the pair layouts).
  auto roi = [&](int k) {
    const bool lower = c.kind == Kind::Quad && k >= 2;
    cv::Mat rows = c.oneField ? FieldView(f, c.flip, h * (c.kind == Kind::Quad ? 2 : 1))
                              : f;
    const int top = lower ? (c.flip ? 0 : rows.rows / 2) : (c.flip && c.kind == Kind::Quad ? rows.rows - h : 0);
    return rows(cv::Rect((k % 2) * w, top, w, h));
  };
  auto cvSplit = [&] {
    if (c.kind == Kind::Field) return CopyMaybeFlipped(FieldView(f, c.flip, h), mats[0], c.flip);
    if (c.kind == Kind::FieldHalfRes) {
      cv::resize(FieldView(f, c.flip, h), mats[0], mats[0].size(), 0, 0, cv::INTER_NEAREST);
      if (c.flip) cv::flip(mats[0], mats[0], 0);
      return;
    }
    for (int k = 0; k < n; ++k) CopyMaybeFlipped(roi(k), mats[k], c.flip);
  };
  auto cvMerge = [&] {
    if (c.kind == Kind::Field) {
      CopyMaybeFlipped(mats[0], FieldView(f, c.flip, h), c.flip);
      CopyMaybeFlipped(mats[0], FieldView(f, c.flip, h, 1), c.flip);
      return;
    }
    if (c.kind == Kind::FieldHalfRes) {
      cv::Mat whole = f;
      cv::resize(mats[0], whole, f.size(), 0, 0, cv::INTER_NEAREST);
      if (c.flip) cv::flip(whole, whole, 0);
      return;
    }
    for (int k = 0; k < n; ++k) {
      CopyMaybeFlipped(mats[k], roi(k), c.flip);
      if (doubles) CopyMaybeFlipped(mats[k], FieldView(f, c.flip, h, 1)(cv::Rect((k % 2) * w, 0, w, h)), c.flip);
    }
  };
  // Both sides must produce the same images and frame, or the ratio means nothing.
  auto snapshot = [&] {
    std::vector<unsigned char> all(frame.data);
    for (IplImage* im : images) all.insert(all.end(), im->imageData, im->imageData + im->imageSize);
    return all;
  };
  for (IplImage* im : images) std::memset(im->imageData, 0, im->imageSize);
  split();
  const auto oursSplit = snapshot();
  for (IplImage* im : images) std::memset(im->imageData, 0, im->imageSize);
  cvSplit();
  const bool splitSame = snapshot() == oursSplit;
  for (IplImage* im : images)
    for (int i = 0; i < im->imageSize; ++i) im->imageData[i] = static_cast<char>(i * 13 + 5);
  merge();
  const auto oursMerge = snapshot();
  cvMerge();
  const bool mergeSame = snapshot() == oursMerge;
  if (!splitSame || !mergeSame)
    std::printf("%s %s: OpenCV equivalent differs (split %d, merge %d)\n", label, c.Name().c_str(), splitSame, mergeSame);

  std::vector<unsigned char> a(mergeBytes), b(mergeBytes);
  const double tSplit = MedianMicros(split, reps), tMerge = MedianMicros(merge, reps);
  const double mSplit = MedianMicros([&] { std::memcpy(b.data(), a.data(), imageBytes); }, reps);
  const double mMerge = MedianMicros([&] { std::memcpy(b.data(), a.data(), mergeBytes); }, reps);
  const double cSplit = MedianMicros(cvSplit, reps), cMerge = MedianMicros(cvMerge, reps);
  std::printf("%-10s %-24s split %7.1f us  x%5.2f memcpy  x%5.2f opencv | merge %7.1f us  x%5.2f memcpy  x%5.2f opencv\n",
              label, c.Name().c_str(), tSplit, tSplit / mSplit, tSplit / cSplit, tMerge, tMerge / mMerge,
              tMerge / cMerge);
  for (IplImage*& im : images) cvReleaseImage(&im);
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(11, std::atoi(argv[1])) : 301;
  cv::setNumThreads(1);  // the streaming thread is one thread
  std::printf("time per frame (median of %d), ratios: ours / memcpy of the bytes written, ours / OpenCV\n", reps);
  std::vector<Case> cases;
  for (Kind k : {Kind::Stereo, Kind::Quad})
    for (bool flip : {false, true})
      for (bool oneField : {false, true}) cases.push_back({k, flip, oneField});
  for (Kind k : {Kind::Field, Kind::FieldHalfRes})
    for (bool flip : {false, true}) cases.push_back({k, flip, false});
  for (const Case& c : cases) Run("1920x1080", 1920, 1080, c, reps);
  // Halves of 683 pixels: camera rows padded from 2049 to 2052 bytes.
  for (const Case& c : {Case{Kind::Stereo, false, false}, Case{Kind::Stereo, true, false}, Case{Kind::Quad, true, false}})
    Run("1366x768", 1366, 768, c, reps);
  return 0;
}
