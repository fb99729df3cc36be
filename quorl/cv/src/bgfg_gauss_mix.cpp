#include "CV/bgfg_gauss_mix.h"

#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr const char* kSource = "bgfg_gauss_mix.cpp";
// The model takes 3-channel frames only; a constant count lets the channel
// loops unroll.
constexpr int kChannels = 3;

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool IsColourFrame(const IplImage* frame) {
    return frame && frame->imageData && frame->depth == IPL_DEPTH_8U && frame->nChannels == 3;
}

unsigned char* PixelAt(IplImage* image, int x, int y) {
    return reinterpret_cast<unsigned char*>(image->imageData) + static_cast<size_t>(y) * image->widthStep +
           static_cast<size_t>(x) * image->nChannels;
}

// Fills one contour on its own: with its siblings linked, a filled draw
// would take them all and leave the holes of rings empty.
void FillContour(IplImage* image, CvSeq* contour, CvScalar colour) {
    CvSeq* next = contour->h_next;
    contour->h_next = nullptr;
    cvDrawContours(image, contour, colour, colour, 0, CV_FILLED, 8, cvPoint(0, 0));
    contour->h_next = next;
}

// A component is 64 bytes: aligned so, each lies in one cache line, and a
// frame touches no more lines than it has components.
constexpr std::align_val_t kLine{64};

CBGFGGaussMixSample* AllocateBlock(size_t count) { return new (kLine) CBGFGGaussMixSample[count]; }

void FreeBlock(CBGFGGaussMixSample* block) {
    if (block) ::operator delete[](block, kLine);
}

void Link(std::vector<CvSeq*>& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        list[i]->h_prev = i > 0 ? list[i - 1] : nullptr;
        list[i]->h_next = i + 1 < list.size() ? list[i + 1] : nullptr;
    }
}

}  // namespace

CBGFGGaussMixParam::CBGFGGaussMixParam()
    : winSize(200),
      nGauss(3),
      bgThreshold(0.8),
      stdThreshold(2.5),
      minArea(50.0),
      weightInit(0.05),
      varianceInit(900.0),
      shadowChromaDistance(10.0),
      spareFactor(2.0),
      shadowSpread(100.0) {}

CBGFGGaussMixParam::~CBGFGGaussMixParam() = default;

CBGFGGaussMix::CBGFGGaussMix() = default;

CBGFGGaussMix::CBGFGGaussMix(const CBGFGGaussMix& other) { CopyFrom(other); }

CBGFGGaussMix& CBGFGGaussMix::operator=(const CBGFGGaussMix& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CBGFGGaussMix::~CBGFGGaussMix() { Release(); }

void CBGFGGaussMix::Release() {
    delete[] m_table;
    FreeBlock(m_block);
    m_table = nullptr;
    m_block = nullptr;
    if (m_background) cvReleaseImage(&m_background);
    if (m_foreground) cvReleaseImage(&m_foreground);
    if (m_storage) cvReleaseMemStorage(&m_storage);
    m_contours = nullptr;
    m_initialised = false;
}

void CBGFGGaussMix::CopyFrom(const CBGFGGaussMix& other) {
    Release();
    param = other.param;
    m_initialised = other.m_initialised;
    m_normalise = other.m_normalise;
    m_alpha = other.m_alpha;
    m_channels = other.m_channels;
    m_width = other.m_width;
    m_height = other.m_height;
    m_depth = other.m_depth;
    m_nGauss = other.m_nGauss;
    std::memcpy(m_matched, other.m_matched, sizeof m_matched);
    std::memcpy(m_sortKey, other.m_sortKey, sizeof m_sortKey);
    m_frameCount = other.m_frameCount;
    if (!other.m_initialised) return;

    const size_t pixels = static_cast<size_t>(m_width) * m_height;
    m_block = AllocateBlock(pixels * m_nGauss);
    std::memcpy(m_block, other.m_block, pixels * m_nGauss * sizeof(CBGFGGaussMixSample));
    m_table = new CBGFGGaussMixSample*[pixels];
    for (size_t p = 0; p < pixels; ++p) m_table[p] = m_block + p * m_nGauss;
    m_background = cvCloneImage(other.m_background);
    m_foreground = cvCloneImage(other.m_foreground);
    m_storage = cvCreateMemStorage(0);

    std::vector<CvSeq*> contours;
    for (CvSeq* c = other.m_contours; c; c = c->h_next) {
        CvSeq* copy = cvCloneSeq(c, m_storage);
        // The clone carries the contour's header size; its bounding
        // rectangle and colour lie past the plain sequence header.
        std::memcpy(reinterpret_cast<char*>(copy) + sizeof(CvSeq), reinterpret_cast<const char*>(c) + sizeof(CvSeq),
                    c->header_size - sizeof(CvSeq));
        contours.push_back(copy);
    }
    Link(contours);
    m_contours = contours.empty() ? nullptr : contours.front();
}

void CBGFGGaussMix::Normalise(unsigned char* pixel) const {
    // Dark pixels have no trustworthy chromaticity: they are modelled raw.
    const float sum = static_cast<float>(pixel[0]) + pixel[1] + pixel[2];
    if (!(sum > 10.0f)) return;
    for (int k = 0; k < 3; ++k) pixel[k] = static_cast<unsigned char>(255.0f * pixel[k] / sum);
}

bool CBGFGGaussMix::Accepts(const IplImage* frame, const char* function, int line) const {
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, function, "Frame must be 8-bit with 3 channels", line), false;
    if (frame->width != m_width || frame->height != m_height)
        return Refuse(CV_StsBadSize, function, "Frame size differs from the first frame's", line), false;
    return true;
}

