// Dense stereo on a synthetic rectified 640 x 480 pair of known disparity:
// our winner-takes-all against cv::StereoBM and our scan-line dynamic
// programming against cv::StereoSGBM, same disparity range and window.
// Prints the time per pair, ours / OpenCV (above 1: ours is slower; OpenCV
// on one thread; both in thread CPU time) and the fraction of evaluable
// pixels within 1 of the truth.
// Run from a build without sanitizers.
#include <opencv2/core/core_c.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "CV/disparity_space_volume.h"
#include "CV/scanline_dp_stereo.h"

namespace {

constexpr int kW = 640, kH = 480;
constexpr int kBackground = 8, kRectangle = 24;
const cv::Rect kRect(200, 140, 240, 180);  // in the left view

// Thread CPU time: on a shared machine the single-thread comparisons should
// not count the time other processes hold the core.
std::chrono::nanoseconds ThreadCpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Median milliseconds per call over at least 5 calls and about 1 s, of
// thread CPU time (cpu) or of wall time (OpenCV's own threads).
double TimeMs(const std::function<void()>& f, bool cpu = true) {
    f();  // warm caches and lazy initialisation
    auto now = [cpu] { return cpu ? ThreadCpuNow() : std::chrono::steady_clock::now().time_since_epoch(); };
    std::vector<double> samples;
    const auto start = std::chrono::steady_clock::now();
    while (samples.size() < 5 ||
           (samples.size() < 100 && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))) {
        const auto t0 = now();
        f();
        samples.push_back(std::chrono::duration<double, std::milli>(now() - t0).count());
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// Smoothed random colour texture: every 11 x 11 window has contrast, and
// neighbouring pixels correlate as in a real image.
cv::Mat Texture(int w, int h, std::mt19937& rng) {
    cv::Mat noise(h, w, CV_8UC3);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x) noise.ptr<unsigned char>(y)[x] = static_cast<unsigned char>(byte(rng));
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(5, 5), 1.0);
    cv::normalize(smooth, smooth, 0, 255, cv::NORM_MINMAX);
    return smooth;
}

struct Scene {
    cv::Mat left, right;  // colour, B, G, R
    cv::Mat leftGrey, rightGrey;
    cv::Mat truth;      // disparity of each left pixel, CV_8U
    cv::Mat evaluable;  // CV_8U mask
};

// Left pixel x with disparity d is seen at right column x - d.
Scene MakeScene() {
    std::mt19937 rng(2024);
    const cv::Mat background = Texture(kW + kBackground, kH, rng);
    const cv::Mat rectangle = Texture(kW, kH, rng);
    Scene s;
    s.left.create(kH, kW, CV_8UC3);
    s.right.create(kH, kW, CV_8UC3);
    s.truth.create(kH, kW, CV_8U);
    s.evaluable = cv::Mat::zeros(kH, kW, CV_8U);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool inRect = kRect.contains(cv::Point(x, y));
            s.left.at<cv::Vec3b>(y, x) = inRect ? rectangle.at<cv::Vec3b>(y, x) : background.at<cv::Vec3b>(y, x);
            s.truth.at<unsigned char>(y, x) = inRect ? kRectangle : kBackground;
            // Right view: the rectangle in front, shifted further.
            const bool rectSeen = kRect.contains(cv::Point(x + kRectangle, y));
            s.right.at<cv::Vec3b>(y, x) =
                rectSeen ? rectangle.at<cv::Vec3b>(y, x + kRectangle) : background.at<cv::Vec3b>(y, x + kBackground);
            // Background pixels the rectangle hides in the right view.
            const bool occluded = !inRect && kRect.contains(cv::Point(x - kBackground + kRectangle, y));
            const bool inside = x >= 70 && x <= kW - 7 && y >= 6 && y <= kH - 7;
            if (inside && !occluded) s.evaluable.at<unsigned char>(y, x) = 1;
        }
    cv::cvtColor(s.left, s.leftGrey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(s.right, s.rightGrey, cv::COLOR_BGR2GRAY);
    return s;
}

// Fraction of evaluable pixels whose disparity (negative: invalid) is within
// 1 of the truth.
double CorrectFraction(const Scene& s, const std::function<double(int, int)>& disparity) {
    long good = 0, all = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (!s.evaluable.at<unsigned char>(y, x)) continue;
            ++all;
            const double d = disparity(x, y);
            if (d >= 0 && std::fabs(d - s.truth.at<unsigned char>(y, x)) <= 1) ++good;
        }
    return static_cast<double>(good) / all;
}

double ValidFraction(const Scene& s, const cv::Mat& fixed) {
    long valid = 0, all = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (!s.evaluable.at<unsigned char>(y, x)) continue;
            ++all;
            if (fixed.at<short>(y, x) >= 0) ++valid;
        }
    return static_cast<double>(valid) / all;
}

