#include "CV/highlight_separation.h"

#include <cvcompat/errstatus.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "MVG/gdi_frames.h"

namespace CV::Reflection {
namespace {

constexpr const char* kSource = "highlight_separation.cpp";
// The SFI offset's division by three, as the single-precision constant the
// method was tuned with.
constexpr float kThird = 0.33333334f;

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool CheckBytes(const unsigned char* image, int width, int height, int step, const char* function) {
    if (!image) return Refuse(CV_StsBadArg, function, "Null image", __LINE__), false;
    if (width < 1 || height < 1)
        return Refuse(CV_StsBadSize, function, "Width and height must be at least 1", __LINE__), false;
    // Buffer indices are ints of four floats per pixel.
    if (static_cast<long long>(width) * height > INT_MAX / 4)
        return Refuse(CV_StsBadSize, function, "Image too large", __LINE__), false;
    if (static_cast<long long>(step) < 3LL * width)
        return Refuse(CV_StsBadSize, function, "Row step below three bytes per pixel", __LINE__), false;
    return true;
}

bool CheckColourImage(const IplImage* image, const char* function) {
    if (!image || !image->imageData) return Refuse(CV_StsBadArg, function, "Null image", __LINE__), false;
    if (image->depth != IPL_DEPTH_8U || image->nChannels != 3)
        return Refuse(CV_StsBadArg, function, "Image must be 8-bit with 3 channels", __LINE__), false;
    return CheckBytes(reinterpret_cast<unsigned char*>(image->imageData), image->width, image->height,
                      image->widthStep, function);
}

float LogF(float v) { return static_cast<float>(std::log(static_cast<double>(v))); }

// Truncation toward zero, held to what a byte can show.
unsigned char ClampByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<unsigned char>(v);
}

bool LabelSkipped(float label) {
    const int l = static_cast<int>(label);
    return l >= 13 && l <= 15;
}

}  // namespace

CSpecularitySeparation::CSpecularitySeparation() = default;

CSpecularitySeparation::CSpecularitySeparation(const CSpecularitySeparation& other) { CopyFrom(other); }

