#pragma once
// Adaptive per-pixel background model: a mixture of Gaussian components over
// each pixel's colour, learnt with a sliding window (running match counts
// while the model has seen fewer than winSize frames, the fixed rate
// 1/winSize afterwards). Components are ranked by weight over spread; the
// leading ones whose weights add up past bgThreshold are background. The
// foreground mask is cleaned by contour area and a closing, and the kept
// regions are painted into the caller's frame.
//
// Colours are modelled as chromaticity x 255 (each channel over the pixel's
// channel sum) when that sum exceeds 10, raw otherwise; so every grey
// normalises to (85, 85, 85) and only colour differences are seen.
//
// Refusals never throw: they change nothing and record CV_StsBadArg or
// CV_StsBadSize in the calling thread's error status (cvcompat/errstatus.h).
#include <opencv2/core/types_c.h>

class CBGFGGaussMixParam {
public:
    CBGFGGaussMixParam();
    ~CBGFGGaussMixParam();
    CBGFGGaussMixParam(const CBGFGGaussMixParam&) = default;
    CBGFGGaussMixParam& operator=(const CBGFGGaussMixParam&) = default;

    int winSize;                  // L: learning rate 1/L; full-window rules from frame count L
    int nGauss;                   // components per pixel, 1..500, read at Initialize
    double bgThreshold;           // cumulative weight the background components must exceed
    double stdThreshold;          // match factor; initial variance 2 x stdThreshold^2
    double minArea;               // smallest bounding-box and contour area kept in the mask
    double weightInit;            // not used
    double varianceInit;          // per-channel variance of a component made for an unmatched pixel
    double shadowChromaDistance;  // shadow test: limit on the chromaticity distance
    double spareFactor;           // not used
    // Shadow test: a pixel and its background must both spread their channels
    // by more than this (sum of squared deviations from the grey mean); 100
    // is about 6 grey levels RMS, so greyer pixels stay foreground.
    double shadowSpread;
};

// One mixture component. Only the first three entries of mean and variance
// are used (the model takes 3-channel frames).
struct CBGFGGaussMixSample {
    double mean[3];
    double variance[3];
    double weight;
    int matchCount;
};

class CBGFGGaussMix {
public:
    static constexpr int kMaxGauss = 500;

    CBGFGGaussMix();
    // Copies are deep: each model owns its components, images and contours.
    CBGFGGaussMix(const CBGFGGaussMix& other);
    CBGFGGaussMix& operator=(const CBGFGGaussMix& other);
    ~CBGFGGaussMix();

    // One model step on an 8-bit, 3-channel frame of the first frame's size.
    // The first call only initialises (no mask, frame count stays 0). Later
    // calls paint the kept foreground regions into the frame.
    void ProcessFrame(IplImage* frame);
    // Builds the model from a frame, which is not changed. Refused: null,
    // not 8-bit 3-channel, nGauss outside 1..500, winSize < 1.
    void Initialize(IplImage* frame);

    // The functions below work on one pixel's block of components (nGauss
    // as captured at Initialize) and on the model's match flags and sort keys.
    int MatchTest(const unsigned char* pixel, CBGFGGaussMixSample* components);
    void UpdateWindow(const unsigned char* pixel, CBGFGGaussMixSample* components, int match);
    void UpdateWindowNoMatch(const unsigned char* pixel, CBGFGGaussMixSample* components);
    void UpdateWindowPart(const unsigned char* pixel, CBGFGGaussMixSample* components, int match);
    void UpdateWindowPartNoMatch(const unsigned char* pixel, CBGFGGaussMixSample* components);
    void GenerateSortKey(CBGFGGaussMixSample* components);
    // Insertion sort by descending key; equal keys keep their order. The
    // keys and the match flags move with their components.
    void SortGaussians(CBGFGGaussMixSample* components, double* keys);
    void BackgroundTest(unsigned char* maskByte, unsigned char* backgroundPixel, CBGFGGaussMixSample* components);
    void BackgroundTestWithShadow(unsigned char* pixel, unsigned char* maskByte, unsigned char* backgroundPixel,
                                  CBGFGGaussMixSample* components);
    // Keeps the mask regions whose bounding box and contour area reach
    // minArea (holes filled), closes the mask with a 3 x 3 square, and paints
    // the kept regions into the frame: outer contours green, holes blue.
    void PostProcessForeground(IplImage* frame);

    // 0 background, 255 foreground; owned by the model. Null before Initialize.
    IplImage* GetForeground();
    // The contours kept by the last PostProcessForeground, linked by h_next;
    // valid until the next frame. Null before any.
    CvSeq* GetContours();

    // Inspection: the rounded means of each pixel's dominant component (a
    // copy of the first frame until the second), the components of one
    // pixel, and the frames processed after the first.
    IplImage* GetBackground() { return m_background; }
    const CBGFGGaussMixSample* GetSamples(int x, int y) const;
    int GetFrameCount() const { return m_frameCount; }
    // Match flags and sort keys of the pixel processed last.
    const int* MatchedFlags() const { return m_matched; }
    double* SortKeys() { return m_sortKey; }

    CBGFGGaussMixParam param;

private:
    void Release();
    void CopyFrom(const CBGFGGaussMix& other);
    bool Accepts(const IplImage* frame, const char* function, int line) const;
    void Normalise(unsigned char* pixel) const;

    bool m_initialised = false;
    bool m_normalise = true;
    CBGFGGaussMixSample** m_table = nullptr;
    CBGFGGaussMixSample* m_block = nullptr;
    CvMemStorage* m_storage = nullptr;
    CvSeq* m_contours = nullptr;
    double m_alpha = 0.0;
    IplImage* m_background = nullptr;
    IplImage* m_foreground = nullptr;
    int m_channels = 0;
    int m_width = 0;
    int m_height = 0;
    int m_depth = 0;
    int m_nGauss = 0;  // captured at Initialize: the size of every pixel's block
    int m_matched[kMaxGauss] = {};
    double m_sortKey[kMaxGauss] = {};
    int m_frameCount = 0;
};
