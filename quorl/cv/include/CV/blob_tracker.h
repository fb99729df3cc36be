#pragma once
// Automatic blob tracking on a video stream: a foreground detector ("FG_1"),
// a blob detector ("BD_CC") and a mean-shift blob tracker ("MSFG"), picked
// from the module tables below and run by one auto tracker. Each frame the
// tracked blobs are drawn as ellipses into the caller's frame and, over the
// foreground mask, shown in the window "FG" through cvcompat::ShowImage.
//
// Each tracker owns its display image, so trackers on different frame sizes
// and on different threads do not meet. Copies share the auto tracker and its
// modules; the last owner releases them.
#include <cvcompat/blobtrack.h>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types_c.h>

#include <memory>

namespace CV::PeopleTracking {

// A row of a module table; a row of three nulls ends each table, and a
// "None" row has no create function.
struct VisionModuleEntry {
    CvVSModule* (*create)();
    const char* nickname;
    const char* description;
};

extern const VisionModuleEntry ForegroundDetectorTable[];
extern const VisionModuleEntry BlobDetectorTable[];
extern const VisionModuleEntry TrackGeneratorTable[];
extern const VisionModuleEntry BlobTrackerTable[];
extern const VisionModuleEntry TrackPostProcessTable[];
extern const VisionModuleEntry TrackAnalysisTable[];

// Current selections, each at its table's row 0. The tracker builds its
// modules from fixed rows and does not change them.
extern const VisionModuleEntry* ForegroundDetectorSelection;
extern const VisionModuleEntry* BlobDetectorSelection;
extern const VisionModuleEntry* TrackGeneratorSelection;
extern const VisionModuleEntry* BlobTrackerSelection;
extern const VisionModuleEntry* TrackPostProcessSelection;
extern const VisionModuleEntry* TrackAnalysisSelection;

class COCVBlobTracker {
public:
    COCVBlobTracker();
    COCVBlobTracker(const COCVBlobTracker& other);
    COCVBlobTracker& operator=(const COCVBlobTracker& other);
    ~COCVBlobTracker();

    // One tracking step on an 8-bit, 3-channel frame, which gets the blobs'
    // ellipses. A null frame runs no step and only shows the current mask;
    // another frame type is refused (CV_StsBadArg) and changes nothing.
    void ProcessFrame(IplImage* frame);

    // The auto tracker, shared with copies (null if it could not be made).
    CvBlobTrackerAuto* AutoTracker() const;

private:
    struct Modules;

    CvBlobTrackerAutoParam1 m_param{};
    std::shared_ptr<Modules> m_modules;
    cv::Mat m_display;
};

}  // namespace CV::PeopleTracking
