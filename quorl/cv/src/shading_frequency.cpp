#include "shading_frequency.h"

#include <cvcompat/errstatus.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

namespace CV {
namespace {

constexpr const char* kSource = "shading_frequency.cpp";
constexpr float kTwoPi = 6.2831855f;

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool PowerOfTwo(int n) { return n >= 1 && (n & (n - 1)) == 0; }

// Power-of-two sizes whose complex buffer (2 x width x height floats plus the
// unused place 0) fits an int index.
bool CheckSpectrumSize(int width, int height, bool square, const char* function) {
    if (!PowerOfTwo(width) || !PowerOfTwo(height))
        return Refuse(CV_StsBadSize, function, "Sizes must be powers of two", __LINE__), false;
    if (static_cast<long long>(width) * height > INT_MAX / 2 - 1)
        return Refuse(CV_StsBadSize, function, "Image too large", __LINE__), false;
    // Rows and columns trade places between the image and the spectrum: only
    // a square image reads back where it was written.
    if (square && width != height) return Refuse(CV_StsBadSize, function, "Image must be square", __LINE__), false;
    return true;
}

float CentringSign(int a, int b) { return ((a + b) & 1) ? -1.0f : 1.0f; }

}  // namespace

void FourierTransformND(float* data, int* dims, int ndim, int sign) {
    const char* function = "FourierTransformND";
    if (!data || !dims) return Refuse(CV_StsBadArg, function, "Null data or dimensions", __LINE__);
    if (sign != 1 && sign != -1) return Refuse(CV_StsBadArg, function, "Sign must be +1 or -1", __LINE__);
    if (ndim < 1) return Refuse(CV_StsBadSize, function, "At least one dimension is needed", __LINE__);
    long long total = 1;
    for (int d = 1; d <= ndim; ++d) {
        if (!PowerOfTwo(dims[d]))
            return Refuse(CV_StsBadSize, function, "Every dimension must be a power of two", __LINE__);
        total *= dims[d];
        if (total > INT_MAX / 2 - 1) return Refuse(CV_StsBadSize, function, "Too many elements", __LINE__);
    }
    const int ntot = static_cast<int>(total);
    // Every swap of the bit reversal and every butterfly of a stage touches
    // its own pair, so their order is free: the loops below run over
    // contiguous memory innermost (the pairs of one dimension and the
    // twiddle factors of one stage are listed first), which keeps large
    // arrays in cache. The values are those of the textbook loop order.
    std::vector<std::pair<int, int>> reversal;
    std::vector<std::pair<float, float>> twiddles;
    int nprev = 1;
    for (int d = ndim; d >= 1; --d) {
        const int n = dims[d];
        const int nrem = ntot / (n * nprev);
        const int ip1 = nprev << 1;
        const int ip2 = ip1 * n;
        const int ip3 = ip2 * nrem;

        reversal.clear();
        int i2rev = 1;
        for (int i2 = 1; i2 <= ip2; i2 += ip1) {
            if (i2 < i2rev) reversal.emplace_back(i2, i2rev);
            int ibit = ip2 >> 1;
            while (ibit >= ip1 && i2rev > ibit) {
                i2rev -= ibit;
                ibit >>= 1;
            }
            i2rev += ibit;
        }
        for (int block = 0; block < ip3; block += ip2)
            for (const auto& [i2, partner] : reversal)
                for (int off = 0; off <= ip1 - 2; off += 2) {
                    const int a = block + i2 + off, b = block + partner + off;
                    std::swap(data[a], data[b]);
                    std::swap(data[a + 1], data[b + 1]);
                }

        for (int ifp1 = ip1; ifp1 < ip2; ifp1 <<= 1) {
            const int ifp2 = ifp1 << 1;
            // The twiddle factor advances by recurrence (two sines per
            // stage), carried in double so that its error does not grow
            // along the stage.
            const double theta = sign * static_cast<double>(kTwoPi) / (ifp2 / ip1);
            const double half = std::sin(0.5 * theta);
            const double wpr = -2.0 * half * half;
            const double wpi = std::sin(theta);
            double wr = 1.0, wi = 0.0;
            twiddles.clear();
            for (int i3 = 1; i3 <= ifp1; i3 += ip1) {
                twiddles.emplace_back(static_cast<float>(wr), static_cast<float>(wi));
                const double previous = wr;
                wr = wr * wpr - wi * wpi + wr;
                wi = wi * wpr + previous * wpi + wi;
            }
            for (int block = 1; block <= ip3; block += ifp2) {
                float* k1 = data + block;
                for (const auto& [fr, fi] : twiddles) {
                    for (int off = 0; off <= ip1 - 2; off += 2) {
                        float* a = k1 + off;
                        float* b = a + ifp1;
                        const float tr = fr * b[0] - fi * b[1];
                        const float ti = fr * b[1] + fi * b[0];
                        b[0] = a[0] - tr;
                        b[1] = a[1] - ti;
                        a[0] += tr;
                        a[1] += ti;
                    }
                    k1 += ip1;
                }
            }
        }
        nprev *= n;
    }
}

void ForwardSpectrumCentred(const float* image, int width, int height, float* re, float* im) {
    const char* function = "ForwardSpectrumCentred";
    if (!image || !re || !im) return Refuse(CV_StsBadArg, function, "Null argument", __LINE__);
    if (!CheckSpectrumSize(width, height, false, function)) return;
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<float> buffer(2 * n + 1, 0.0f);
    // Written in buffer order (column by column of the image).
    for (int x = 0; x < width; ++x) {
        float* column = buffer.data() + 2 * static_cast<size_t>(x) * height + 1;
        for (int y = 0; y < height; ++y) column[2 * y] = CentringSign(x, y) * image[static_cast<size_t>(y) * width + x];
    }
    int dims[3] = {0, width, height};
    FourierTransformND(buffer.data(), dims, 2, 1);
    for (size_t t = 0; t < n; ++t) {
        re[t] = buffer[2 * t + 1] / width;
        im[t] = buffer[2 * t + 2] / width;
    }
}

void InverseSpectrumCentred(float* image, int width, int height, const float* re, const float* im) {
    const char* function = "InverseSpectrumCentred";
    if (!image || !re || !im) return Refuse(CV_StsBadArg, function, "Null argument", __LINE__);
    if (!CheckSpectrumSize(width, height, true, function)) return;
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<float> buffer(2 * n + 1, 0.0f);
    for (size_t t = 0; t < n; ++t) {
        buffer[2 * t + 1] = re[t];
        buffer[2 * t + 2] = im[t];
    }
    int dims[3] = {0, width, height};
    FourierTransformND(buffer.data(), dims, 2, -1);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            const float v = CentringSign(i, j) * buffer[2 * (static_cast<size_t>(i) * width + j) + 1];
            image[static_cast<size_t>(j) * width + i] = v / width;
        }
}

