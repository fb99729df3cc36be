#pragma once
// Removes specular reflection from an 8-bit, 3-channel image in place by
// iterative chromaticity adjustment of neighbouring pixels (the diffuse
// component stays). Each call owns all its buffers, so calls on different
// images may run on different threads. An image that is not 8-bit with 3
// channels is refused: nothing changes and CV_StsBadArg is recorded in the
// calling thread's error status (cvcompat/errstatus.h).
#include <opencv2/core/types_c.h>

void SeparateReflection(IplImage* image);
