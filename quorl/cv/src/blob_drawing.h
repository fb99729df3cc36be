#pragma once
// How one tracked blob is drawn: in the "FG" view at whole pixels, and in
// the caller's frame at 1/256 pixel, anti-aliased. The colour runs from
// green (state 0, a normal blob) to red (state 1); the view's line thickens
// with the state.
#include <cvcompat/blobtrack.h>
#include <opencv2/core.hpp>

namespace CV::PeopleTracking::detail {

struct BlobEllipse {
    cv::Point centre;
    cv::Size axes;
    cv::Scalar colour;  // B, G, R
    int thickness;
    int lineType;
    int shift;
};

BlobEllipse ViewEllipse(const CvBlob& blob, float state);
BlobEllipse FrameEllipse(const CvBlob& blob, float state);
void DrawBlobEllipse(cv::Mat& image, const BlobEllipse& ellipse);

}  // namespace CV::PeopleTracking::detail
