#include "reflection_separation.h"

#include <cvcompat/errstatus.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "CV/reflection_separation.h"

namespace {

constexpr float kDark = 15.0f;
constexpr float kEqualChroma = 14.0f;
constexpr float kColourBoundary = 13.0f;
constexpr float kDiffuse = 12.0f;
constexpr float kVerticalFailed = 11.0f;
constexpr float kHorizontalFailed = 10.0f;
constexpr float kDarkLevel = 10.0f;
// 3 x 0.48 - 1 in single precision: the SFI's maximum chromaticity is 0.48.
constexpr float kSfiDivisor = 3.0f * 0.48f - 1.0f;

float LogF(float v) { return static_cast<float>(std::log(static_cast<double>(v))); }

bool LabelSkipped(float label) {
    const int l = static_cast<int>(label);
    return l >= 13 && l <= 15;
}

unsigned char ClampByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<unsigned char>(v);
}

}  // namespace

float ReflectancePixel::Max() const { return std::max({r, g, b}); }

float ReflectancePixel::RedChroma() const {
    const float s = Sum();
    return s == 0.0f ? 0.0f : r / s;
}

float ReflectancePixel::GreenChroma() const {
    const float s = Sum();
    return s == 0.0f ? 0.0f : g / s;
}

float ReflectancePixel::MaxChroma() const {
    const float s = Sum();
    return s == 0.0f ? 0.0f : Max() / s;
}

void PixelBuffer::Release() {
    records.clear();
    records.shrink_to_fit();
    rows = columns = 0;
}

void PixelBuffer::Allocate(int newRows, int newColumns) {
    Release();
    records.assign(static_cast<size_t>(newRows) * newColumns, ReflectancePixel());
    rows = newRows;
    columns = newColumns;
}

void PixelBuffer::CopyFrom(const PixelBuffer& other) {
    if (this == &other) return;
    records = other.records;
    rows = other.rows;
    columns = other.columns;
}

zPellamSeparation::~zPellamSeparation() {
    m_input.Release();
    m_result.Release();
    m_unused.Release();
}

int zPellamSeparation::SetInput(const PixelBuffer& input) {
    m_input.CopyFrom(input);
    return 0;
}

int zPellamSeparation::Separate() {
    PixelBuffer work;
    work.CopyFrom(m_input);
    PixelBuffer sfi;
    sfi.Allocate(work.rows, work.columns);
    for (size_t i = 0; i < work.records.size(); ++i) {
        ReflectancePixel& p = work.records[i];
        ReflectancePixel& q = sfi.records[i];
        q = p;
        if (p.r < kDarkLevel && p.g < kDarkLevel && p.b < kDarkLevel) {
            p.label = kDark;
            continue;
        }
        const float s = p.Sum();
        const float m = p.Max();
        const float sigma = m / s;
        const float o = (s - (3.0f * sigma - 1.0f) * m / (kSfiDivisor * sigma)) / 3.0f;
        q.r = p.r - o;
        q.g = p.g - o;
        q.b = p.b - o;
        if (!(q.r > 0.0f && q.g > 0.0f && q.b > 0.0f)) p.label = kDark;
    }
    for (float t = 0.5f; t >= 0.0f; t -= 0.01f) Iteration(work, sfi, t);
    m_result.CopyFrom(work);
    return 0;
}

int zPellamSeparation::SeparateInto(PixelBuffer& out1, PixelBuffer& out2) {
    Separate();
    out1.CopyFrom(m_result);
    out2.CopyFrom(m_result);
    return 0;
}

int zPellamSeparation::LogDiff(PixelBuffer& work, PixelBuffer& sfi, float threshold) {
    int count = 0;
    for (int y = 1; y < work.rows - 1; ++y)
        for (int x = 1; x < work.columns - 1; ++x) {
            ReflectancePixel& p = work.At(y, x);
            if (LabelSkipped(p.label)) continue;
            const float sumP = p.Sum();
            const float sfiP = sfi.At(y, x).Sum();
            // A neighbour labelled 15 has no meaningful logarithm: skip its test.
            auto failed = [&](int ny, int nx) {
                const ReflectancePixel& n = work.At(ny, nx);
                if (n.label == kDark) return false;
                const float d = 10.0f * (LogF(n.Sum()) - LogF(sumP)) - 10.0f * (LogF(sfi.At(ny, nx).Sum()) - LogF(sfiP));
                return std::fabs(d) > threshold;
            };
            if (failed(y, x + 1)) {
                p.label = kHorizontalFailed;
                ++count;
            } else if (failed(y + 1, x)) {
                p.label = kVerticalFailed;
                ++count;
            } else {
                p.label = kDiffuse;
            }
        }
    return count;
}

