#pragma once
// Owned IplImage frames for the background-model and tracker tests.
#include <opencv2/core/core_c.h>

#include <array>
#include <cstring>
#include <memory>

namespace tracking_test {

struct ImageDeleter {
    void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

inline Image MakeImage(int width, int height, int channels = 3) {
    Image image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, channels));
    cvSetZero(image.get());
    return image;
}

inline Image Clone(const IplImage* image) { return Image(cvCloneImage(image)); }

inline unsigned char* At(IplImage* image, int x, int y) {
    return reinterpret_cast<unsigned char*>(image->imageData) + y * image->widthStep + x * image->nChannels;
}

inline void Fill(IplImage* image, int x0, int y0, int w, int h, std::array<unsigned char, 3> bgr) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) std::memcpy(At(image, x, y), bgr.data(), 3);
}

inline std::array<unsigned char, 3> Pixel(IplImage* image, int x, int y) {
    const unsigned char* p = At(image, x, y);
    return {p[0], p[1], p[2]};
}

inline bool SameBytes(const IplImage* a, const IplImage* b) {
    if (a->width != b->width || a->height != b->height || a->nChannels != b->nChannels) return false;
    for (int y = 0; y < a->height; ++y)
        if (std::memcmp(a->imageData + y * a->widthStep, b->imageData + y * b->widthStep,
                        static_cast<size_t>(a->width) * a->nChannels) != 0)
            return false;
    return true;
}

}  // namespace tracking_test
