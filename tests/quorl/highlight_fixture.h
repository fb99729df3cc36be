#pragma once
// The shared scene of the reflection tests: two smoothly shaded diffuse
// patches side by side whose red and green chromaticities both differ by
// more than 0.05, and on the left one a white highlight with a sharp rim
// (+40 on every channel inside a disk). A smooth highlight lobe would not do:
// neighbouring maximum chromaticities would differ by less than 0.01 and
// every pair would be left as equal.
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace highlight_test {

// An owned 8-bit, 3-channel image (rows padded to 4 bytes by OpenCV).
class ColourImage {
public:
    ColourImage(int width, int height) : image_(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3)) {
        cvZero(image_);
    }
    ColourImage(const ColourImage& other) : image_(cvCloneImage(other.image_)) {}
    ColourImage& operator=(const ColourImage&) = delete;
    ~ColourImage() { cvReleaseImage(&image_); }

    IplImage* get() const { return image_; }
    int width() const { return image_->width; }
    int height() const { return image_->height; }
    unsigned char* At(int x, int y) const {
        return reinterpret_cast<unsigned char*>(image_->imageData) + y * image_->widthStep + 3 * x;
    }
    void Set(int x, int y, int b, int g, int r) const {
        unsigned char* p = At(x, y);
        p[0] = static_cast<unsigned char>(b);
        p[1] = static_cast<unsigned char>(g);
        p[2] = static_cast<unsigned char>(r);
    }
    bool SamePixel(const ColourImage& other, int x, int y) const { return std::memcmp(At(x, y), other.At(x, y), 3) == 0; }
    bool SameBytes(const ColourImage& other) const {
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x)
                if (!SamePixel(other, x, y)) return false;
        return true;
    }
    int MaxByteDifference(const ColourImage& other) const {
        int d = 0;
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x)
                for (int k = 0; k < 3; ++k) d = std::max(d, std::abs(At(x, y)[k] - other.At(x, y)[k]));
        return d;
    }

private:
    IplImage* image_;
};

inline float Sum(const unsigned char* p) { return static_cast<float>(p[0] + p[1] + p[2]); }
inline float MaxChroma(const unsigned char* p) { return std::max({p[0], p[1], p[2]}) / Sum(p); }

struct Scene {
    static constexpr int kWidth = 46, kHeight = 32;
    // Bytes 0, 1, 2 (blue, green, red) of the two patches at full light.
    static constexpr int kLeft[3] = {40, 90, 160};   // chromaticity r 0.55, g 0.31
    static constexpr int kRight[3] = {130, 110, 50};  // r 0.17, g 0.38
    double centreX = 11.0, centreY = 15.0, radius = 5.5;

    bool InHighlight(int x, int y) const { return std::hypot(x - centreX, y - centreY) <= radius; }

    ColourImage Diffuse() const {
        ColourImage image(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int* c = x < kWidth / 2 ? kLeft : kRight;
                const double shade = 0.75 + 0.15 * x / kWidth + 0.1 * y / kHeight;
                image.Set(x, y, static_cast<int>(c[0] * shade), static_cast<int>(c[1] * shade),
                          static_cast<int>(c[2] * shade));
            }
        return image;
    }

    ColourImage Highlighted() const {
        ColourImage image = Diffuse();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (InHighlight(x, y))
                    for (int k = 0; k < 3; ++k) image.At(x, y)[k] = static_cast<unsigned char>(image.At(x, y)[k] + 40);
        return image;
    }
};

// Checks a separation of Scene::Highlighted(): inside the highlight the
// maximum chromaticity is back within 0.02 of the patch's and the intensity
// within 3% of the diffuse one; every other pixel kept its bytes.
inline void ExpectHighlightRemoved(const Scene& scene, const ColourImage& result, const ColourImage& input) {
    const ColourImage diffuse = scene.Diffuse();
    const float patchChroma = 160.0f / 290.0f;
    for (int y = 0; y < Scene::kHeight; ++y)
        for (int x = 0; x < Scene::kWidth; ++x) {
            if (!scene.InHighlight(x, y)) {
                EXPECT_TRUE(result.SamePixel(input, x, y)) << "off the highlight at " << x << "," << y;
                continue;
            }
            EXPECT_NEAR(MaxChroma(result.At(x, y)), patchChroma, 0.02) << x << "," << y;
            const float expected = Sum(diffuse.At(x, y));
            EXPECT_NEAR(Sum(result.At(x, y)), expected, 0.03f * expected) << x << "," << y;
        }
}

}  // namespace highlight_test
