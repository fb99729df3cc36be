#include "CV/bgfg_segmentation.h"

#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <cstdlib>

#include "MVG/ip_operations.h"

namespace {

constexpr const char* kSource = "bgfg_segmentation.cpp";

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool IsColourFrame(const IplImage* frame) {
    return frame && frame->imageData && frame->depth == IPL_DEPTH_8U && frame->nChannels == 3;
}

unsigned char* Row(IplImage* image, int y) {
    return reinterpret_cast<unsigned char*>(image->imageData) + static_cast<size_t>(y) * image->widthStep;
}

}  // namespace

CBackgroundForegroundSegmentation::CBackgroundForegroundSegmentation() = default;

CBackgroundForegroundSegmentation::CBackgroundForegroundSegmentation(const CBackgroundForegroundSegmentation& other) {
    CopyFrom(other);
}

CBackgroundForegroundSegmentation& CBackgroundForegroundSegmentation::operator=(
    const CBackgroundForegroundSegmentation& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CBackgroundForegroundSegmentation::~CBackgroundForegroundSegmentation() { Release(); }

void CBackgroundForegroundSegmentation::Release() {
    if (m_grey) cvReleaseImage(&m_grey);
    if (m_background) cvReleaseImage(&m_background);
    m_votes.clear();
    m_width = m_height = 0;
}

void CBackgroundForegroundSegmentation::CopyFrom(const CBackgroundForegroundSegmentation& other) {
    Release();
    markForeground = other.markForeground;
    m_width = other.m_width;
    m_height = other.m_height;
    m_binWidth = other.m_binWidth;
    m_binCentre = other.m_binCentre;
    m_binCount = other.m_binCount;
    m_switchMargin = other.m_switchMargin;
    m_differenceThreshold = other.m_differenceThreshold;
    if (other.m_grey) m_grey = cvCloneImage(other.m_grey);
    if (other.m_background) m_background = cvCloneImage(other.m_background);
    m_votes = other.m_votes;
}

void CBackgroundForegroundSegmentation::Initialize(IplImage* frame) {
    static constexpr const char* kFunction = "CBackgroundForegroundSegmentation::Initialize";
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", __LINE__);
    Release();
    m_width = frame->width;
    m_height = frame->height;
    m_binWidth = 30;
    m_switchMargin = 30;
    m_differenceThreshold = 30;
    m_binCentre = 15;
    m_binCount = 9;
    m_votes.assign(static_cast<size_t>(m_binCount) * m_width * m_height, 0);
    m_grey = cvCreateImage(cvSize(m_width, m_height), IPL_DEPTH_8U, 1);
    m_background = cvCreateImage(cvSize(m_width, m_height), IPL_DEPTH_8U, 1);
    cvCvtColor(frame, m_background, CV_RGB2GRAY);
    for (int y = 0; y < m_height; ++y) {
        const unsigned char* b = Row(m_background, y);
        for (int x = 0; x < m_width; ++x) ++Votes(b[x] / m_binWidth)[y * m_width + x];
    }
}

void CBackgroundForegroundSegmentation::Process(IplImage* frame, IplImage* out) {
    static constexpr const char* kFunction = "CBackgroundForegroundSegmentation::Process";
    if (!m_background) return;
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", __LINE__);
    if (!out || !out->imageData || out->depth != IPL_DEPTH_8U)
        return Refuse(CV_StsBadArg, kFunction, "Output must be an 8-bit image", __LINE__);
    if (frame->width != m_width || frame->height != m_height || out->width != m_width || out->height != m_height)
        return Refuse(CV_StsBadSize, kFunction, "Image size differs from the first frame's", __LINE__);

    cvCvtColor(frame, m_grey, CV_RGB2GRAY);
    const int channels = out->nChannels;
    for (int y = 0; y < m_height; ++y) {
        const unsigned char* g = Row(m_grey, y);
        unsigned char* b = Row(m_background, y);
        unsigned char* o = Row(out, y);
        for (int x = 0; x < m_width; ++x) {
            const int p = y * m_width + x;
            const int bin = g[x] / m_binWidth;
            const int votes = ++Votes(bin)[p];
            if (Votes(b[x] / m_binWidth)[p] < votes - m_switchMargin)
                b[x] = static_cast<unsigned char>(m_binWidth * bin + m_binCentre);
            unsigned char* pixel = o + x * channels;
            if (std::abs(g[x] - b[x]) <= m_differenceThreshold) {
                for (int k = 0; k < channels; ++k) pixel[k] = 0;
            } else if (markForeground) {
                for (int k = 0; k < channels; ++k) pixel[k] = 255;
            }
        }
    }
}

void CBackgroundForegroundSegmentation::PostFilterForeground(IplImage* sizeImage, IplImage* referenceImage,
                                                             IplImage* image, float threshold) {
    static constexpr const char* kFunction = "CBackgroundForegroundSegmentation::PostFilterForeground";
    if (!sizeImage || !IsColourFrame(image))
        return Refuse(CV_StsBadArg, kFunction, "Image must be 8-bit with 3 channels", __LINE__);
    if (image->width < sizeImage->width || image->height < sizeImage->height)
        return Refuse(CV_StsBadSize, kFunction, "Image smaller than the size image", __LINE__);
    // A header over the image's top-left part of the size image's size: the
    // filter works on exactly that part.
    IplImage view = *image;
    view.roi = nullptr;
    view.width = sizeImage->width;
    view.height = sizeImage->height;
    IP::PostFilterForeground(sizeImage, referenceImage, &view, threshold);
}
