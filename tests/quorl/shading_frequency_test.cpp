// The multidimensional FFT, centred spectra and the frequency-domain surface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cvcompat/errstatus.h>
#include <numeric>
#include <random>
#include <vector>

#include "shading_frequency.h"

namespace {

using Complex = std::complex<double>;

std::vector<float> RandomFloats(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v) x = u(rng);
    return v;
}

// The unscaled DFT over every dimension, the last varying fastest, with the
// kernel exp(sign 2 pi i j k / n).
std::vector<Complex> NaiveDft(const std::vector<Complex>& in, const std::vector<int>& dims, int sign) {
    const size_t n = in.size();
    std::vector<Complex> out(n);
    std::vector<int> a(dims.size()), b(dims.size());
    auto unravel = [&](size_t t, std::vector<int>& idx) {
        for (int d = static_cast<int>(dims.size()) - 1; d >= 0; --d) {
            idx[d] = static_cast<int>(t % dims[d]);
            t /= dims[d];
        }
    };
    for (size_t k = 0; k < n; ++k) {
        unravel(k, a);
        Complex sum = 0.0;
        for (size_t j = 0; j < n; ++j) {
            unravel(j, b);
            double phase = 0.0;
            for (size_t d = 0; d < dims.size(); ++d) phase += static_cast<double>(a[d]) * b[d] / dims[d];
            sum += in[j] * std::polar(1.0, sign * 2.0 * M_PI * phase);
        }
        out[k] = sum;
    }
    return out;
}

// Complex values to the 1-based interleaved layout and back.
std::vector<float> OneBased(const std::vector<Complex>& v) {
    std::vector<float> data(2 * v.size() + 1, 0.0f);
    for (size_t t = 0; t < v.size(); ++t) {
        data[2 * t + 1] = static_cast<float>(v[t].real());
        data[2 * t + 2] = static_cast<float>(v[t].imag());
    }
    return data;
}

std::vector<Complex> FromOneBased(const std::vector<float>& data) {
    std::vector<Complex> v((data.size() - 1) / 2);
    for (size_t t = 0; t < v.size(); ++t) v[t] = Complex(data[2 * t + 1], data[2 * t + 2]);
    return v;
}

