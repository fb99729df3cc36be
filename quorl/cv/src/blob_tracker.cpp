#include "CV/blob_tracker.h"

#include <cvcompat/display.h>
#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "blob_drawing.h"

namespace CV::PeopleTracking {
namespace {

constexpr const char* kSource = "blob_tracker.cpp";

template <auto Create>
CvVSModule* Module() {
    return Create();
}

CvVSModule* MakeFG0() { return cvCreateFGDetectorBase(0, nullptr); }
CvVSModule* MakeFG0S() { return cvCreateFGDetectorBase(2, nullptr); }
CvVSModule* MakeFG1() { return cvCreateFGDetectorBase(1, nullptr); }

// Releases through the module's own Release, which a null never needs.
void ReleaseModule(CvVSModule* module) {
    if (module) module->Release();
}

}  // namespace

const VisionModuleEntry ForegroundDetectorTable[] = {
    {MakeFG0, "FG_0", "Foreground Object Detection from Videos Containing Complex Background. ACM MM2003."},
    {MakeFG0S, "FG_0S", "Simplyfied version of FG_0"},
    {MakeFG1, "FG_1", "Adaptive background mixture models for real-time tracking. CVPR1999"},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry BlobDetectorTable[] = {
    {Module<cvCreateBlobDetectorCC>, "BD_CC", "Detect new blob by tracking CC of FG mask"},
    {Module<cvCreateBlobDetectorSimple>, "BD_Simple",
     "Detect new blob by uniform moving of connected components of FG mask"},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry TrackGeneratorTable[] = {
    {Module<cvCreateModuleBlobTrackGenYML>, "YML", "Generate track record in YML format as synthetic video data"},
    {Module<cvCreateModuleBlobTrackGen1>, "RawTracks", "Generate raw track record (x,y,sx,sy),()... in each line"},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry BlobTrackerTable[] = {
    {Module<cvCreateBlobTrackerCCMSPF>, "CCMSPF", "connected component tracking and MSPF resolver for collision"},
    {Module<cvCreateBlobTrackerCC>, "CC", "Simple connected component tracking"},
    {Module<cvCreateBlobTrackerMS>, "MS", "Mean shift algorithm "},
    {Module<cvCreateBlobTrackerMSFG>, "MSFG", "Mean shift algorithm with FG mask using"},
    {Module<cvCreateBlobTrackerMSPF>, "MSPF", "Particle filtering based on MS weight"},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry TrackPostProcessTable[] = {
    {Module<cvCreateModuleBlobTrackPostProcKalman>, "Kalman", "Kalman filtering of blob position and size"},
    {nullptr, "None", "No post processing filter"},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry TrackAnalysisTable[] = {
    {Module<cvCreateModuleBlobTrackAnalysisHistPVS>, "HistPVS",
     "Histogramm of 5D feture vector analysis (x,y,vx,vy,state)"},
    {nullptr, "None", "No trajectory analiser"},
    {Module<cvCreateModuleBlobTrackAnalysisHistP>, "HistP", "Histogramm of 2D feture vector analysis (x,y)"},
    {Module<cvCreateModuleBlobTrackAnalysisHistPV>, "HistPV", "Histogramm of 4D feture vector analysis (x,y,vx,vy)"},
    {Module<cvCreateModuleBlobTrackAnalysisHistSS>, "HistSS",
     "Histogramm of 4D feture vector analysis (startpos,endpos)"},
    {Module<cvCreateModuleBlobTrackAnalysisTrackDist>, "TrackDist", "Compare tracks directly"},
    {Module<cvCreateModuleBlobTrackAnalysisIOR>, "IOR", "Integrator (by OR operation) of several analysers "},
    {nullptr, nullptr, nullptr},
};

const VisionModuleEntry* ForegroundDetectorSelection = ForegroundDetectorTable;
const VisionModuleEntry* BlobDetectorSelection = BlobDetectorTable;
const VisionModuleEntry* TrackGeneratorSelection = TrackGeneratorTable;
const VisionModuleEntry* BlobTrackerSelection = BlobTrackerTable;
const VisionModuleEntry* TrackPostProcessSelection = TrackPostProcessTable;
const VisionModuleEntry* TrackAnalysisSelection = TrackAnalysisTable;

// The auto tracker and the modules it runs; the auto tracker goes first, as
// it holds the others.
struct COCVBlobTracker::Modules {
    CvFGDetector* fg = nullptr;
    CvBlobDetector* bd = nullptr;
    CvBlobTracker* bt = nullptr;
    CvBlobTrackerAuto* tracker = nullptr;

    ~Modules() {
        ReleaseModule(tracker);
        ReleaseModule(fg);
        ReleaseModule(bd);
        ReleaseModule(bt);
    }
};

namespace {

// Creates a row's module, names it and lets it read its parameters.
template <class T>
T* Create(const VisionModuleEntry& row) {
    CvVSModule* module = row.create ? row.create() : nullptr;
    T* typed = dynamic_cast<T*>(module);
    if (!typed) {
        ReleaseModule(module);
        return nullptr;
    }
    typed->SetNickName(row.nickname);
    typed->ParamUpdate();
    return typed;
}

}  // namespace

COCVBlobTracker::COCVBlobTracker() : m_modules(std::make_shared<Modules>()) {
    Modules& m = *m_modules;
    m.fg = Create<CvFGDetector>(ForegroundDetectorTable[2]);
    m.bd = Create<CvBlobDetector>(BlobDetectorTable[0]);
    m.bt = Create<CvBlobTracker>(BlobTrackerTable[3]);
    m_param.FGTrainFrames = 1;
    m_param.pFG = m.fg;
    m_param.pBD = m.bd;
    m_param.pBT = m.bt;
    m_param.pBTGen = nullptr;
    m_param.pBTPP = nullptr;
    // No post-processing module is given, so its output is not used.
    m_param.UsePPData = 0;
    m_param.pBTA = nullptr;
    m.tracker = cvCreateBlobTrackerAuto1(&m_param);
}

COCVBlobTracker::COCVBlobTracker(const COCVBlobTracker& other)
    : m_param(other.m_param), m_modules(other.m_modules) {}

COCVBlobTracker& COCVBlobTracker::operator=(const COCVBlobTracker& other) {
    m_param = other.m_param;
    m_modules = other.m_modules;
    return *this;
}

COCVBlobTracker::~COCVBlobTracker() = default;

CvBlobTrackerAuto* COCVBlobTracker::AutoTracker() const { return m_modules ? m_modules->tracker : nullptr; }

void COCVBlobTracker::ProcessFrame(IplImage* frame) {
    CvBlobTrackerAuto* tracker = AutoTracker();
    if (!tracker) return;
    if (frame) {
        if (!frame->imageData || frame->depth != IPL_DEPTH_8U || frame->nChannels != 3)
            return cvcompat::ReportError(CV_StsBadArg, "COCVBlobTracker::ProcessFrame",
                                         "Frame must be 8-bit with 3 channels", kSource, __LINE__);
        tracker->Process(frame, nullptr);
    }

    const int blobs = tracker->GetBlobNum();
    if (IplImage* mask = tracker->GetFGMask()) {
        const cv::Mat m = cv::cvarrToMat(mask);
        cv::cvtColor(m, m_display, cv::COLOR_GRAY2BGR);
        for (int i = blobs - 1; i >= 0; --i) {
            const CvBlob& b = *tracker->GetBlob(i);
            detail::DrawBlobEllipse(m_display, detail::ViewEllipse(b, tracker->GetState(b.ID)));
        }
        const IplImage view = cvIplImage(m_display);
        cvcompat::ShowImage("FG", &view);
    }

    if (frame) {
        cv::Mat image = cv::cvarrToMat(frame);
        for (int i = blobs - 1; i >= 0; --i) {
            const CvBlob& b = *tracker->GetBlob(i);
            detail::DrawBlobEllipse(image, detail::FrameEllipse(b, tracker->GetState(b.ID)));
        }
    }
}

}  // namespace CV::PeopleTracking
