#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "cvcompat/blobtrack_modules.h"
#include "cvcompat/errstatus.h"

namespace {

constexpr const char* kSource = "blobtrack_fg.cpp";
constexpr const char* kFunction = "CvFGDetectorMixture::Process";

}  // namespace

CvFGDetectorMixture::CvFGDetectorMixture() { ParamUpdate(); }

CvFGDetectorMixture::~CvFGDetectorMixture() {
    if (m_mask) cvReleaseImage(&m_mask);
}

void CvFGDetectorMixture::ParamUpdate() {
    if (!m_model) m_model = cv::createBackgroundSubtractorMOG2(history, varianceThreshold, false);
    m_model->setHistory(history);
    m_model->setNMixtures(mixtures);
    m_model->setVarThreshold(varianceThreshold);
    m_model->setDetectShadows(false);
    m_minComponent = minComponent;
    // A fixed rate of one history length. MOG2's own default starts at
    // 1/(2 x frames seen), which takes a slowly moving object into the
    // background within a few frames of a short warm-up.
    m_rate = history > 0 ? 1.0 / history : 1.0;
}

void CvFGDetectorMixture::Process(IplImage* frame) {
    if (!frame || !frame->imageData || frame->depth != IPL_DEPTH_8U || frame->nChannels != 3)
        return cvcompat::ReportError(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", kSource, __LINE__);
    if (m_frames == 0) {
        m_width = frame->width;
        m_height = frame->height;
    } else if (frame->width != m_width || frame->height != m_height) {
        return cvcompat::ReportError(CV_StsBadSize, kFunction, "Frame size differs from the first frame's", kSource,
                                     __LINE__);
    }
    const cv::Mat input = cv::cvarrToMat(frame);
    if (!cvcompat::Guarded([&] { m_model->apply(input, m_foreground, m_frames == 0 ? -1.0 : m_rate); })) return;
    ++m_frames;
    if (m_frames < 2) return;

    // Specks: 8-connected components under m_minComponent pixels.
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(m_foreground, labels, stats, centroids, 8, CV_32S);
    std::vector<unsigned char> clear(count, 0);
    bool any = false;
    for (int i = 1; i < count; ++i)
        if (stats.at<int>(i, cv::CC_STAT_AREA) < m_minComponent) clear[i] = 1, any = true;
    if (any)
        for (int y = 0; y < labels.rows; ++y) {
            const int* l = labels.ptr<int>(y);
            unsigned char* f = m_foreground.ptr<unsigned char>(y);
            for (int x = 0; x < labels.cols; ++x)
                if (clear[l[x]]) f[x] = 0;
        }

    if (!m_mask) m_mask = cvCreateImage(cvSize(m_width, m_height), IPL_DEPTH_8U, 1);
    cv::Mat mask = cv::cvarrToMat(m_mask);
    m_foreground.copyTo(mask);
}

IplImage* CvFGDetectorMixture::GetMask() { return m_mask; }