double MaxDifference(const std::vector<Complex>& a, const std::vector<Complex>& b) {
    double d = 0.0;
    for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

struct FftCase {
    std::vector<int> dims;
    int sign;
};

class FourierTransformNDTest : public testing::TestWithParam<FftCase> {};

TEST_P(FourierTransformNDTest, MatchesTheNaiveTransform) {
    const FftCase& c = GetParam();
    const size_t n = std::accumulate(c.dims.begin(), c.dims.end(), size_t{1}, std::multiplies<>());
    const std::vector<float> values = RandomFloats(2 * n, 11);
    std::vector<Complex> input(n);
    for (size_t t = 0; t < n; ++t) input[t] = Complex(values[2 * t], values[2 * t + 1]);
    std::vector<float> data = OneBased(input);
    std::vector<int> dims(c.dims.size() + 1, 0);
    std::copy(c.dims.begin(), c.dims.end(), dims.begin() + 1);
    CV::FourierTransformND(data.data(), dims.data(), static_cast<int>(c.dims.size()), c.sign);
    EXPECT_LT(MaxDifference(FromOneBased(data), NaiveDft(input, c.dims, c.sign)), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FourierTransformNDTest,
                         testing::Values(FftCase{{8}, 1}, FftCase{{8}, -1}, FftCase{{4, 8}, 1}, FftCase{{4, 8}, -1},
                                         FftCase{{2, 2, 4}, 1}, FftCase{{2, 2, 4}, -1}));

TEST(FourierTransformND, ForwardThenBackwardScalesByN) {
    const std::vector<float> original = RandomFloats(2 * 32 + 1, 3);
    std::vector<float> data = original;
    int dims[3] = {0, 4, 8};
    CV::FourierTransformND(data.data(), dims, 2, 1);
    CV::FourierTransformND(data.data(), dims, 2, -1);
    for (size_t i = 1; i < data.size(); ++i) EXPECT_NEAR(data[i], 32.0f * original[i], 1e-4) << i;
}

TEST(FourierTransformND, SinglePointIsUnchanged) {
    std::vector<float> data = {9.0f, 1.25f, -3.5f};
    int dims[3] = {0, 1, 1};
    CV::FourierTransformND(data.data(), dims, 2, 1);
    EXPECT_THAT(data, testing::ElementsAre(9.0f, 1.25f, -3.5f));
}

TEST(FourierTransformND, RefusesSizesThatAreNotPowersOfTwo) {
    const std::vector<float> original = RandomFloats(2 * 24 + 1, 5);
    for (auto [dims, ndim] : {std::pair{std::vector<int>{0, 4, 6}, 2}, std::pair{std::vector<int>{0, 0, 8}, 2},
                              std::pair{std::vector<int>{0, 8}, 0}}) {
        std::vector<float> data = original;
        cvcompat::ClearErrStatus();
        CV::FourierTransformND(data.data(), dims.data(), ndim, 1);
        EXPECT_EQ(data, original);
        EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    }
}

TEST(SpectrumCentred, ConstantImageHasAllEnergyAtTheCentre) {
    for (auto [w, h] : {std::pair{8, 8}, std::pair{4, 8}}) {
        std::vector<float> image(w * h, 3.0f), re(w * h, 7.0f), im(w * h, 7.0f);
        CV::ForwardSpectrumCentred(image.data(), w, h, re.data(), im.data());
        // Column w/2 and row h/2 at position x x height + y; sum / width.
        const size_t centre = static_cast<size_t>(w / 2) * h + h / 2;
        for (size_t t = 0; t < re.size(); ++t) {
            EXPECT_NEAR(re[t], t == centre ? 3.0f * h : 0.0f, 1e-4) << w << "x" << h << " at " << t;
            EXPECT_NEAR(im[t], 0.0f, 1e-4);
        }
    }
}

TEST(SpectrumCentred, ForwardThenInverseReturnsTheImage) {
    const int n = 8;
    const std::vector<float> image = RandomFloats(n * n, 9);
    std::vector<float> re(n * n), im(n * n), back(n * n);
    CV::ForwardSpectrumCentred(image.data(), n, n, re.data(), im.data());
    CV::InverseSpectrumCentred(back.data(), n, n, re.data(), im.data());
    for (int i = 0; i < n * n; ++i) EXPECT_NEAR(back[i], image[i], 1e-5) << i;
}

TEST(SpectrumCentred, InverseRefusesRectangles) {
    std::vector<float> re(16 * 8, 1.0f), im(16 * 8, 0.0f), image(16 * 8, -2.0f);
    cvcompat::ClearErrStatus();
    CV::InverseSpectrumCentred(image.data(), 16, 8, re.data(), im.data());
    EXPECT_THAT(image, testing::Each(-2.0f));
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
}

TEST(FrequencyAxis, CentredValues) {
    float* axis = CV::FrequencyAxis(8, 1.0f);
    ASSERT_NE(axis, nullptr);
    EXPECT_THAT(std::vector<float>(axis, axis + 8),
                testing::ElementsAre(-0.5f, -0.375f, -0.25f, -0.125f, 0.0f, 0.125f, 0.25f, 0.375f));
    delete[] axis;
    axis = CV::FrequencyAxis(4, 2.0f);
    EXPECT_THAT(std::vector<float>(axis, axis + 4), testing::ElementsAre(-0.25f, -0.125f, 0.0f, 0.125f));
    delete[] axis;
    axis = CV::FrequencyAxis(5, 1.0f);
    EXPECT_EQ(axis[4], 0.0f);
    delete[] axis;
    EXPECT_EQ(CV::FrequencyAxis(0, 1.0f), nullptr);
}

TEST(Magnitude, ElementwiseLength) {
    const float a[4] = {3, 0, -5, 1}, b[4] = {4, 2, 12, 0};
    float out[4];
    CV::Magnitude(out, 2, 2, a, b);
    EXPECT_THAT(out, testing::ElementsAre(5.0f, 2.0f, 13.0f, 1.0f));
}

// Steps 1-7 of the frequency-domain surface, evaluated directly with naive
// DFTs in double precision and the same division by i D.
std::vector<double> DirectSurface(const std::vector<unsigned char>& image, int n, const float* light) {
    const double pi2 = 6.2831855;
    std::vector<Complex> spectrum(n * n);
    for (int kx = 0; kx < n; ++kx)
        for (int ky = 0; ky < n; ++ky) {
            Complex sum = 0.0;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    sum += (((x + y) % 2) ? -1.0 : 1.0) * image[y * n + x] *
                           std::polar(1.0, 2.0 * M_PI * (static_cast<double>(kx) * x + ky * y) / n);
            spectrum[kx * n + ky] = sum / static_cast<double>(n);
        }
    auto band = [&] {
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                if (r < 2 || r > n - 2 || c < 2 || c > n - 2) spectrum[r * n + c] = 0.0;
    };
    band();
    std::vector<double> f(n);
    for (int i = 0; i < n / 2; ++i) f[i] = static_cast<double>(i) / n - 0.5, f[n / 2 + i] = static_cast<double>(i) / n;
    f[n / 2] = f[n / 2 - 1] / 2.0;
    const double len = std::sqrt(double(light[0]) * light[0] + double(light[1]) * light[1] + double(light[2]) * light[2]);
    const double g = 1.0 / len, a = g * light[0] + 0.0001;
    const double tilt = std::atan2(g * light[1], a + 0.0001), hs = std::sin(std::acos(g * light[2]));
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            double u = f[c];
            const double v = f[r], w = std::hypot(u, v);
            if (u == 0.0) u = 0.001;
            double phi = std::atan2(v, u);
            if (phi < 0) phi += pi2;
            const double sgn = std::cos(tilt - phi) >= 0 ? 0.65 : -0.65;
            const double d = (g * light[1] * v + u * a + sgn) * w * hs * pi2;
            spectrum[r * n + c] = std::fabs(d) < 1e-6 ? Complex(0.0) : spectrum[r * n + c] / Complex(0.0, d);
        }
    band();
    std::vector<double> heights(n * n);
    for (int mx = 0; mx < n; ++mx)
        for (int my = 0; my < n; ++my) {
            Complex sum = 0.0;
            for (int kx = 0; kx < n; ++kx)
                for (int ky = 0; ky < n; ++ky)
                    sum += spectrum[kx * n + ky] *
                           std::polar(1.0, -2.0 * M_PI * (static_cast<double>(kx) * mx + ky * my) / n);
            heights[my * n + mx] = (((mx + my) % 2) ? -1.0 : 1.0) * sum.real() / n;
        }
    return heights;
}

std::vector<unsigned char> ShadedImage(int n) {
    std::vector<unsigned char> image(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            image[y * n + x] = static_cast<unsigned char>(128 + 90 * std::sin(0.9 * x + 0.3) * std::cos(0.6 * y - 0.2));
    return image;
}

TEST(SurfaceFromShadingSpectrum, MatchesADirectEvaluation) {
    const int n = 8;
    std::vector<unsigned char> image = ShadedImage(n);
    const std::vector<unsigned char> original = image;
    for (const std::array<float, 3>& light : {std::array<float, 3>{0.3f, 0.4f, 0.87f}, std::array<float, 3>{-0.6f, 0.2f, 0.5f}}) {
        std::vector<float> heights(n * n, -9.0f);
        CV::SurfaceFromShadingSpectrum(image.data(), n, n, light.data(), heights.data());
        const std::vector<double> expected = DirectSurface(original, n, light.data());
        double scale = 0.0;
        for (double v : expected) scale = std::max(scale, std::fabs(v));
        ASSERT_GT(scale, 0.1);
        for (int i = 0; i < n * n; ++i) EXPECT_NEAR(heights[i], expected[i], 1e-4 * scale) << i;
        EXPECT_EQ(image, original);
    }
}

TEST(SurfaceFromShadingSpectrum, EveryLightGivesFiniteHeights) {
    const int n = 16;
    const std::vector<unsigned char> image = ShadedImage(n);
    for (const std::array<float, 3>& light :
         {std::array<float, 3>{0, 0, 0}, std::array<float, 3>{0, 0, 1}, std::array<float, 3>{0, 0, 3},
          std::array<float, 3>{1, 0, 0}, std::array<float, 3>{0, 1, 0}, std::array<float, 3>{-1, -1, 0.1f},
          std::array<float, 3>{0, -0.0001f, 1}, std::array<float, 3>{1e-30f, 0, 0}}) {
        std::vector<unsigned char> input = image;
        std::vector<float> heights(n * n, -9.0f);
        CV::SurfaceFromShadingSpectrum(input.data(), n, n, light.data(), heights.data());
        for (float h : heights) ASSERT_TRUE(std::isfinite(h)) << light[0] << "," << light[1] << "," << light[2];
    }
}

TEST(SurfaceFromShadingSpectrum, OverheadOrZeroLightGivesZeros) {
    const int n = 8;
    std::vector<unsigned char> image = ShadedImage(n);
    for (const std::array<float, 3>& light : {std::array<float, 3>{0, 0, 2}, std::array<float, 3>{0, 0, 0}}) {
        std::vector<float> heights(n * n, -9.0f);
        CV::SurfaceFromShadingSpectrum(image.data(), n, n, light.data(), heights.data());
        EXPECT_THAT(heights, testing::Each(0.0f));
    }
}

TEST(SurfaceFromShadingSpectrum, RefusesRectangles) {
    std::vector<unsigned char> image(8 * 16, 100);
    std::vector<float> heights(8 * 16, -9.0f);
    const float light[3] = {0.3f, 0.4f, 0.87f};
    cvcompat::ClearErrStatus();
    CV::SurfaceFromShadingSpectrum(image.data(), 8, 16, light, heights.data());
    EXPECT_THAT(heights, testing::Each(-9.0f));
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
}

}  // namespace
