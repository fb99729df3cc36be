#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

#include "cvcompat/blobtrack_modules.h"

namespace {

struct Box {
    float x0, y0, x1, y1;
};

Box BlobBox(const CvBlob& b) { return {b.x - 0.5f * b.w, b.y - 0.5f * b.h, b.x + 0.5f * b.w, b.y + 0.5f * b.h}; }

bool Overlap(const Box& a, const Box& b) { return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1; }

}  // namespace

void CvBlobDetectorCC::ParamUpdate() {
    m_minSide = minSide;
    m_confirmCalls = confirmCalls;
}

int CvBlobDetectorCC::DetectNewBlob(IplImage*, IplImage* foreground, CvBlobSeq* newBlobs, CvBlobSeq* oldBlobs) {
    if (!foreground || !foreground->imageData || foreground->depth != IPL_DEPTH_8U || foreground->nChannels != 1) {
        m_candidates.clear();
        return 0;
    }
    const cv::Mat mask = cv::cvarrToMat(foreground);
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);

    std::vector<Candidate> next;
    std::vector<unsigned char> taken(m_candidates.size(), 0);
    int added = 0;
    for (int i = 1; i < count; ++i) {
        const int x = stats.at<int>(i, cv::CC_STAT_LEFT), y = stats.at<int>(i, cv::CC_STAT_TOP);
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH), h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        if (w < m_minSide || h < m_minSide) continue;
        if (x == 0 || y == 0 || x + w == mask.cols || y + h == mask.rows) continue;
        const Box box{float(x), float(y), float(x + w), float(y + h)};
        bool tracked = false;
        for (int k = 0; oldBlobs && k < oldBlobs->GetBlobNum(); ++k)
            tracked = tracked || Overlap(box, BlobBox(*oldBlobs->GetBlob(k)));
        if (tracked) continue;

        Candidate c{x + 0.5f * w, y + 0.5f * h, float(w), float(h), 1};
        int best = -1;
        float bestDistance = std::numeric_limits<float>::max();
        for (size_t k = 0; k < m_candidates.size(); ++k) {
            if (taken[k]) continue;
            const Candidate& old = m_candidates[k];
            const float d = std::hypot(old.x - c.x, old.y - c.y);
            if (d <= 0.5f * std::max(old.w, old.h) && d < bestDistance) {
                best = static_cast<int>(k);
                bestDistance = d;
            }
        }
        if (best >= 0) {
            taken[best] = 1;
            c.calls = m_candidates[best].calls + 1;
        }
        if (c.calls >= m_confirmCalls) {
            if (newBlobs) {
                const CvBlob blob = cvBlob(c.x, c.y, c.w, c.h);
                newBlobs->AddBlob(&blob);
            }
            ++added;
        } else {
            next.push_back(c);
        }
    }
    // Candidates not continued in this call lapse.
    m_candidates = std::move(next);
    return added;
}