CSpecularitySeparation& CSpecularitySeparation::operator=(const CSpecularitySeparation& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CSpecularitySeparation::~CSpecularitySeparation() { ReleaseBuffers(); }

void CSpecularitySeparation::ReleaseBuffers() {
    delete[] m_pixels;
    delete[] m_sfi;
    delete[] m_chroma;
    delete[] m_totals;
    m_pixels = m_sfi = m_chroma = m_totals = nullptr;
    m_width = m_height = 0;
}

void CSpecularitySeparation::AllocateBuffers(int width, int height) {
    // A video stream separates frame after frame of one size: keep the
    // buffers (four floats per pixel each, about 20 MB at 640 x 480).
    if (HasBuffers() && width == m_width && height == m_height) return;
    ReleaseBuffers();
    const size_t n = static_cast<size_t>(width) * height * 4;
    m_pixels = new float[n]();
    m_sfi = new float[n]();
    m_chroma = new float[n]();
    m_totals = new float[n]();
    m_width = width;
    m_height = height;
}

void CSpecularitySeparation::CopyFrom(const CSpecularitySeparation& other) {
    if (other.HasBuffers()) {
        AllocateBuffers(other.m_width, other.m_height);
        const size_t n = static_cast<size_t>(m_width) * m_height * 4;
        std::memcpy(m_pixels, other.m_pixels, n * sizeof(float));
        std::memcpy(m_sfi, other.m_sfi, n * sizeof(float));
        std::memcpy(m_chroma, other.m_chroma, n * sizeof(float));
        std::memcpy(m_totals, other.m_totals, n * sizeof(float));
    } else {
        ReleaseBuffers();
    }
    m_onePassDiffuseChroma = other.m_onePassDiffuseChroma;
    m_onePassDarkLevel = other.m_onePassDarkLevel;
    m_onePassSaturationLevel = other.m_onePassSaturationLevel;
    m_boundaryThresholdChroma2 = other.m_boundaryThresholdChroma2;
    m_boundaryThresholdChroma1 = other.m_boundaryThresholdChroma1;
    m_thresholdStep = other.m_thresholdStep;
    m_firstThreshold = other.m_firstThreshold;
    m_lastThreshold = other.m_lastThreshold;
    m_darkLevel = other.m_darkLevel;
    m_equalChromaTolerance = other.m_equalChromaTolerance;
    m_sfiChroma = other.m_sfiChroma;
    m_step = other.m_step;
    m_bytesPerPixel = other.m_bytesPerPixel;
    m_rowGap = other.m_rowGap;
    m_floatsPerRow = other.m_floatsPerRow;
    m_illumination2 = other.m_illumination2;
    m_illumination1 = other.m_illumination1;
    m_illumination0 = other.m_illumination0;
    m_active = other.m_active;
}

void CSpecularitySeparation::SetIlluminationChroma(float r, float g, float b) {
    for (float v : {r, g, b})
        if (!std::isfinite(v) || v <= 0.0f)
            return Refuse(CV_StsBadArg, "CSpecularitySeparation::SetIlluminationChroma",
                          "Illumination chromaticities must be finite and positive", __LINE__);
    m_illumination2 = r;
    m_illumination1 = g;
    m_illumination0 = b;
}

int CSpecularitySeparation::Initialize(unsigned char* image, int width, int height, int step, int) {
    if (!CheckBytes(image, width, height, step, "CSpecularitySeparation::Initialize")) return -1;
    AllocateBuffers(width, height);
    m_step = step;
    m_bytesPerPixel = 3;
    m_rowGap = step - 3 * width;
    m_floatsPerRow = 4 * width;
    m_active.clear();

    const float illumination[3] = {m_illumination0, m_illumination1, m_illumination2};
    const float lambda = m_sfiChroma;
    for (int y = 0; y < height; ++y) {
        const unsigned char* px = image + static_cast<size_t>(y) * step;
        for (int x = 0; x < width; ++x, px += 3) {
            const int i = 4 * (y * width + x);
            float c[3];
            for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(px[k]) / illumination[k];
            const float s = c[0] + c[1] + c[2];
            const float m = std::max({c[0], c[1], c[2]});
            for (int k = 0; k < 3; ++k) {
                m_pixels[i + k] = c[k];
                m_sfi[i + k] = c[k];
                m_chroma[i + k] = s > 0.0f ? c[k] / s : 0.0f;
            }
            m_pixels[i + 3] = kUnlabelled;
            m_sfi[i + 3] = s;
            m_chroma[i + 3] = s > 0.0f ? m / s : 0.0f;
            m_totals[i] = s;
            m_totals[i + 1] = m;
            m_totals[i + 2] = m_totals[i + 3] = 0.0f;

            if (c[0] < m_darkLevel && c[1] < m_darkLevel && c[2] < m_darkLevel) {
                m_pixels[i + 3] = kDark;
                continue;
            }
            const float sigma = m / s;
            const float o = (s - (3.0f * sigma - 1.0f) * m / ((3.0f * lambda - 1.0f) * sigma)) * kThird;
            float sum = 0.0f;
            bool representable = true;
            for (int k = 0; k < 3; ++k) {
                m_sfi[i + k] = c[k] - o;
                sum += m_sfi[i + k];
                // Written as !(> 0) so that a NaN offset counts too.
                if (!(m_sfi[i + k] > 0.0f)) representable = false;
            }
            m_sfi[i + 3] = sum;
            if (!representable) m_pixels[i + 3] = kDark;
        }
    }
    return 0;
}

// The log-difference tests of one pixel against its right and lower
// neighbours. A neighbour labelled 15 is dark or has no SFI: its logarithms
// mean nothing, so its test is skipped. True when a test failed.
bool CSpecularitySeparation::TestPixel(int p, float threshold) {
    const int right = p + 4;
    const int below = p + m_floatsPerRow;
    auto delta = [&](int n) {
        return 10.0f * (LogF(m_totals[n]) - LogF(m_totals[p])) - 10.0f * (LogF(m_sfi[n + 3]) - LogF(m_sfi[p + 3]));
    };
    if (Label(right) != kDark && std::fabs(delta(right)) > threshold) {
        SetLabel(p, kHorizontalFailed);
        return true;
    }
    if (Label(below) != kDark && std::fabs(delta(below)) > threshold) {
        SetLabel(p, kVerticalFailed);
        return true;
    }
    SetLabel(p, kDiffuse);
    return false;
}

int CSpecularitySeparation::LogDiff(float threshold) {
    if (!HasBuffers()) return 0;
    int count = 0;
    for (int y = 0; y < m_height - 1; ++y)
        for (int x = 0; x < m_width - 1; ++x) {
            const int p = 4 * (y * m_width + x);
            if (!LabelSkipped(Label(p)) && TestPixel(p, threshold)) ++count;
        }
    return count;
}

int CSpecularitySeparation::LogDiff_Fast(float threshold) {
    if (!HasBuffers()) return 0;
    int count = 0;
    for (int y = 0; y < m_height - 1; ++y)
        for (int x = 0; x < m_width - 1; ++x) {
            const int p = 4 * (y * m_width + x);
            if (!LabelSkipped(Label(p)) && TestPixel(p, threshold)) {
                ++count;
                m_active.push_back(p);
            }
        }
    return count;
}

int CSpecularitySeparation::LogDiff_FastInner(float threshold) {
    if (!HasBuffers()) return 0;
    int count = 0;
    for (int p : m_active)
        if (!LabelSkipped(Label(p)) && TestPixel(p, threshold)) ++count;
    return count;
}

int CSpecularitySeparation::SpecularToDiffuse(int index, float chromaticity) {
    if (!HasBuffers()) return 1;
    const char* function = "CSpecularitySeparation::SpecularToDiffuse";
    if (index < 0 || index % 4 != 0 || index / 4 >= m_width * m_height)
        return Refuse(CV_StsBadArg, function, "Index is not a pixel's buffer index", __LINE__), 1;
    // 3x - 1 divides the step: at 1/3 it vanishes, and below it every
    // channel would grow.
    if (!std::isfinite(chromaticity) || chromaticity <= 1.0f / 3.0f)
        return Refuse(CV_StsBadArg, function, "Chromaticity must be finite and above 1/3", __LINE__), 1;
    if (Label(index) == kDark) return 1;

    const float s = m_totals[index];
    const float m = m_totals[index + 1];
    const float d = (chromaticity * s - m) / (3.0f * chromaticity - 1.0f);
    float c[3];
    for (int k = 0; k < 3; ++k) {
        c[k] = m_pixels[index + k] - d;
        if (!(c[k] > 0.0f)) {
            SetLabel(index, kEqualChroma);
            return 1;
        }
    }
    const float sum = c[0] + c[1] + c[2];
    const float max = m - d;
    for (int k = 0; k < 3; ++k) {
        m_pixels[index + k] = c[k];
        m_chroma[index + k] = c[k] / sum;
    }
    m_totals[index] = sum;
    m_totals[index + 1] = max;
    m_chroma[index + 3] = max / sum;
    return 0;
}

void CSpecularitySeparation::AdjustPair(int p, int n) {
    if (Label(n) == kDark) {
        SetLabel(p, kDiffuse);
        return;
    }
    if (std::fabs(m_chroma[n + 2] - m_chroma[p + 2]) > m_boundaryThresholdChroma2 &&
        std::fabs(m_chroma[n + 1] - m_chroma[p + 1]) > m_boundaryThresholdChroma1) {
        SetLabel(p, kColourBoundary);
        return;
    }
    const float maxP = m_chroma[p + 3];
    const float maxN = m_chroma[n + 3];
    if (std::fabs(maxP - maxN) < m_equalChromaTolerance) {
        SetLabel(p, kEqualChroma);
        return;
    }
    if (maxN > maxP)
        SpecularToDiffuse(p, maxN);
    else
        SpecularToDiffuse(n, maxP);
    SetLabel(p, kDiffuse);
    SetLabel(n, kDiffuse);
}

void CSpecularitySeparation::HandlePixel(int p) {
    if (Label(p) == kDark) return;
    if (Label(p) == kHorizontalFailed) AdjustPair(p, p + 4);
    if (Label(p) == kVerticalFailed) AdjustPair(p, p + m_floatsPerRow);
}

int CSpecularitySeparation::Iteration(float threshold) {
    if (!HasBuffers()) return 0;
    int count = LogDiff(threshold);
    for (;;) {
        for (int y = 0; y < m_height - 1; ++y)
            for (int x = 0; x < m_width - 1; ++x) HandlePixel(4 * (y * m_width + x));
        const int newCount = LogDiff(threshold);
        if (newCount == 0 || newCount >= count) break;
        count = newCount;
    }
    ResetLabels();
    return 0;
}

int CSpecularitySeparation::Iteration_Fast(float threshold) {
    if (!HasBuffers()) return 0;
    m_active.clear();
    int count = LogDiff_Fast(threshold);
    for (;;) {
        for (int p : m_active) HandlePixel(p);
        const int newCount = LogDiff_FastInner(threshold);
        if (newCount == 0 || newCount >= count) break;
        count = newCount;
    }
    ResetLabels();
    m_active.clear();
    return 0;
}

int CSpecularitySeparation::ResetLabels() {
    if (!HasBuffers()) return 0;
    const size_t n = static_cast<size_t>(m_width) * m_height * 4;
    for (size_t i = 3; i < n; i += 4)
        if (m_pixels[i] != kDark) m_pixels[i] = kUnlabelled;
    return 0;
}

int CSpecularitySeparation::Separate(unsigned char* image, int width, int height, int step, bool fast) {
    const char* function = fast ? "CSpecularitySeparation::SeparateSpecularAndDiffuse_Fast"
                                : "CSpecularitySeparation::SeparateSpecularAndDiffuse";
    if (!CheckBytes(image, width, height, step, function)) return -1;
    // The sweep below would never end.
    if (!(m_thresholdStep > 0.0f) || !std::isfinite(m_firstThreshold) || !std::isfinite(m_lastThreshold))
        return Refuse(CV_StsBadArg, function, "Threshold sweep must be finite with a positive step", __LINE__), -1;
    Initialize(image, width, height, step, 0);
    for (float t = m_firstThreshold; t >= m_lastThreshold; t -= m_thresholdStep) fast ? Iteration_Fast(t) : Iteration(t);
    WriteBack(image);
    return 0;
}

void CSpecularitySeparation::WriteBack(unsigned char* image) const {
    const float illumination[3] = {m_illumination0, m_illumination1, m_illumination2};
    for (int y = 0; y < m_height; ++y) {
        unsigned char* px = image + static_cast<size_t>(y) * m_step;
        for (int x = 0; x < m_width; ++x, px += 3) {
            const int i = 4 * (y * m_width + x);
            for (int k = 0; k < 3; ++k) {
                // byte / c x c can land just below the byte: a pixel the
                // sweep never moved keeps its own bytes.
                const float c = m_pixels[i + k];
                if (c == static_cast<float>(px[k]) / illumination[k]) continue;
                px[k] = ClampByte(c * illumination[k]);
            }
        }
    }
}

int CSpecularitySeparation::SeparateSpecularAndDiffuse(unsigned char* image, unsigned char*, unsigned char*,
                                                       int width, int height, int step, int) {
    return Separate(image, width, height, step, false);
}

int CSpecularitySeparation::SeparateSpecularAndDiffuse_Fast(unsigned char* image, unsigned char*,
                                                            unsigned char*, int width, int height, int step,
                                                            int) {
    return Separate(image, width, height, step, true);
}

int CSpecularitySeparation::GetSfiImage(unsigned char* out, int width, int height, int step, int bytesPerPixel) {
    const char* function = "CSpecularitySeparation::GetSfiImage";
    if (!out) return Refuse(CV_StsBadArg, function, "Null output image", __LINE__), -1;
    if (!HasBuffers()) return Refuse(CV_StsBadArg, function, "No separation has run", __LINE__), -1;
    if (width != m_width || height != m_height || bytesPerPixel < 3 ||
        (step > 0 && static_cast<long long>(step) < static_cast<long long>(width) * bytesPerPixel))
        return Refuse(CV_StsBadSize, function, "Output layout does not match the separated image", __LINE__), -1;
    const size_t rowBytes = step > 0 ? static_cast<size_t>(step) : static_cast<size_t>(width) * bytesPerPixel;
    for (int y = 0; y < height; ++y) {
        unsigned char* px = out + y * rowBytes;
        for (int x = 0; x < width; ++x, px += bytesPerPixel) {
            const int i = 4 * (y * width + x);
            for (int k = 0; k < 3; ++k) px[k] = ClampByte(m_sfi[i + k]);
        }
    }
    return 0;
}

void CSpecularitySeparation::ProcessFrame(IplImage* frame) {
    if (!CheckColourImage(frame, "CSpecularitySeparation::ProcessFrame")) return;
    SeparateSpecularAndDiffuse_Fast(reinterpret_cast<unsigned char*>(frame->imageData), nullptr, nullptr,
                                    frame->width, frame->height, frame->widthStep, 0);
}

void CSpecularitySeparation::SpecularFreeImage(IplImage* image) {
    if (!CheckColourImage(image, "CSpecularitySeparation::SpecularFreeImage")) return;
    const float dark = m_onePassDarkLevel;
    const float saturated = m_onePassSaturationLevel;
    const float divisor = 3.0f * m_onePassDiffuseChroma - 1.0f;
    for (int y = 0; y < image->height; ++y) {
        auto* px = reinterpret_cast<unsigned char*>(image->imageData + static_cast<size_t>(y) * image->widthStep);
        for (int x = 0; x < image->width; ++x, px += 3) {
            const float v[3] = {static_cast<float>(px[0]), static_cast<float>(px[1]), static_cast<float>(px[2])};
            if ((v[0] < dark && v[1] < dark && v[2] < dark) ||
                (v[0] > saturated && v[1] > saturated && v[2] > saturated))
                continue;
            const float s = v[0] + v[1] + v[2];
            const float g = std::max({v[0], v[1], v[2]});
            const float m = std::min({v[0], v[1], v[2]});
            float h = (s - (3.0f * g - s) / divisor) / 3.0f;
            if (m < h) h = m;
            // A colour purer than the diffuse chromaticity gives h <= 0: the
            // "reduction" would add light, so such a pixel is left.
            if (!(h > 0.0f)) continue;
            if (!(v[0] - h > 1.0f && v[1] - h > 1.0f && v[2] - h > 1.0f)) continue;
            for (int k = 0; k < 3; ++k) px[k] = ClampByte(v[k] - h);
        }
    }
}

void CSpecularitySeparation::ProcessFrameDetect(IplImage* image) {
    const char* function = "CSpecularitySeparation::ProcessFrameDetect";
    if (!CheckColourImage(image, function)) return;
    const CvSize size = cvSize(image->width, image->height);
    IplImage* grey = cvCreateImage(size, IPL_DEPTH_8U, 1);
    IplImage* mask = cvCreateImage(size, IPL_DEPTH_8U, 1);
    cvcompat::RoutineErrors errors(function, kSource);
    errors.Call(
        [&] {
            cvSmooth(image, image, CV_GAUSSIAN, 3, 0, 0, 0);
            cvCvtColor(image, grey, CV_BGR2GRAY);
            cvThreshold(grey, mask, 200, 1, CV_THRESH_BINARY);
            GDI::ApplyBinaryMask(image, mask, 0);
        },
        __LINE__);
    cvReleaseImage(&grey);
    cvReleaseImage(&mask);
}

void CSpecularitySeparation::SeparateComponents(IplImage*) {
    // Its per-pixel record of a one-pass reduction was built and thrown
    // away; nothing of it was ever delivered.
}

}  // namespace CV::Reflection
