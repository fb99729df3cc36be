#pragma once
// One person-sized foreground region per video frame. The histogram
// segmentation blacks out the background of the frame in place; non-black
// pixels are counted in 32 x 32 (coarse) and 4 x 4 (fine) cells; from the
// densest coarse cell a box grows along the row and column projections of the
// fine counts. Box sides are therefore multiples of 4 pixels.
//
// Refusals never throw: they change nothing and record CV_StsBadArg or
// CV_StsBadSize in the calling thread's error status (cvcompat/errstatus.h).
#include <opencv2/core/types_c.h>

#include <fstream>
#include <vector>

#include "CV/bgfg_segmentation.h"

namespace CV::PeopleTracking {

// All zero when nothing was found. Rows grow downwards; the box's top row is
// used for the centre but not stored.
struct PersonMetric {
    bool found;
    int left;
    int bottom;
    int right;
    int reserved;
    float centreX;
    float centreY;
    int shape;      // 1 taller than wide by more than 20 pixels, 2 otherwise
    float motionX;  // previous centre minus this one; 0 after a frame without a person
    float motionY;
};

// The last `capacity` metrics, written round at writeIndex.
struct PersonMetricRing {
    explicit PersonMetricRing(int size = 100);
    ~PersonMetricRing();
    PersonMetricRing(const PersonMetricRing&) = delete;
    PersonMetricRing& operator=(const PersonMetricRing&) = delete;

    void Clear();
    void Push(const PersonMetric& metric);
    // The entry written last (the last slot when nothing was written yet).
    const PersonMetric& Previous() const;

    int writeIndex = 0;
    int lastIndex;
    int capacity;
    PersonMetric* entries;
};

class CPersonTracker {
public:
    CPersonTracker();
    ~CPersonTracker();
    // It holds an open output stream.
    CPersonTracker(const CPersonTracker&) = delete;
    CPersonTracker& operator=(const CPersonTracker&) = delete;

    // First-frame set-up: the background is seeded with this frame, the
    // history cleared, and with writeOutput the file "C:\TrackingOutput.txt"
    // is opened (truncated). ProcessVideoFrame calls it by itself; a second
    // call starts over.
    void Initialize(IplImage* frame);
    // Processes an 8-bit, 3-channel frame of the first frame's size in place:
    // background black, foreground filled and smoothed, box and centre drawn
    // when asked. The frame is never released.
    void ProcessVideoFrame(IplImage* frame);
    // Counts per cell x cell block the pixels whose first three bytes (or
    // fewer channels) are not all zero; partial cells at the right and
    // bottom are ignored. maximum gets the largest count (0 for none).
    void Histogram2D(IplImage* image, int* histogram, int cell, int* maximum);
    // Box search on the current frame's histograms (nothing before
    // Initialize). The last accepted coarse cell in raster order wins.
    void FindPerson();
    PersonMetric GetCurMetric();

    unsigned int GetFrameCount() const { return m_frameCount; }

    bool drawBox = false;
    bool drawCentre = false;
    // One line per frame: "count found centreX centreY code", where code is
    // 0 nothing, 1 wide, 2 tall; the centre is -1 -1 when nothing was found.
    bool writeOutput = false;

    CBackgroundForegroundSegmentation segmentation;

private:
    void Release();
    void WriteLine(bool found, float x, float y, int code);

    std::ofstream m_output;
    PersonMetricRing m_history;
    bool m_initialised = false;
    bool m_outputFailed = false;
    unsigned int m_frameCount = 0;
    IplImage* m_current = nullptr;  // the caller's frame once one was processed
    IplImage* m_work = nullptr;     // the seed frame's copy, owned
    IplImage* m_reference = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_rowMax = 0;
    int m_columnMax = 0;
    int m_coarseMax = 0;
    int m_fineMax = 0;
    int m_coarseCell = 32;
    int m_fineCell = 4;
    std::vector<int> m_coarse;
    std::vector<int> m_fine;
    std::vector<int> m_rows;
    std::vector<int> m_columns;
    PersonMetric m_metric{};
};

}  // namespace CV::PeopleTracking
