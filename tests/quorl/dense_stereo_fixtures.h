#pragma once
// Images, random texture and error capture shared by the dense stereo tests.
#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace dense_stereo_test {

struct ImageDeleter {
    void operator()(IplImage* im) const { cvReleaseImage(&im); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

// cvCreateImage pads rows to four bytes; the padding gets random bytes too so
// that reading it shows.
inline Image RandomImage(int w, int h, int channels, std::mt19937& rng) {
    Image im(cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, channels));
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < im->imageSize; ++i) im->imageData[i] = static_cast<char>(byte(rng));
    return im;
}

inline Image FilledImage(int w, int h, int channels, int value) {
    Image im(cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, channels));
    std::memset(im->imageData, value, static_cast<size_t>(im->imageSize));
    return im;
}

inline unsigned char* Px(IplImage* im, int x, int y) {
    return reinterpret_cast<unsigned char*>(im->imageData) + static_cast<size_t>(y) * im->widthStep +
           static_cast<size_t>(x) * im->nChannels;
}

// Collects the reports made while it lives, silently.
class ErrorCapture {
public:
    ErrorCapture() {
        cvcompat::ClearErrStatus();
        previous_ = cvcompat::SetErrorHandler([this](const cvcompat::ErrorReport& r) { reports.push_back(r); });
    }
    ~ErrorCapture() {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    std::vector<cvcompat::ErrorReport> reports;

private:
    cvcompat::ErrorHandler previous_;
};

}  // namespace dense_stereo_test
