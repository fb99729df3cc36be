#include "blob_drawing.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace CV::PeopleTracking::detail {
namespace {

// 0..255 from the state; states outside 0..1 are held to its ends.
int Level(float state) { return std::clamp(cvRound(255.0 * state), 0, 255); }

cv::Scalar Colour(int c) { return cv::Scalar(0, 255 - c, c); }

}  // namespace

BlobEllipse ViewEllipse(const CvBlob& b, float state) {
    const int c = Level(state);
    return {cv::Point(cvRound(b.x), cvRound(b.y)),
            cv::Size(std::max(1, cvRound(0.5 * b.w)), std::max(1, cvRound(0.5 * b.h))),
            Colour(c),
            1 + 3 * c / 255,
            cv::LINE_8,
            0};
}

BlobEllipse FrameEllipse(const CvBlob& b, float state) {
    const int c = Level(state);
    // Shift 8: coordinates in 1/256 pixel.
    return {cv::Point(cvRound(256.0 * b.x), cvRound(256.0 * b.y)),
            cv::Size(std::max(1, cvRound(256.0 * 0.5 * b.w)), std::max(1, cvRound(256.0 * 0.5 * b.h))),
            Colour(c),
            1,
            cv::LINE_AA,
            8};
}

void DrawBlobEllipse(cv::Mat& image, const BlobEllipse& e) {
    cv::ellipse(image, e.centre, e.axes, 0.0, 0.0, 360.0, e.colour, e.thickness, e.lineType, e.shift);
}

}  // namespace CV::PeopleTracking::detail