void CBGFGGaussMix::Initialize(IplImage* frame) {
    static constexpr const char* kFunction = "CBGFGGaussMix::Initialize";
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", __LINE__);
    if (frame->width < 1 || frame->height < 1) return Refuse(CV_StsBadSize, kFunction, "Empty frame", __LINE__);
    // The match flags and sort keys are fixed arrays of kMaxGauss entries.
    if (param.nGauss < 1 || param.nGauss > kMaxGauss)
        return Refuse(CV_StsBadArg, kFunction, "nGauss must be 1 to 500", __LINE__);
    if (param.winSize < 1) return Refuse(CV_StsBadArg, kFunction, "winSize must be at least 1", __LINE__);

    Release();
    m_background = cvCloneImage(frame);
    m_channels = 3;
    m_width = frame->width;
    m_height = frame->height;
    m_depth = frame->depth;
    m_nGauss = param.nGauss;
    m_alpha = 1.0 / param.winSize;
    m_foreground = cvCreateImage(cvSize(m_width, m_height), IPL_DEPTH_8U, 1);
    cvSetZero(m_foreground);
    m_storage = cvCreateMemStorage(0);

    const size_t pixels = static_cast<size_t>(m_width) * m_height;
    m_block = AllocateBlock(pixels * m_nGauss);
    m_table = new CBGFGGaussMixSample*[pixels];
    const double variance = 2.0 * param.stdThreshold * param.stdThreshold;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            // A private copy: the caller's frame keeps its colours.
            unsigned char pixel[3];
            std::memcpy(pixel, PixelAt(frame, x, y), 3);
            if (m_normalise) Normalise(pixel);
            const size_t p = static_cast<size_t>(y) * m_width + x;
            CBGFGGaussMixSample* c = m_table[p] = m_block + p * m_nGauss;
            for (int i = 0; i < m_nGauss; ++i) {
                c[i].weight = i == 0 ? 1.0 : 0.0;
                c[i].matchCount = i == 0 ? 1 : 0;
                for (int k = 0; k < 3; ++k) {
                    c[i].variance[k] = variance;
                    c[i].mean[k] = i == 0 ? pixel[k] : 0.0;
                }
            }
        }
    }
    m_initialised = true;
}

// Flattened: the per-pixel steps are inlined into the pixel loop, where a
// call each would cost about as much as the work.
[[gnu::flatten]] void CBGFGGaussMix::ProcessFrame(IplImage* frame) {
    static constexpr const char* kFunction = "CBGFGGaussMix::ProcessFrame";
    if (!m_initialised) return Initialize(frame);
    if (!Accepts(frame, kFunction, __LINE__)) return;
    if (param.winSize < 1) return Refuse(CV_StsBadArg, kFunction, "winSize must be at least 1", __LINE__);

    const bool fullWindow = m_frameCount >= param.winSize;
    const int n = m_nGauss;
    for (int y = 0; y < m_height; ++y) {
        unsigned char* mask = PixelAt(m_foreground, 0, y);
        const unsigned char* in = PixelAt(frame, 0, y);
        unsigned char* background = PixelAt(m_background, 0, y);
        // The table's entries are block + p x nGauss: stepped directly.
        CBGFGGaussMixSample* c = m_block + static_cast<size_t>(y) * m_width * n;
        for (int x = 0; x < m_width; ++x, in += 3, background += 3, c += n) {
            unsigned char pixel[3] = {in[0], in[1], in[2]};
            if (m_normalise) Normalise(pixel);
            const int match = MatchTest(pixel, c);
            if (fullWindow) {
                if (match < 0) UpdateWindowNoMatch(pixel, c);
                else UpdateWindow(pixel, c, match);
            } else {
                if (match < 0) UpdateWindowPartNoMatch(pixel, c);
                else UpdateWindowPart(pixel, c, match);
            }
            GenerateSortKey(c);
            SortGaussians(c, m_sortKey);
            BackgroundTest(mask + x, background, c);
        }
    }
    PostProcessForeground(frame);
    ++m_frameCount;
}

