#pragma once
// The blob-tracking modules provided here, with their tuning values as public
// fields: set them, then call ParamUpdate(). Made by the create functions of
// cvcompat/blobtrack.h (reach the fields with dynamic_cast).
#include <opencv2/core/mat.hpp>
#include <opencv2/video/background_segm.hpp>

#include <vector>

#include "cvcompat/blobtrack.h"

// "FG_1": OpenCV's MOG2 per-pixel mixture, then 8-connected foreground
// components smaller than minComponent pixels are cleared.
class CvFGDetectorMixture : public CvFGDetector {
public:
    CvFGDetectorMixture();
    void Process(IplImage* frame) override;
    IplImage* GetMask() override;
    void ParamUpdate() override;

    int history = 200;
    int mixtures = 5;
    double varianceThreshold = 2.5 * 2.5;  // squared distance in standard deviations
    int minComponent = 15;

protected:
    ~CvFGDetectorMixture() override;

private:
    cv::Ptr<cv::BackgroundSubtractorMOG2> m_model;
    cv::Mat m_foreground;
    IplImage* m_mask = nullptr;
    int m_frames = 0;
    int m_width = 0;
    int m_height = 0;
    int m_minComponent = 15;
    double m_rate = 1.0 / 200;
};

// "BD_CC": a connected component of the mask becomes a blob once it was seen
// in confirmCalls consecutive calls, each continuing the last one.
class CvBlobDetectorCC : public CvBlobDetector {
public:
    int DetectNewBlob(IplImage* frame, IplImage* foreground, CvBlobSeq* newBlobs, CvBlobSeq* oldBlobs) override;
    void ParamUpdate() override;

    int minSide = 5;
    int confirmCalls = 3;

private:
    struct Candidate {
        float x, y, w, h;
        int calls;
    };
    std::vector<Candidate> m_candidates;
    int m_minSide = 5;
    int m_confirmCalls = 3;
};

// "MSFG": mean shift on colour-histogram weights limited to the foreground
// mask, with the blob size following the weights' spread.
class CvBlobTrackerMSFG : public CvBlobTracker {
public:
    CvBlob* AddBlob(CvBlob* blob, IplImage* frame, IplImage* foreground = nullptr) override;
    int GetBlobNum() override;
    CvBlob* GetBlob(int index) override;
    void DelBlob(int index) override;
    void Process(IplImage* frame, IplImage* foreground = nullptr) override;
    void ParamUpdate() override;

    int maxIterations = 10;
    double minShift = 1.0;          // pixels: mean shift stops under this step
    double sizeRate = 0.2;          // share of the way towards the measured size per frame
    double minCoverage = 0.05;      // mask share of the box below which a frame counts as lost
    int lostFrames = 5;             // lost frames in a row that delete a blob

private:
    struct Track {
        CvBlob blob;
        std::vector<float> model;
        int lost = 0;
    };
    bool Usable(const IplImage* frame, const IplImage* foreground, const char* function, int line);
    std::vector<Track> m_tracks;
    int m_maxIterations = 10;
    double m_minShift = 1.0;
    double m_sizeRate = 0.2;
    double m_minCoverage = 0.05;
    int m_lostFrames = 5;
    int m_width = 0;
    int m_height = 0;
};