void Report(const char* ours, double oursMs, double oursCorrect, const char* theirs, double theirsMs,
            double theirsDefaultMs, double theirsCorrect, double theirsValid, double timeTarget, double fractionSlack) {
    const double ratio = oursMs / theirsMs;
    std::printf("%s against %s\n", ours, theirs);
    std::printf("  ours   %8.2f ms (thread CPU time)  correct %.4f\n", oursMs, oursCorrect);
    std::printf(
        "  OpenCV %8.2f ms (one thread, CPU time), %8.2f ms (default threads, wall)  correct %.4f  valid %.4f\n",
        theirsMs, theirsDefaultMs, theirsCorrect, theirsValid);
    std::printf("  ratio  %5.2f (target <= %.1f: %s)  correct fraction %s (target >= OpenCV's - %.2f)\n", ratio,
                timeTarget, ratio <= timeTarget ? "met" : "MISSED",
                oursCorrect >= theirsCorrect - fractionSlack ? "met" : "MISSED", fractionSlack);
}

}  // namespace

int main() {
    const Scene s = MakeScene();
    const int defaultThreads = cv::getNumThreads();

    // Winner-takes-all: image-0 column x meets image-1 column x + d, so the
    // left view as image 0 needs d = -63 .. 0; index k = d + 63.
    {
        const int dMin = -63, dMax = 0, D = dMax - dMin + 1;
        IplImage left = cvIplImage(s.left), right = cvIplImage(s.right);
        IplImage* pair[2] = {&left, &right};
        std::vector<unsigned char> out(static_cast<size_t>(left.widthStep) * kH, 0);
        const double oursMs = TimeMs([&] { CV::Stereo_WTA_SSD(pair, kW, kH, dMin, dMax, out.data()); });
        // k * 255 / D is one-to-one for D <= 255.
        std::vector<int> indexOfGrey(256, -1);
        for (int k = 0; k < D; ++k) indexOfGrey[k * 255 / D] = k;
        const double oursCorrect = CorrectFraction(s, [&](int x, int y) {
            const int k = indexOfGrey[out[static_cast<size_t>(y) * left.widthStep + 3 * x]];
            return k < 0 ? -1.0 : -(dMin + k);
        });

        cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(64, 11);
        cv::Mat fixed;
        cv::setNumThreads(defaultThreads);
        const double bmDefaultMs = TimeMs([&] { bm->compute(s.leftGrey, s.rightGrey, fixed); }, false);
        cv::setNumThreads(1);
        const double bmMs = TimeMs([&] { bm->compute(s.leftGrey, s.rightGrey, fixed); });
        const double bmCorrect = CorrectFraction(s, [&](int x, int y) {
            const short v = fixed.at<short>(y, x);
            return v < 0 ? -1.0 : v / 16.0;
        });
        Report("Stereo_WTA_SSD (colour)", oursMs, oursCorrect, "StereoBM(64, 11) (grey)", bmMs, bmDefaultMs, bmCorrect,
               ValidFraction(s, fixed), 4.0, 0.02);
    }

    // Dynamic programming against semi-global matching with one-pixel blocks.
    {
        cv::Mat leftGrey = s.leftGrey.clone(), rightGrey = s.rightGrey.clone();
        cv::Mat map(kH, kW, CV_8U, cv::Scalar(0));
        const double oursMs = TimeMs([&] {
            CV::BirchfieldDynamicProgramming(leftGrey.data, rightGrey.data, map.data, cvSize(kW, kH),
                                             static_cast<int>(leftGrey.step), 63, 25, 5, 12, 15, 25);
        });
        const double oursCorrect = CorrectFraction(s, [&](int x, int y) { return map.at<unsigned char>(y, x); });

        cv::Ptr<cv::StereoSGBM> sgbm = cv::StereoSGBM::create(0, 64, 1, 8, 32);
        cv::Mat fixed;
        cv::setNumThreads(defaultThreads);
        const double sgbmDefaultMs = TimeMs([&] { sgbm->compute(s.leftGrey, s.rightGrey, fixed); }, false);
        cv::setNumThreads(1);
        const double sgbmMs = TimeMs([&] { sgbm->compute(s.leftGrey, s.rightGrey, fixed); });
        const double sgbmCorrect = CorrectFraction(s, [&](int x, int y) {
            const short v = fixed.at<short>(y, x);
            return v < 0 ? -1.0 : v / 16.0;
        });
        Report("BirchfieldDynamicProgramming (grey)", oursMs, oursCorrect, "StereoSGBM(0, 64, 1, 8, 32) (grey)", sgbmMs,
               sgbmDefaultMs, sgbmCorrect, ValidFraction(s, fixed), 1.0, 0.05);
    }
    return 0;
}
