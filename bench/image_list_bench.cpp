// The image list's back-buffer paint (9 slots of 640 x 480 shown at
// 160 x 120 on a 3 x 3 grid) against the plain OpenCV equivalent on the same
// images: cv::resize (INTER_LINEAR) into the same rectangles of a same-size
// image, plus cv::rectangle fills of the caption bars. Our paint also
// converts to 32 bits and draws the caption texts. Prints milliseconds per
// paint and the ratio; run by hand on an otherwise idle machine.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "gdiplus/startup.h"
#include "quorlmfc/image_list_x.h"
#include "win/window.h"

namespace {

double MedianMillis(const std::function<void()>& fn, int reps) {
  for (int i = 0; i < 3; ++i) fn();
  std::vector<double> t;
  for (int i = 0; i < reps; ++i) {
    const auto a = std::chrono::steady_clock::now();
    fn();
    const auto b = std::chrono::steady_clock::now();
    t.push_back(std::chrono::duration<double, std::milli>(b - a).count());
  }
  std::nth_element(t.begin(), t.begin() + reps / 2, t.end());
  return t[static_cast<size_t>(reps / 2)];
}

constexpr int kSlots = 9, kImageW = 640, kImageH = 480, kPreviewW = 160, kPreviewH = 120;
// Three cells of 165 x 140 (margins 5, caption 15) and three margins.
constexpr int kListW = 510, kListH = 435;

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  win::EnsureApplication();
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput in;
  Gdiplus::GdiplusStartup(&token, &in, nullptr);
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

  std::vector<cv::Mat> images;
  cv::RNG rng(7);
  for (int i = 0; i < kSlots; ++i) {
    cv::Mat m(kImageH, kImageW, CV_8UC3);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    images.push_back(m);
  }

  double ours = 0;
  {
    CWnd parent;
    parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, kListW + 20, kListH + 20), nullptr, 0);
    CImageListX list;
    list.Create("", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(0, 0, kListW, kListH), &parent, 1);
    list.Initialize();
    list.SetImageDataSize(kImageW, kImageH);
    list.SetImagePreviewSize(kPreviewW, kPreviewH);
    if (list.GetImageRects().size() != kSlots) {
      std::fprintf(stderr, "grid of %zu positions, expected %d\n", list.GetImageRects().size(), kSlots);
      return 1;
    }
    for (int i = 0; i < kSlots; ++i) {
      list.AddImageElement(nullptr);
      // The list's rows are padded to 4 bytes; 640 x 3 already is.
      list.SetImageData(static_cast<UINT>(i), images[static_cast<size_t>(i)].data);
    }
    ours = MedianMillis([&] { list.PaintBackBuffer(); }, reps);
  }

  cv::Mat canvas(kListH, kListW, CV_8UC3);
  const auto opencvPaint = [&] {
    canvas.setTo(cv::Scalar(100, 100, 100));
    for (int i = 0; i < kSlots; ++i) {
      const int x = 5 + (i % 3) * 165, y = 5 + (i / 3) * 140;
      cv::Mat roi = canvas(cv::Rect(x, y, kPreviewW, kPreviewH));
      cv::resize(images[static_cast<size_t>(i)], roi, roi.size(), 0, 0, cv::INTER_LINEAR);
      cv::rectangle(canvas, cv::Rect(x, y + kPreviewH, kPreviewW, 15), cv::Scalar(50, 50, 50), cv::FILLED);
    }
  };
  // OpenCV spreads a resize over its thread pool; the list paints on the one
  // user-interface thread, so the single-threaded run is the like-for-like one.
  const int threads = cv::getNumThreads();
  const double opencvPool = MedianMillis(opencvPaint, reps);
  cv::setNumThreads(1);
  const double opencvOne = MedianMillis(opencvPaint, reps);
  cv::setNumThreads(threads);

  std::printf("image list paint, %d slots %dx%d at %dx%d: ours %.3f ms\n", kSlots, kImageW, kImageH, kPreviewW,
              kPreviewH, ours);
  std::printf("  OpenCV, one thread:        %.3f ms, ratio ours / OpenCV %.2f\n", opencvOne, ours / opencvOne);
  std::printf("  OpenCV, %2d-thread pool:    %.3f ms, ratio ours / OpenCV %.2f\n", threads, opencvPool,
              ours / opencvPool);
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