int CBGFGGaussMix::MatchTest(const unsigned char* pixel, CBGFGGaussMixSample* c) {
    for (int i = 0; i < m_nGauss; ++i) m_matched[i] = 0;
    const double factor = param.stdThreshold * param.stdThreshold;
    for (int i = 0; i < m_nGauss; ++i) {
        double d2 = 0.0, v = 0.0;
        for (int k = 0; k < kChannels; ++k) {
            const double d = c[i].mean[k] - pixel[k];
            d2 += d * d;
            v += c[i].variance[k];
        }
        if (factor * v > d2) {
            m_matched[i] = 1;
            return i;
        }
    }
    return -1;
}

void CBGFGGaussMix::UpdateWindow(const unsigned char* pixel, CBGFGGaussMixSample* c, int match) {
    for (int i = 0; i < m_nGauss; ++i) c[i].weight += m_alpha * (m_matched[i] - c[i].weight);
    if (match < 0 || match >= m_nGauss) return;
    const double rho = 1.0 / (param.winSize * c[match].weight);
    for (int k = 0; k < kChannels; ++k) {
        const double d = pixel[k] - c[match].mean[k];
        c[match].mean[k] += rho * d;
        c[match].variance[k] += rho * (d * d - c[match].variance[k]);
    }
}

void CBGFGGaussMix::UpdateWindowNoMatch(const unsigned char* pixel, CBGFGGaussMixSample* c) {
    if (m_nGauss < 1) return;
    CBGFGGaussMixSample& last = c[m_nGauss - 1];
    last.matchCount = 1;
    int total = 0;
    for (int i = 0; i < m_nGauss; ++i) total += c[i].matchCount;
    for (int i = 0; i + 1 < m_nGauss; ++i) c[i].weight *= 1.0 - m_alpha;
    last.weight = 1.0 / total;
    for (int k = 0; k < kChannels; ++k) {
        last.mean[k] = pixel[k];
        last.variance[k] = param.varianceInit;
    }
}

void CBGFGGaussMix::UpdateWindowPart(const unsigned char* pixel, CBGFGGaussMixSample* c, int match) {
    int total = 0;
    for (int i = 0; i < m_nGauss; ++i) total += c[i].matchCount;
    const double r = 1.0 / (total + 1.0);
    for (int i = 0; i < m_nGauss; ++i) {
        c[i].matchCount += m_matched[i];
        c[i].weight += r * (m_matched[i] - c[i].weight);
    }
    if (match < 0 || match >= m_nGauss) return;
    const double rho = 1.0 / c[match].matchCount;
    for (int k = 0; k < kChannels; ++k) {
        const double d = pixel[k] - c[match].mean[k];
        c[match].mean[k] += rho * d;
        c[match].variance[k] += rho * (d * d - c[match].variance[k]);
    }
}

void CBGFGGaussMix::UpdateWindowPartNoMatch(const unsigned char* pixel, CBGFGGaussMixSample* c) {
    if (m_nGauss < 1) return;
    CBGFGGaussMixSample& last = c[m_nGauss - 1];
    last.matchCount = 1;
    for (int k = 0; k < kChannels; ++k) {
        last.mean[k] = pixel[k];
        last.variance[k] = param.varianceInit;
    }
    int total = 0;
    for (int i = 0; i < m_nGauss; ++i) total += c[i].matchCount;
    for (int i = 0; i < m_nGauss; ++i) c[i].weight = static_cast<double>(c[i].matchCount) / total;
}

void CBGFGGaussMix::GenerateSortKey(CBGFGGaussMixSample* c) {
    for (int i = 0; i < m_nGauss; ++i) {
        // Unused components (most of them, in a still scene) skip the root.
        if (c[i].matchCount <= 0) {
            m_sortKey[i] = 0.0;
            continue;
        }
        double v = 0.0;
        for (int k = 0; k < kChannels; ++k) v += c[i].variance[k];
        m_sortKey[i] = c[i].weight / std::sqrt(v);
    }
}

