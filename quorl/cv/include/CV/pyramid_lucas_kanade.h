#pragma once
// Sparse optical flow: iterative Lucas-Kanade with a 3 x 3 window on a
// four-level Gaussian pyramid.
#include <opencv2/core/types_c.h>

namespace CV {

// Tracks count points of `first` into `second` (both 8-bit, of one channel
// count; their sizes may differ). matched[i] receives the position found,
// status[i] (when status is not null) 1 for found and 0 for lost. A lost
// point's matched entry is the estimate it had reached, in full-resolution
// coordinates; a point with a non-finite coordinate is lost where it stands.
// matched is written whether or not status is given.
//
// Refused (recorded as CV_StsBadArg or CV_StsBadSize through cvcompat's
// error layer, matched a copy of points where both exist, every status 0):
// null or empty images, a depth other than 8 bits, unequal channel counts,
// count < 0, or null points or matched with count > 0.
void FeatureMatcherPyramidLucasKanade(IplImage* first, IplImage* second, CvPoint2D32f* points, CvPoint2D32f* matched,
                                      int count, char* status);

}  // namespace CV
