#include <opencv2/core/core_c.h>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>

#include "cvcompat/blobtrack_modules.h"
#include "cvcompat/errstatus.h"

namespace {

constexpr const char* kSource = "blobtrack_msfg.cpp";
// 8 levels a channel: the joint B, G, R histogram has 512 bins.
constexpr int kBins = 8 * 8 * 8;

int Bin(const unsigned char* p) { return (p[0] >> 5) * 64 + (p[1] >> 5) * 8 + (p[2] >> 5); }

const unsigned char* Pixel(const IplImage* image, int x, int y) {
    return reinterpret_cast<const unsigned char*>(image->imageData) + static_cast<size_t>(y) * image->widthStep +
           static_cast<size_t>(x) * image->nChannels;
}

bool MaskSet(const IplImage* mask, int x, int y) { return !mask || *Pixel(mask, x, y) != 0; }

cv::Rect BlobRect(const CvBlob& b) {
    const int w = std::max(1, cvRound(b.w)), h = std::max(1, cvRound(b.h));
    return {cvRound(b.x - 0.5 * b.w), cvRound(b.y - 0.5 * b.h), w, h};
}

cv::Rect Enlarged(const cv::Rect& r, double factor) {
    const double w = r.width * factor, h = r.height * factor;
    const double cx = r.x + 0.5 * r.width, cy = r.y + 0.5 * r.height;
    return {cvRound(cx - 0.5 * w), cvRound(cy - 0.5 * h), std::max(1, cvRound(w)), std::max(1, cvRound(h))};
}

// Normalised histogram of the box's pixels under the mask, or of all its
// pixels when the mask is clear there (or absent).
std::vector<float> Histogram(const IplImage* frame, const IplImage* mask, const cv::Rect& box) {
    std::vector<float> h(kBins, 0.0f);
    for (int pass = 0; pass < 2; ++pass) {
        const IplImage* m = pass == 0 ? mask : nullptr;
        if (pass == 1 && !mask) break;
        int n = 0;
        for (int y = box.y; y < box.y + box.height; ++y)
            for (int x = box.x; x < box.x + box.width; ++x)
                if (MaskSet(m, x, y)) h[Bin(Pixel(frame, x, y))] += 1.0f, ++n;
        if (n > 0) {
            for (float& v : h) v /= static_cast<float>(n);
            return h;
        }
    }
    return h;
}

}  // namespace

void CvBlobTrackerMSFG::ParamUpdate() {
    m_maxIterations = maxIterations;
    m_minShift = minShift;
    m_sizeRate = sizeRate;
    m_minCoverage = minCoverage;
    m_lostFrames = lostFrames;
}

bool CvBlobTrackerMSFG::Usable(const IplImage* frame, const IplImage* foreground, const char* function, int line) {
    if (!frame || !frame->imageData || frame->depth != IPL_DEPTH_8U || frame->nChannels != 3)
        return cvcompat::ReportError(CV_StsBadArg, function, "Frame must be 8-bit with 3 channels", kSource, line), false;
    if (m_width == 0) {
        m_width = frame->width;
        m_height = frame->height;
    }
    if (frame->width != m_width || frame->height != m_height)
        return cvcompat::ReportError(CV_StsBadSize, function, "Frame size differs from the first frame's", kSource, line),
               false;
    if (foreground && (!foreground->imageData || foreground->depth != IPL_DEPTH_8U || foreground->nChannels != 1 ||
                       foreground->width != m_width || foreground->height != m_height))
        return cvcompat::ReportError(CV_StsBadArg, function, "Mask must be 8-bit, 1 channel, the frame's size", kSource,
                                     line),
               false;
    return true;
}

CvBlob* CvBlobTrackerMSFG::AddBlob(CvBlob* blob, IplImage* frame, IplImage* foreground) {
    if (!blob || !Usable(frame, foreground, "CvBlobTrackerMSFG::AddBlob", __LINE__)) return nullptr;
    const cv::Rect box = BlobRect(*blob) & cv::Rect(0, 0, m_width, m_height);
    Track t;
    t.blob = *blob;
    t.model = Histogram(frame, foreground, box);
    m_tracks.push_back(std::move(t));
    return &m_tracks.back().blob;
}

