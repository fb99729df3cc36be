#pragma once
// Blob-tracking modules under their OpenCV 1.x names, which OpenCV 4 no
// longer ships: a foreground detector, a blob detector, a blob tracker and
// the automatic tracker that runs them on a video stream. The interfaces are
// declared here from what callers use; the modules behind them are our own.
//
// Frames are 8-bit with 3 channels (B, G, R). A module keeps the size of the
// first frame it sees; a frame unlike it in size or type is ignored and a
// status recorded (cvcompat/errstatus.h). Nothing throws.
//
// Modules are made by the cvCreate... functions and end with Release().
#include <opencv2/core/types_c.h>

#include <string>
#include <vector>

// Centre (x, y) and full size (w, h) in pixels.
struct CvBlob {
    float x;
    float y;
    float w;
    float h;
    int ID;
};

inline CvBlob cvBlob(float x, float y, float w, float h) { return CvBlob{x, y, w, h, 0}; }

class CvBlobSeq {
public:
    // Null when out of range. Pointers stay valid until the sequence changes.
    CvBlob* GetBlob(int index);
    CvBlob* GetBlobByID(int id);
    void AddBlob(const CvBlob* blob);
    void DelBlob(int index);
    void DelBlobByID(int id);
    void Clear();
    int GetBlobNum() const;

private:
    std::vector<CvBlob> m_blobs;
};

class CvVSModule {
public:
    CvVSModule(const CvVSModule&) = delete;
    CvVSModule& operator=(const CvVSModule&) = delete;

    // Keeps its own copy; null clears it.
    void SetNickName(const char* name);
    // Null when none was set.
    const char* GetNickName() const;
    // Re-reads the module's public parameter fields.
    virtual void ParamUpdate() {}
    virtual void Release() { delete this; }

protected:
    CvVSModule() = default;
    virtual ~CvVSModule();

private:
    std::string m_nickName;
    bool m_hasNickName = false;
};

class CvFGDetector : public CvVSModule {
public:
    // Never writes the frame.
    virtual void Process(IplImage* frame) = 0;
    // 8-bit, 1 channel, 255 foreground; owned by the detector. Null before
    // it has one.
    virtual IplImage* GetMask() = 0;
};

class CvBlobDetector : public CvVSModule {
public:
    // Adds blobs found in the foreground mask to newBlobs, leaving out those
    // over a blob of oldBlobs; returns the number added.
    virtual int DetectNewBlob(IplImage* frame, IplImage* foreground, CvBlobSeq* newBlobs, CvBlobSeq* oldBlobs) = 0;
};

class CvBlobTracker : public CvVSModule {
public:
    virtual CvBlob* AddBlob(CvBlob* blob, IplImage* frame, IplImage* foreground = nullptr) = 0;
    virtual int GetBlobNum() = 0;
    virtual CvBlob* GetBlob(int index) = 0;
    virtual CvBlob* GetBlobByID(int id);
    virtual void DelBlob(int index) = 0;
    virtual void Process(IplImage* frame, IplImage* foreground = nullptr) = 0;
};

// Module kinds whose implementations are not provided (their create
// functions return null).
class CvBlobTrackGen : public CvVSModule {};
class CvBlobTrackPostProc : public CvVSModule {};
class CvBlobTrackAnalysis : public CvVSModule {};

class CvBlobTrackerAuto : public CvVSModule {
public:
    virtual void Process(IplImage* frame, IplImage* mask = nullptr) = 0;
    virtual CvBlob* GetBlob(int index) = 0;
    virtual CvBlob* GetBlobByID(int id) = 0;
    virtual int GetBlobNum() = 0;
    // This frame's foreground mask, or null.
    virtual IplImage* GetFGMask() = 0;
    // 0..1 (0 normal) and a description, or null, for a blob ID.
    virtual float GetState(int blobID) = 0;
    virtual const char* GetStateDesc(int blobID) = 0;
};

// The modules are held, not owned: the caller releases them after the auto
// tracker.
struct CvBlobTrackerAutoParam1 {
    int FGTrainFrames;  // frames the foreground detector learns before blobs are detected
    CvFGDetector* pFG;
    CvBlobDetector* pBD;
    CvBlobTracker* pBT;
    CvBlobTrackGen* pBTGen;
    CvBlobTrackPostProc* pBTPP;
    int UsePPData;
    CvBlobTrackAnalysis* pBTA;
};

// Type 1: an adaptive Gaussian-mixture detector ("FG_1"); param is ignored.
// Types 0 and 2 are not provided: null.
CvFGDetector* cvCreateFGDetectorBase(int type, void* param);

CvBlobDetector* cvCreateBlobDetectorCC();
CvBlobDetector* cvCreateBlobDetectorSimple();
CvBlobTracker* cvCreateBlobTrackerMSFG();
CvBlobTracker* cvCreateBlobTrackerCCMSPF();
CvBlobTracker* cvCreateBlobTrackerCC();
CvBlobTracker* cvCreateBlobTrackerMS();
CvBlobTracker* cvCreateBlobTrackerMSPF();
CvBlobTrackGen* cvCreateModuleBlobTrackGenYML();
CvBlobTrackGen* cvCreateModuleBlobTrackGen1();
CvBlobTrackPostProc* cvCreateModuleBlobTrackPostProcKalman();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistPVS();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistP();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistPV();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistSS();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisTrackDist();
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisIOR();

CvBlobTrackerAuto* cvCreateBlobTrackerAuto1(CvBlobTrackerAutoParam1* param);