void CBGFGGaussMix::SortGaussians(CBGFGGaussMixSample* c, double* keys) {
    if (!keys) keys = m_sortKey;
    for (int i = 1; i < m_nGauss; ++i) {
        for (int j = i; j > 0 && keys[j] > keys[j - 1]; --j) {
            std::swap(c[j], c[j - 1]);
            std::swap(keys[j], keys[j - 1]);
            if (keys != m_sortKey) std::swap(m_sortKey[j], m_sortKey[j - 1]);
            // The match flag belongs to its component, not to the rank.
            std::swap(m_matched[j], m_matched[j - 1]);
        }
    }
}

void CBGFGGaussMix::BackgroundTest(unsigned char* maskByte, unsigned char* backgroundPixel,
                                   CBGFGGaussMixSample* c) {
    for (int k = 0; k < kChannels; ++k) backgroundPixel[k] = static_cast<unsigned char>(c[0].mean[k] + 0.5);
    double sum = 0.0;
    for (int i = 0; i < m_nGauss; ++i) {
        sum += c[i].weight;
        if (m_matched[i]) {
            *maskByte = 0;
            return;
        }
        if (sum > param.bgThreshold) break;
    }
    *maskByte = 255;
}

void CBGFGGaussMix::BackgroundTestWithShadow(unsigned char* pixel, unsigned char* maskByte,
                                             unsigned char* backgroundPixel, CBGFGGaussMixSample* c) {
    BackgroundTest(maskByte, backgroundPixel, c);
    if (*maskByte == 0) return;
    const unsigned char* b = backgroundPixel;
    const double sp = static_cast<double>(pixel[0]) + pixel[1] + pixel[2];
    const double sb = static_cast<double>(b[0]) + b[1] + b[2];
    // A black pixel or background has no chromaticity to compare.
    if (sp == 0.0 || sb == 0.0) return;
    double d = 0.0, ep = 0.0, eb = 0.0;
    for (int k = 0; k < kChannels; ++k) {
        const double dc = b[k] / sb - pixel[k] / sp;
        d += dc * dc;
        ep += (pixel[k] - sp / 3.0) * (pixel[k] - sp / 3.0);
        eb += (b[k] - sb / 3.0) * (b[k] - sb / 3.0);
    }
    if (std::sqrt(d) < param.shadowChromaDistance && ep > param.shadowSpread && eb > param.shadowSpread)
        *maskByte = 0;
}

void CBGFGGaussMix::PostProcessForeground(IplImage* frame) {
    static constexpr const char* kFunction = "CBGFGGaussMix::PostProcessForeground";
    if (!m_initialised) return Refuse(CV_StsBadArg, kFunction, "Model not initialised", __LINE__);
    if (!Accepts(frame, kFunction, __LINE__)) return;

    cvClearMemStorage(m_storage);
    m_contours = nullptr;
    CvSeq* first = nullptr;
    cvFindContours(m_foreground, m_storage, &first, sizeof(CvContour), CV_RETR_LIST, CV_CHAIN_APPROX_SIMPLE,
                   cvPoint(0, 0));
    std::vector<CvSeq*> kept;
    for (CvSeq* c = first; c; c = c->h_next) {
        const CvRect box = reinterpret_cast<CvContour*>(c)->rect;
        if (static_cast<double>(box.width) * box.height < param.minArea) continue;
        if (std::fabs(cvContourArea(c, CV_WHOLE_SEQ, 0)) < param.minArea) continue;
        kept.push_back(c);
    }
    Link(kept);
    m_contours = kept.empty() ? nullptr : kept.front();

    cvSetZero(m_foreground);
    for (CvSeq* c : kept) FillContour(m_foreground, c, cvScalarAll(255));
    cvMorphologyEx(m_foreground, m_foreground, nullptr, nullptr, CV_MOP_CLOSE, 1);

    // B, G, R: outer regions green, then holes blue.
    for (CvSeq* c : kept)
        if (!CV_IS_SEQ_HOLE(c)) FillContour(frame, c, cvScalar(0, 255, 0));
    for (CvSeq* c : kept)
        if (CV_IS_SEQ_HOLE(c)) FillContour(frame, c, cvScalar(255, 0, 0));
}

IplImage* CBGFGGaussMix::GetForeground() { return m_foreground; }

CvSeq* CBGFGGaussMix::GetContours() { return m_contours; }

const CBGFGGaussMixSample* CBGFGGaussMix::GetSamples(int x, int y) const {
    if (!m_initialised || x < 0 || y < 0 || x >= m_width || y >= m_height) return nullptr;
    return m_table[static_cast<size_t>(y) * m_width + x];
}