int CvBlobTrackerMSFG::GetBlobNum() { return static_cast<int>(m_tracks.size()); }

CvBlob* CvBlobTrackerMSFG::GetBlob(int index) {
    if (index < 0 || index >= static_cast<int>(m_tracks.size())) return nullptr;
    return &m_tracks[index].blob;
}

void CvBlobTrackerMSFG::DelBlob(int index) {
    if (index >= 0 && index < static_cast<int>(m_tracks.size())) m_tracks.erase(m_tracks.begin() + index);
}

void CvBlobTrackerMSFG::Process(IplImage* frame, IplImage* foreground) {
    if (!Usable(frame, foreground, "CvBlobTrackerMSFG::Process", __LINE__)) return;
    const cv::Rect image(0, 0, m_width, m_height);
    for (size_t i = 0; i < m_tracks.size();) {
        Track& t = m_tracks[i];
        const cv::Rect box = BlobRect(t.blob);
        const std::vector<float> current = Histogram(frame, foreground, box & image);
        // A bin absent from the box counts as one pixel's share, so colours
        // of the model just outside the box still pull.
        const float floor = 1.0f / std::max(1, (box & image).area());
        auto weight = [&](int x, int y) {
            if (!MaskSet(foreground, x, y)) return 0.0f;
            const int bin = Bin(Pixel(frame, x, y));
            return std::sqrt(t.model[bin] / std::max(current[bin], floor));
        };

        const cv::Rect region = cv::Rect(box.x - box.width / 2, box.y - box.height / 2, 2 * box.width,
                                         2 * box.height) & image;
        if (!region.empty()) {
            cv::Mat weights(region.size(), CV_32F);
            for (int y = 0; y < region.height; ++y)
                for (int x = 0; x < region.width; ++x) weights.at<float>(y, x) = weight(region.x + x, region.y + y);
            cv::Rect window = (box - region.tl()) & cv::Rect(0, 0, region.width, region.height);
            if (!window.empty()) {
                const cv::Rect start = window;
                cv::meanShift(weights, window,
                              cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, m_maxIterations,
                                               m_minShift));
                t.blob.x += static_cast<float>(window.x - start.x);
                t.blob.y += static_cast<float>(window.y - start.y);
            }
        }

        // Size from the spread of the weights: a uniform run of n pixels
        // has variance (n^2 - 1) / 12.
        const cv::Rect spread = Enlarged(BlobRect(t.blob), 1.25) & image;
        double sum = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
        for (int y = spread.y; y < spread.y + spread.height; ++y)
            for (int x = spread.x; x < spread.x + spread.width; ++x) {
                const double w = weight(x, y);
                sum += w, sx += w * x, sy += w * y, sxx += w * x * x, syy += w * y * y;
            }
        if (sum > 0) {
            const double vx = std::max(0.0, sxx / sum - (sx / sum) * (sx / sum));
            const double vy = std::max(0.0, syy / sum - (sy / sum) * (sy / sum));
            t.blob.w += static_cast<float>(m_sizeRate * (std::sqrt(12 * vx + 1) - t.blob.w));
            t.blob.h += static_cast<float>(m_sizeRate * (std::sqrt(12 * vy + 1) - t.blob.h));
        }

        if (foreground) {
            const cv::Rect now = BlobRect(t.blob) & image;
            const int on = now.empty() ? 0 : cv::countNonZero(cv::cvarrToMat(foreground)(now));
            const bool lost = now.empty() || on < m_minCoverage * BlobRect(t.blob).area();
            t.lost = lost ? t.lost + 1 : 0;
        }
        const bool outside = t.blob.x < 0 || t.blob.y < 0 || t.blob.x >= m_width || t.blob.y >= m_height;
        if (outside || t.lost >= m_lostFrames) m_tracks.erase(m_tracks.begin() + i);
        else ++i;
    }
}