float* FrequencyAxis(int n, float spacing) {
    if (n < 1 || !std::isfinite(spacing) || spacing == 0.0f)
        return Refuse(CV_StsBadArg, "FrequencyAxis", "Need n >= 1 and a finite, non-zero spacing", __LINE__), nullptr;
    auto* value = new float[n]();
    const float span = n * spacing;
    for (int i = 0; i < n / 2; ++i) {
        value[i] = i / span - 0.5f / spacing;
        value[n / 2 + i] = i / span;
    }
    return value;
}

void Magnitude(float* out, int width, int height, const float* a, const float* b) {
    if (!out || !a || !b) return Refuse(CV_StsBadArg, "Magnitude", "Null argument", __LINE__);
    if (width < 1 || height < 1) return;
    const size_t n = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < n; ++i) out[i] = std::sqrt(a[i] * a[i] + b[i] * b[i]);
}

void SurfaceFromShadingSpectrum(unsigned char* image, int width, int height, const float* light, float* heights) {
    const char* function = "SurfaceFromShadingSpectrum";
    if (!image || !light || !heights) return Refuse(CV_StsBadArg, function, "Null argument", __LINE__);
    if (!CheckSpectrumSize(width, height, true, function)) return;
    // The zero frequency is replaced by half its neighbour below.
    if (width < 2) return Refuse(CV_StsBadSize, function, "Image must be at least 2 x 2", __LINE__);
    if (!std::isfinite(light[0]) || !std::isfinite(light[1]) || !std::isfinite(light[2]))
        return Refuse(CV_StsBadArg, function, "Light must be finite", __LINE__);
    const size_t n = static_cast<size_t>(width) * height;
    const float length = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    if (length == 0.0f) {
        std::fill(heights, heights + n, 0.0f);
        return;
    }

    std::vector<float> pixels(image, image + n);
    std::vector<float> re(n), im(n);
    ForwardSpectrumCentred(pixels.data(), width, height, re.data(), im.data());
    auto clearBand = [&] {
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                if (r < 2 || r > height - 2 || c < 2 || c > width - 2) re[r * width + c] = im[r * width + c] = 0.0f;
    };
    clearBand();

    std::vector<float> fx(width), fy(height);
    for (auto [axis, size] : {std::pair{&fx, width}, std::pair{&fy, height}}) {
        float* values = FrequencyAxis(size, 1.0f);
        std::copy(values, values + size, axis->begin());
        delete[] values;
        (*axis)[size / 2] = (*axis)[size / 2 - 1] / 2.0f;
    }

    const float g = 1.0f / length;
    const float a = g * light[0] + 0.0001f;
    const float tilt = std::atan2(g * light[1], a + 0.0001f);
    // g z may round just past 1.
    const float slant = std::acos(std::clamp(g * light[2], -1.0f, 1.0f));
    const float hs = std::sin(slant);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            float u = fx[c];
            const float v = fy[r];
            const float w = std::sqrt(u * u + v * v);
            if (u == 0.0f) u = 0.001f;
            float phi = std::atan2(v, u);
            if (phi < 0.0f) phi += kTwoPi;
            const float sgn = std::cos(tilt - phi) >= 0.0f ? 0.65f : -0.65f;
            const float d = (g * light[1] * v + u * a + sgn) * w * hs * kTwoPi;
            const size_t t = static_cast<size_t>(r) * width + c;
            // Division by i D; where the model has no slope (an overhead light
            // or a vanishing factor) the frequency carries no height.
            if (std::fabs(d) < 1e-6f) {
                re[t] = im[t] = 0.0f;
                continue;
            }
            const float oldRe = re[t];
            re[t] = im[t] / d;
            im[t] = -oldRe / d;
        }
    clearBand();
    InverseSpectrumCentred(pixels.data(), width, height, re.data(), im.data());
    std::copy(pixels.begin(), pixels.end(), heights);
}

}  // namespace CV
