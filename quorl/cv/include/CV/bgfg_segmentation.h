#pragma once
// Per-pixel grey-level histogram background model. Every pixel counts its
// grey levels in 9 bins of 30 levels; the background value is a bin's centre
// (30 x bin + 15), and the most voted bin takes over only when it leads the
// current background's bin by more than 30 votes. A pixel within 30 grey
// levels of its background is background and turns black in the output.
// The votes never decay.
//
// Grey is taken with conversion code 7 (CV_RGB2GRAY), so the first byte of a
// B, G, R pixel is weighted as red: the channels are swapped, as the model
// has always done.
//
// Refusals never throw: they change nothing and record CV_StsBadArg or
// CV_StsBadSize in the calling thread's error status (cvcompat/errstatus.h).
#include <opencv2/core/types_c.h>

#include <vector>

class CBackgroundForegroundSegmentation {
public:
    CBackgroundForegroundSegmentation();
    // Copies are deep: each object owns its images and votes.
    CBackgroundForegroundSegmentation(const CBackgroundForegroundSegmentation& other);
    CBackgroundForegroundSegmentation& operator=(const CBackgroundForegroundSegmentation& other);
    ~CBackgroundForegroundSegmentation();

    // Seeds background and votes from an 8-bit, 3-channel frame; a second
    // call starts over at the new frame's size.
    void Initialize(IplImage* frame);
    // Updates the model with frame (8-bit, 3 channels, the first frame's
    // size) and blacks out the background pixels of out (8-bit, that size,
    // any channel count; may be frame itself). Nothing before Initialize.
    void Process(IplImage* frame, IplImage* out);
    // Fills and cleans the 3-byte foreground image in place over the size of
    // sizeImage: a pixel between two set neighbours becomes white, between
    // two clear ones black, first along rows, then along columns. The second
    // image and the threshold are not used.
    void PostFilterForeground(IplImage* sizeImage, IplImage* referenceImage, IplImage* image, float threshold);

    // The grey background values (null before Initialize).
    const IplImage* Background() const { return m_background; }

    // false: foreground keeps its colour; true: it becomes 255 in every byte.
    bool markForeground = false;

private:
    void Release();
    void CopyFrom(const CBackgroundForegroundSegmentation& other);
    int* Votes(int bin) { return m_votes.data() + static_cast<size_t>(bin) * m_width * m_height; }

    int m_width = 0;
    int m_height = 0;
    int m_binWidth = 30;
    int m_binCentre = 15;
    int m_binCount = 9;
    int m_switchMargin = 30;
    int m_differenceThreshold = 30;
    IplImage* m_grey = nullptr;
    IplImage* m_background = nullptr;
    std::vector<int> m_votes;  // m_binCount planes of width x height counters
};
