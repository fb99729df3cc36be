#include "CV/person_tracker.h"

#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>
#include <quorl/paths.h>

#include <algorithm>
#include <cstring>
#include <locale>

#include "person_box.h"

namespace CV::PeopleTracking {
namespace {

constexpr const char* kSource = "person_tracker.cpp";
constexpr const char* kOutputPath = "C:\\TrackingOutput.txt";

void Refuse(int status, const char* function, const char* message, int line) {
    cvcompat::ReportError(status, function, message, kSource, line);
}

bool IsColourFrame(const IplImage* frame) {
    return frame && frame->imageData && frame->depth == IPL_DEPTH_8U && frame->nChannels == 3;
}

void ReleaseImage(IplImage*& image) {
    if (image) cvReleaseImage(&image);
}

}  // namespace

PersonMetricRing::PersonMetricRing(int size)
    : lastIndex(size - 1), capacity(size), entries(new PersonMetric[size]) {
    Clear();
}

PersonMetricRing::~PersonMetricRing() { delete[] entries; }

void PersonMetricRing::Clear() {
    std::fill(entries, entries + capacity, PersonMetric{});
    writeIndex = 0;
}

void PersonMetricRing::Push(const PersonMetric& metric) {
    entries[writeIndex] = metric;
    writeIndex = writeIndex == lastIndex ? 0 : writeIndex + 1;
}

const PersonMetric& PersonMetricRing::Previous() const {
    return entries[writeIndex == 0 ? lastIndex : writeIndex - 1];
}

CPersonTracker::CPersonTracker() { m_output.imbue(std::locale::classic()); }

CPersonTracker::~CPersonTracker() { Release(); }

void CPersonTracker::Release() {
    ReleaseImage(m_work);
    ReleaseImage(m_reference);
    m_current = nullptr;
    if (m_output.is_open()) m_output.close();
    m_output.clear();
}

void CPersonTracker::Initialize(IplImage* frame) {
    static constexpr const char* kFunction = "CPersonTracker::Initialize";
    // The colour conversion of the segmentation throws on other frames.
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", __LINE__);
    if (frame->width < 1 || frame->height < 1) return Refuse(CV_StsBadSize, kFunction, "Empty frame", __LINE__);
    Release();
    m_width = frame->width;
    m_height = frame->height;
    // The seed image is the first frame itself, so the background starts
    // from what the camera saw rather than from unset bytes.
    m_work = cvCloneImage(frame);
    m_current = m_work;
    m_reference = cvCloneImage(m_work);
    m_coarseCell = 32;
    m_fineCell = 4;
    m_coarse.assign(static_cast<size_t>(m_height / m_coarseCell) * (m_width / m_coarseCell), 0);
    m_fine.assign(static_cast<size_t>(m_height / m_fineCell) * (m_width / m_fineCell), 0);
    m_rows.assign(m_height / m_fineCell, 0);
    m_columns.assign(m_width / m_fineCell, 0);
    m_rowMax = m_columnMax = m_coarseMax = m_fineMax = 0;
    segmentation.Initialize(m_work);
    m_history.Clear();
    m_metric = PersonMetric{};
    m_frameCount = 0;
    m_outputFailed = false;
    if (writeOutput) {
        m_output.open(quorl::MapPath(kOutputPath), std::ios::out | std::ios::trunc);
        if (!m_output.is_open()) {
            m_outputFailed = true;
            Refuse(CV_StsError, kFunction, "Cannot open the tracking output file", __LINE__);
        }
    }
    m_initialised = true;
}

void CPersonTracker::ProcessVideoFrame(IplImage* frame) {
    static constexpr const char* kFunction = "CPersonTracker::ProcessVideoFrame";
    if (!m_initialised) {
        Initialize(frame);
        if (!m_initialised) return;
    }
    if (!IsColourFrame(frame)) return Refuse(CV_StsBadArg, kFunction, "Frame must be 8-bit with 3 channels", __LINE__);
    if (frame->width != m_width || frame->height != m_height)
        return Refuse(CV_StsBadSize, kFunction, "Frame size differs from the first frame's", __LINE__);

    m_current = frame;
    segmentation.Process(frame, frame);
    segmentation.PostFilterForeground(frame, m_reference, frame, 30.0f);
    // Smoothing type 2 is a 3 x 3 Gaussian.
    cvSmooth(frame, frame, CV_GAUSSIAN, 3, 0, 0, 0);
    Histogram2D(frame, m_coarse.data(), m_coarseCell, &m_coarseMax);
    Histogram2D(frame, m_fine.data(), m_fineCell, &m_fineMax);

    const int fineRows = m_height / m_fineCell, fineColumns = m_width / m_fineCell;
    std::fill(m_rows.begin(), m_rows.end(), 0);
    std::fill(m_columns.begin(), m_columns.end(), 0);
    for (int i = 0; i < fineRows; ++i)
        for (int j = 0; j < fineColumns; ++j) {
            const int count = m_fine[static_cast<size_t>(i) * fineColumns + j];
            m_rows[i] += count;
            m_columns[j] += count;
        }
    m_rowMax = m_rows.empty() ? 0 : *std::max_element(m_rows.begin(), m_rows.end());
    m_columnMax = m_columns.empty() ? 0 : *std::max_element(m_columns.begin(), m_columns.end());

    FindPerson();
    m_history.Push(m_metric);
    ++m_frameCount;
}

void CPersonTracker::Histogram2D(IplImage* image, int* histogram, int cell, int* maximum) {
    static constexpr const char* kFunction = "CPersonTracker::Histogram2D";
    if (!image || !image->imageData || !histogram || !maximum)
        return Refuse(CV_StsBadArg, kFunction, "Null image or output", __LINE__);
    if (cell < 1) return Refuse(CV_StsBadArg, kFunction, "Cell size must be at least 1", __LINE__);
    const int columns = image->width / cell, rows = image->height / cell;
    const int channels = image->nChannels, tested = std::min(3, channels);
    *maximum = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            int count = 0;
            for (int y = r * cell; y < (r + 1) * cell; ++y) {
                const unsigned char* p = reinterpret_cast<const unsigned char*>(image->imageData) +
                                         static_cast<size_t>(y) * image->widthStep +
                                         static_cast<size_t>(c) * cell * channels;
                for (int x = 0; x < cell; ++x, p += channels) {
                    bool set = false;
                    for (int k = 0; k < tested; ++k) set = set || p[k] != 0;
                    count += set;
                }
            }
            histogram[r * columns + c] = count;
            *maximum = std::max(*maximum, count);
        }
}

