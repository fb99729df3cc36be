#include "cvcompat/blobtrack.h"
#include "cvcompat/blobtrack_modules.h"

namespace {

// Ids are compared as given; a sequence holds few blobs.
std::vector<CvBlob>::iterator FindID(std::vector<CvBlob>& blobs, int id) {
    for (auto it = blobs.begin(); it != blobs.end(); ++it)
        if (it->ID == id) return it;
    return blobs.end();
}

}  // namespace

CvBlob* CvBlobSeq::GetBlob(int index) {
    if (index < 0 || index >= static_cast<int>(m_blobs.size())) return nullptr;
    return &m_blobs[index];
}

CvBlob* CvBlobSeq::GetBlobByID(int id) {
    auto it = FindID(m_blobs, id);
    return it == m_blobs.end() ? nullptr : &*it;
}

void CvBlobSeq::AddBlob(const CvBlob* blob) {
    if (blob) m_blobs.push_back(*blob);
}

void CvBlobSeq::DelBlob(int index) {
    if (index >= 0 && index < static_cast<int>(m_blobs.size())) m_blobs.erase(m_blobs.begin() + index);
}

void CvBlobSeq::DelBlobByID(int id) {
    auto it = FindID(m_blobs, id);
    if (it != m_blobs.end()) m_blobs.erase(it);
}

void CvBlobSeq::Clear() { m_blobs.clear(); }

int CvBlobSeq::GetBlobNum() const { return static_cast<int>(m_blobs.size()); }

CvVSModule::~CvVSModule() = default;

void CvVSModule::SetNickName(const char* name) {
    m_hasNickName = name != nullptr;
    m_nickName = name ? name : "";
}

const char* CvVSModule::GetNickName() const { return m_hasNickName ? m_nickName.c_str() : nullptr; }

CvBlob* CvBlobTracker::GetBlobByID(int id) {
    for (int i = 0; i < GetBlobNum(); ++i)
        if (CvBlob* b = GetBlob(i); b && b->ID == id) return b;
    return nullptr;
}

CvFGDetector* cvCreateFGDetectorBase(int type, void*) {
    return type == 1 ? new CvFGDetectorMixture() : nullptr;
}

CvBlobDetector* cvCreateBlobDetectorCC() { return new CvBlobDetectorCC(); }
CvBlobTracker* cvCreateBlobTrackerMSFG() { return new CvBlobTrackerMSFG(); }

// Modules that are not provided.
CvBlobDetector* cvCreateBlobDetectorSimple() { return nullptr; }
CvBlobTracker* cvCreateBlobTrackerCCMSPF() { return nullptr; }
CvBlobTracker* cvCreateBlobTrackerCC() { return nullptr; }
CvBlobTracker* cvCreateBlobTrackerMS() { return nullptr; }
CvBlobTracker* cvCreateBlobTrackerMSPF() { return nullptr; }
CvBlobTrackGen* cvCreateModuleBlobTrackGenYML() { return nullptr; }
CvBlobTrackGen* cvCreateModuleBlobTrackGen1() { return nullptr; }
CvBlobTrackPostProc* cvCreateModuleBlobTrackPostProcKalman() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistPVS() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistP() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistPV() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisHistSS() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisTrackDist() { return nullptr; }
CvBlobTrackAnalysis* cvCreateModuleBlobTrackAnalysisIOR() { return nullptr; }
