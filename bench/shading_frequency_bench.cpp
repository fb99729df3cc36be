// The shading code's radix-2 FFT against cv::dft on the same values, one
// thread each: FourierTransformND on n x n complex arrays (sign +1 is
// cv::dft's DFT_INVERSE without scaling) and ForwardSpectrumCentred against
// the sign flip plus cv::dft. Prints median times, ours / OpenCV, and the
// largest difference relative to the largest magnitude; then times
// SurfaceFromShadingSpectrum at 256 x 256. Run by hand on an idle machine.
#include <opencv2/core.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "shading_frequency.h"

namespace {

double MedianMicros(const std::function<void()>& fn, int reps) {
    for (int i = 0; i < 2; ++i) fn();
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        const auto a = std::chrono::steady_clock::now();
        fn();
        const auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::micro>(b - a).count());
    }
    std::nth_element(t.begin(), t.begin() + reps / 2, t.end());
    return t[reps / 2];
}

int Reps(int n) { return n <= 64 ? 400 : n <= 256 ? 40 : 12; }

void CompareTransform(int n, std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    cv::Mat values(n, n, CV_32FC2);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) values.at<cv::Vec2f>(i, j) = cv::Vec2f(u(rng), u(rng));
    // 1-based: place 0 unused; element (i, j) at i x n + j as in the Mat.
    std::vector<float> original(2 * static_cast<size_t>(n) * n + 1, 0.0f);
    std::copy(values.ptr<float>(), values.ptr<float>() + 2 * n * n, original.begin() + 1);
    std::vector<float> data;
    int dims[3] = {0, n, n};
    const double ours = MedianMicros(
        [&] {
            data = original;
            CV::FourierTransformND(data.data(), dims, 2, 1);
        },
        Reps(n));
    cv::Mat result;
    const double theirs = MedianMicros([&] { cv::dft(values, result, cv::DFT_INVERSE); }, Reps(n));

    double largest = 0.0, difference = 0.0;
    const float* r = result.ptr<float>();
    for (size_t t = 0; t < 2 * static_cast<size_t>(n) * n; t += 2) {
        largest = std::max(largest, std::hypot(double(r[t]), double(r[t + 1])));
        difference = std::max(difference, std::hypot(double(r[t]) - data[t + 1], double(r[t + 1]) - data[t + 2]));
    }
    std::printf("FourierTransformND %4d x %-4d  ours %9.1f us  cv::dft %9.1f us  ratio %5.2f  (target <= 2)  "
                "max diff / max |X| %.2e\n",
                n, n, ours, theirs, ours / theirs, difference / largest);
}

void CompareCentred(int n, std::mt19937& rng) {
    std::uniform_real_distribution<float> u(0.0f, 255.0f);
    cv::Mat image(n, n, CV_32F);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) image.at<float>(y, x) = u(rng);
    std::vector<float> re(static_cast<size_t>(n) * n), im(re.size());
    const double ours = MedianMicros(
        [&] { CV::ForwardSpectrumCentred(image.ptr<float>(), n, n, re.data(), im.data()); }, Reps(n));
    cv::Mat sign(n, n, CV_32F), flipped, spectrum;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) sign.at<float>(y, x) = ((x + y) & 1) ? -1.0f : 1.0f;
    const double theirs = MedianMicros(
        [&] {
            cv::multiply(image, sign, flipped);
            // A real input: OpenCV's forward transform, whose conjugate is the
            // +1 kernel's (an inverse flag would read the input as a packed
            // spectrum).
            cv::dft(flipped, spectrum, cv::DFT_COMPLEX_OUTPUT);
            spectrum *= 1.0 / n;
        },
        Reps(n));
    // Ours holds column frequency kx and row frequency ky at kx x n + ky.
    double largest = 0.0, difference = 0.0;
    for (int ky = 0; ky < n; ++ky)
        for (int kx = 0; kx < n; ++kx) {
            const cv::Vec2f v = spectrum.at<cv::Vec2f>(ky, kx);
            const size_t t = static_cast<size_t>(kx) * n + ky;
            largest = std::max(largest, std::hypot(double(v[0]), double(v[1])));
            difference = std::max(difference, std::hypot(double(v[0]) - re[t], -double(v[1]) - im[t]));
        }
    // The same values as a complex array, as our transform sees them.
    cv::Mat complexFlipped;
    const double complexInput = MedianMicros(
        [&] {
            cv::multiply(image, sign, flipped);
            cv::Mat planes[2] = {flipped, cv::Mat::zeros(n, n, CV_32F)};
            cv::merge(planes, 2, complexFlipped);
            cv::dft(complexFlipped, spectrum, cv::DFT_INVERSE);
            spectrum *= 1.0 / n;
        },
        Reps(n));
    std::printf("ForwardSpectrumCentred %4d x %-4d  ours %9.1f us  flip+cv::dft real %9.1f us (ratio %5.2f), "
                "complex %9.1f us (ratio %5.2f)  (target <= 2.5)  max diff / max |X| %.2e\n",
                n, n, ours, theirs, ours / theirs, complexInput, ours / complexInput, difference / largest);
}

}  // namespace

int main() {
    cv::setNumThreads(1);
    std::mt19937 rng(2024);
    for (int n : {64, 256, 512}) CompareTransform(n, rng);
    for (int n : {64, 256, 512}) CompareCentred(n, rng);

    const int n = 256;
    std::vector<unsigned char> image(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            image[y * n + x] = static_cast<unsigned char>(128 + 100 * std::sin(0.05 * x) * std::cos(0.07 * y));
    std::vector<float> heights(image.size());
    const float light[3] = {0.3f, 0.4f, 0.87f};
    const double t = MedianMicros([&] { CV::SurfaceFromShadingSpectrum(image.data(), n, n, light, heights.data()); }, 20);
    std::printf("SurfaceFromShadingSpectrum 256 x 256  %.1f us\n", t);
    return 0;
}