int zPellamSeparation::SpecularToDiffuse(ReflectancePixel& pixel, float chromaticity) {
    if (pixel.label == kDark || !std::isfinite(chromaticity) || chromaticity <= 1.0f / 3.0f) return 1;
    const float s = pixel.Sum();
    const float m = pixel.Max();
    const float sigma = m / s;
    const float d = (s - (3.0f * sigma - 1.0f) * m / ((3.0f * chromaticity - 1.0f) * sigma)) / 3.0f;
    if (!(pixel.r - d > 0.0f && pixel.g - d > 0.0f && pixel.b - d > 0.0f)) {
        pixel.label = kEqualChroma;
        return 1;
    }
    pixel.r -= d;
    pixel.g -= d;
    pixel.b -= d;
    return 0;
}

void zPellamSeparation::AdjustPair(ReflectancePixel& p, ReflectancePixel& n) {
    if (n.label == kDark) {
        p.label = kDiffuse;
        return;
    }
    if (std::fabs(n.RedChroma() - p.RedChroma()) > 0.05 && std::fabs(n.GreenChroma() - p.GreenChroma()) > 0.05) {
        p.label = kColourBoundary;
        return;
    }
    const float maxP = p.MaxChroma();
    const float maxN = n.MaxChroma();
    if (std::fabs(static_cast<double>(maxP - maxN)) < 0.01) {
        p.label = kEqualChroma;
        return;
    }
    if (maxP < maxN)
        SpecularToDiffuse(p, maxN);
    else
        SpecularToDiffuse(n, maxP);
    p.label = kDiffuse;
    n.label = kDiffuse;
}

int zPellamSeparation::Iteration(PixelBuffer& work, PixelBuffer& sfi, float threshold) {
    int count = LogDiff(work, sfi, threshold);
    for (;;) {
        for (int y = 0; y < work.rows - 1; ++y)
            for (int x = 0; x < work.columns - 1; ++x) {
                ReflectancePixel& p = work.At(y, x);
                if (p.label == kDark) continue;
                if (p.label == kHorizontalFailed) AdjustPair(p, work.At(y, x + 1));
                if (p.label == kVerticalFailed) AdjustPair(p, work.At(y + 1, x));
            }
        const int newCount = LogDiff(work, sfi, threshold);
        if (newCount == 0 || newCount >= count) break;
        count = newCount;
    }
    ResetLabels(work);
    return 0;
}

int zPellamSeparation::ResetLabels(PixelBuffer& work) {
    for (ReflectancePixel& p : work.records)
        if (p.label != kDark) p.label = 0.0f;
    return 0;
}

void SeparateReflection(IplImage* image) {
    const char* function = "SeparateReflection";
    auto refuse = [&](int status, const char* message, int line) {
        cvcompat::ReportError(status, function, message, "reflection_separation.cpp", line);
    };
    if (!image || !image->imageData) return refuse(CV_StsBadArg, "Null image", __LINE__);
    if (image->depth != IPL_DEPTH_8U || image->nChannels != 3)
        return refuse(CV_StsBadArg, "Image must be 8-bit with 3 channels", __LINE__);
    if (image->width < 1 || image->height < 1 || image->widthStep < 3LL * image->width)
        return refuse(CV_StsBadSize, "Image size or row step is not valid", __LINE__);

    PixelBuffer input;
    input.Allocate(image->height, image->width);
    for (int y = 0; y < image->height; ++y) {
        const auto* px = reinterpret_cast<const unsigned char*>(image->imageData + static_cast<size_t>(y) * image->widthStep);
        for (int x = 0; x < image->width; ++x, px += 3) input.At(y, x).Set(px[2], px[1], px[0], 0.0f);
    }
    zPellamSeparation separator;
    separator.SetInput(input);
    separator.Separate();
    PixelBuffer result;
    result.CopyFrom(separator.Result());
    for (int y = 0; y < image->height; ++y) {
        auto* px = reinterpret_cast<unsigned char*>(image->imageData + static_cast<size_t>(y) * image->widthStep);
        for (int x = 0; x < image->width; ++x, px += 3) {
            const ReflectancePixel& p = result.At(y, x);
            px[0] = ClampByte(p.b);
            px[1] = ClampByte(p.g);
            px[2] = ClampByte(p.r);
        }
    }
}
