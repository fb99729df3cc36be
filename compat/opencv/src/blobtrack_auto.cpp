#include "cvcompat/blobtrack.h"
#include "cvcompat/errstatus.h"

namespace {

constexpr const char* kSource = "blobtrack_auto.cpp";

// Runs the modules of its parameter record, which it holds without owning.
class CvBlobTrackerAuto1 : public CvBlobTrackerAuto {
public:
    explicit CvBlobTrackerAuto1(const CvBlobTrackerAutoParam1& p) : m_param(p) {}

    void Process(IplImage* frame, IplImage* mask) override {
        static constexpr const char* kFunction = "CvBlobTrackerAuto1::Process";
        if (!frame || !frame->imageData || frame->depth != IPL_DEPTH_8U || frame->nChannels != 3)
            return cvcompat::ReportError(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", kSource,
                                         __LINE__);
        if (m_frames == 0) {
            m_width = frame->width;
            m_height = frame->height;
        } else if (frame->width != m_width || frame->height != m_height) {
            return cvcompat::ReportError(CV_StsBadSize, kFunction, "Frame size differs from the first frame's",
                                         kSource, __LINE__);
        }
        ++m_frames;
        if (m_param.pFG) m_param.pFG->Process(frame);
        m_mask = mask ? mask : m_param.pFG ? m_param.pFG->GetMask() : nullptr;
        if (!m_mask || !m_param.pBT) return;
        m_param.pBT->Process(frame, m_mask);
        if (m_frames <= m_param.FGTrainFrames || !m_param.pBD) return;

        CvBlobSeq current, found;
        for (int i = 0; i < m_param.pBT->GetBlobNum(); ++i) current.AddBlob(m_param.pBT->GetBlob(i));
        m_param.pBD->DetectNewBlob(frame, m_mask, &found, &current);
        for (int i = 0; i < found.GetBlobNum(); ++i) {
            CvBlob blob = *found.GetBlob(i);
            blob.ID = m_nextID++;
            m_param.pBT->AddBlob(&blob, frame, m_mask);
        }
    }

    CvBlob* GetBlob(int index) override { return m_param.pBT ? m_param.pBT->GetBlob(index) : nullptr; }
    CvBlob* GetBlobByID(int id) override { return m_param.pBT ? m_param.pBT->GetBlobByID(id) : nullptr; }
    int GetBlobNum() override { return m_param.pBT ? m_param.pBT->GetBlobNum() : 0; }
    IplImage* GetFGMask() override { return m_mask; }
    float GetState(int) override { return 0.0f; }
    const char* GetStateDesc(int) override { return nullptr; }

private:
    CvBlobTrackerAutoParam1 m_param;
    IplImage* m_mask = nullptr;
    int m_frames = 0;
    int m_width = 0;
    int m_height = 0;
    int m_nextID = 0;  // never reused
};

}  // namespace

CvBlobTrackerAuto* cvCreateBlobTrackerAuto1(CvBlobTrackerAutoParam1* param) {
    if (!param) return nullptr;
    return new CvBlobTrackerAuto1(*param);
}