void CPersonTracker::FindPerson() {
    if (!m_initialised) return;
    m_metric = PersonMetric{};
    bool found = false;
    float outX = -1.0f, outY = -1.0f;
    int code = 0;

    const int fineRows = m_height / m_fineCell, fineColumns = m_width / m_fineCell;
    const int coarseRows = m_height / m_coarseCell, coarseColumns = m_width / m_coarseCell;
    const double seedLevel = 0.99 * m_coarseMax;
    for (int i = 0; i < coarseRows; ++i)
        for (int j = 0; j < coarseColumns; ++j) {
            if (!(m_coarse[static_cast<size_t>(i) * coarseColumns + j] > seedLevel)) continue;
            const int seedRow = (m_coarseCell * i + m_coarseCell / 2) / m_fineCell;
            const int seedColumn = (m_coarseCell * j + m_coarseCell / 2) / m_fineCell;
            const detail::FineBox box = detail::GrowBox(m_rows.data(), fineRows, m_rowMax, m_columns.data(),
                                                        fineColumns, m_columnMax, seedRow, seedColumn);
            const int top = m_fineCell * box.top, bottom = m_fineCell * box.bottom;
            const int left = m_fineCell * box.left, right = m_fineCell * box.right;
            const int height = bottom - top, width = right - left;
            if (!detail::Accepted(width, height)) continue;

            // cvRectangle clips a top of -4.
            if (drawBox && m_current)
                cvRectangle(m_current, cvPoint(left, top), cvPoint(right, bottom), cvScalar(255, 0, 0), 1, 8, 0);
            PersonMetric& m = m_metric;
            m.found = true;
            m.left = left;
            m.bottom = bottom;
            m.right = right;
            m.shape = detail::Shape(width, height);
            code = m.shape == 1 ? 2 : 1;
            const CvScalar colour = m.shape == 1 ? cvScalar(0, 0, 255) : cvScalar(0, 255, 0);
            m.centreX = static_cast<float>(left + width / 2);
            m.centreY = static_cast<float>(top + height / 2);
            const PersonMetric& previous = m_history.Previous();
            m.motionX = previous.found ? previous.centreX - m.centreX : 0.0f;
            m.motionY = previous.found ? previous.centreY - m.centreY : 0.0f;
            if (drawCentre && m_current)
                cvCircle(m_current, cvPoint(static_cast<int>(m.centreX), static_cast<int>(m.centreY)), 5, colour, 2,
                         CV_AA, 0);
            found = true;
            outX = m.centreX;
            outY = m.centreY;
        }
    if (writeOutput) WriteLine(found, outX, outY, code);
}

void CPersonTracker::WriteLine(bool found, float x, float y, int code) {
    // A file that could not be opened was reported once; lines are dropped.
    if (m_outputFailed || !m_output.is_open()) return;
    m_output << m_frameCount << ' ' << (found ? 1 : 0) << ' ' << x << ' ' << y << ' ' << code << '\n';
    m_output.flush();
}

PersonMetric CPersonTracker::GetCurMetric() { return m_metric; }

}  // namespace CV::PeopleTracking
