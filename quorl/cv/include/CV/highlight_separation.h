#pragma once
// Removal of specular highlights from an 8-bit, 3-channel colour image by the
// specular-free-image (SFI) method: every pixel's maximum chromaticity is
// pushed to a fixed value to build the SFI, neighbours whose logarithmic
// intensity difference in the image and in the SFI disagree are flagged, and
// over a threshold sweep from 0.5 down to 0 the pixel with the smaller
// maximum chromaticity of each flagged pair is moved to the other's, which
// subtracts its specular part. The diffuse image is written over the input.
//
// Buffer index: pixel (x, y) of a W x H image is 4 x (y x W + x) in every
// internal buffer and in the active list; SpecularToDiffuse takes it so.
//
// Refusals never throw: they change nothing, return the failure value where
// there is a result, and record CV_StsBadArg or CV_StsBadSize in the calling
// thread's error status (cvcompat/errstatus.h).
#include <opencv2/core/types_c.h>

#include <vector>

namespace CV::Reflection {

class CSpecularitySeparation {
public:
    // Labels held in the fourth float of every pixel record.
    static constexpr float kUnlabelled = 0.0f;
    static constexpr float kHorizontalFailed = 10.0f;
    static constexpr float kVerticalFailed = 11.0f;
    static constexpr float kDiffuse = 12.0f;
    static constexpr float kColourBoundary = 13.0f;
    static constexpr float kEqualChroma = 14.0f;
    // Camera-dark or not representable: never cleared, never adjusted.
    static constexpr float kDark = 15.0f;

    CSpecularitySeparation();
    // Copies are deep: each object owns its own buffers.
    CSpecularitySeparation(const CSpecularitySeparation& other);
    CSpecularitySeparation& operator=(const CSpecularitySeparation& other);
    ~CSpecularitySeparation();

    // Channel 2 is divided by r, channel 1 by g and channel 0 by b on input and
    // multiplied back on output. Zero, negative or non-finite values are
    // refused and the previous ones kept.
    void SetIlluminationChroma(float r, float g, float b);

    // Builds the buffers from a 3-byte-per-pixel image (rows step bytes
    // apart, step >= 3 x width). Buffers of the same size are reused. 0, or
    // -1 when refused.
    int Initialize(unsigned char* image, int width, int height, int step, int ignored);

    // Labelling passes: the number of pixels labelled 10 or 11 (0 before any
    // Initialize).
    int LogDiff(float threshold);
    int LogDiff_Fast(float threshold);
    int LogDiff_FastInner(float threshold);

    // Moves the pixel at a buffer index to the given maximum chromaticity.
    // 0 on success; 1 when refused: the adjustment would take a channel to 0
    // or below (the pixel is labelled 14), the index is not a pixel's, the
    // chromaticity is not finite or at most 1/3, or no buffers exist.
    int SpecularToDiffuse(int index, float chromaticity);

    int Iteration(float threshold);
    int Iteration_Fast(float threshold);
    int ResetLabels();

    // The whole separation in place on image; the pointer and int arguments
    // after the first are ignored. 0, or -1 when refused.
    int SeparateSpecularAndDiffuse(unsigned char* image, unsigned char* ignored1, unsigned char* ignored2,
                                   int width, int height, int step, int ignored3);
    int SeparateSpecularAndDiffuse_Fast(unsigned char* image, unsigned char* ignored1,
                                        unsigned char* ignored2, int width, int height, int step,
                                        int ignored3);

    // Copies the SFI of the last separation into out, clamped to 0..255.
    // step <= 0 means rows packed. -1 (nothing written) before any
    // separation, for another size, bytesPerPixel < 3, or
    // 0 < step < width x bytesPerPixel; otherwise 0.
    int GetSfiImage(unsigned char* out, int width, int height, int step, int bytesPerPixel);

    // These three take 8-bit, 3-channel images only.
    void ProcessFrame(IplImage* frame);
    // One pass, no neighbours: each pixel loses what the diffuse chromaticity
    // below says is specular, where that reduction is positive and leaves
    // every channel above 1.
    void SpecularFreeImage(IplImage* image);
    // The image becomes white where its smoothed grey level exceeds 200, black
    // elsewhere.
    void ProcessFrameDetect(IplImage* image);
    // Kept for callers; it has no lasting effect.
    void SeparateComponents(IplImage* image);

    // Tuning values, set directly by callers.
    float m_onePassDiffuseChroma = 0.45f;  // SpecularFreeImage
    float m_onePassDarkLevel = 10.0f;
    float m_onePassSaturationLevel = 250.0f;
    float m_boundaryThresholdChroma2 = 0.05f;
    float m_boundaryThresholdChroma1 = 0.05f;
    float m_thresholdStep = 0.01f;
    float m_firstThreshold = 0.5f;
    float m_lastThreshold = 0.0f;
    float m_darkLevel = 10.0f;
    float m_equalChromaTolerance = 0.01f;
    float m_sfiChroma = 0.5f;  // Λ, the SFI's maximum chromaticity

private:
    bool HasBuffers() const { return m_pixels != nullptr; }
    void ReleaseBuffers();
    void AllocateBuffers(int width, int height);
    void CopyFrom(const CSpecularitySeparation& other);
    bool TestPixel(int index, float threshold);
    void AdjustPair(int p, int n);
    void HandlePixel(int p);
    int Separate(unsigned char* image, int width, int height, int step, bool fast);
    void WriteBack(unsigned char* image) const;
    float Label(int index) const { return m_pixels[index + 3]; }
    void SetLabel(int index, float label) { m_pixels[index + 3] = label; }

    float* m_pixels = nullptr;  // c0, c1, c2 (bytes over illumination), label
    float* m_sfi = nullptr;     // three SFI channels, their sum
    float* m_chroma = nullptr;  // c0/S, c1/S, c2/S, M/S
    float* m_totals = nullptr;  // S, M, unused, unused
    int m_width = 0;
    int m_height = 0;
    int m_step = 0;
    int m_bytesPerPixel = 3;
    int m_rowGap = 0;
    int m_floatsPerRow = 0;
    float m_illumination2 = 1.0f;
    float m_illumination1 = 1.0f;
    float m_illumination0 = 1.0f;
    std::vector<int> m_active;
};

}  // namespace CV::Reflection
