#pragma once
// Video frames split into and merged back from per-camera images: a stereo
// pair side by side, a quad (two pairs one above the other), or one field of
// an interlaced frame. flip walks the frame from its last row up (the
// sampler's frames are bottom-up); oneField takes every second frame row.
//
// A row copy is the image's width x nChannels bytes, and the right image of a
// pair begins that many bytes into the frame row, so images with padded rows
// (cvCreateImage pads rows to 4 bytes) and frames of exactly height x row
// bytes are handled. Every call checks its images once (non-null, 8-bit,
// equal channels, equal sizes where images pair, every byte touched inside
// its image) and on failure changes nothing and returns false.
#include <opencv2/core/core_c.h>

namespace GDI {

bool SplitFrameField(IplImage* frame, IplImage* field, int flip);
bool SplitFrameFieldAndHalfRes(IplImage* frame, IplImage* small, int flip);
bool MergeFrameField(IplImage* frame, IplImage* field, int flip);
bool MergeFrameFieldAndHalfRes(IplImage* frame, IplImage* small, int flip);

bool SplitFrameStereo(IplImage* frame, IplImage** images, bool flip, bool oneField);
bool MergeFrameStereo(IplImage* frame, IplImage** images, bool flip, bool oneField);
bool SplitFrameQuad(IplImage* frame, IplImage** images, bool flip, bool oneField);
// Does not double lines with oneField: the rows between keep what they held.
bool MergeFrameQuad(IplImage* frame, IplImage** images, bool flip, bool oneField);

// Replaces *image by a new image of the given size with its depth and
// channels. False (nothing done) when image or *image is null.
bool ReallocImage(IplImage** image, CvSize size);
// dst pixel (j, i) = src pixel (2j, 2i); src must be at least 2 x dst - 1
// pixels each way.
bool Subsample(IplImage* src, IplImage* dst, int ignored);
// Row 2i copied over row 2i + 1; an odd last row is left alone.
bool DoubleFields(IplImage* image);

// mask: 8-bit, 1 channel, at least the image's size.
// Pixels whose mask byte is 0 become 0.
bool ApplyMask(IplImage* image, IplImage* mask);
// invert != 0: pixels whose mask byte is non-zero become 0. invert == 0: the
// image becomes the mask in black and white (255 where non-zero, else 0).
bool ApplyBinaryMask(IplImage* image, IplImage* mask, int invert);

// Anti-aliased, thickness 1; coordinates are products rounded to the nearest
// integer, ties to even (cvRound).
void DrawCorners(IplImage* image, CvPoint2D32f* points, int n);
void DrawCornersEx(IplImage* image, CvPoint2D32f* points, int n, CvScalar colour, int offsetX,
                   int offsetY, float scaleX, float scaleY, bool flipY, float radius);
// Pairs with status exactly 1 only: a cyan circle of radius 3 at the first
// point and a line in colour to the second. points[0], points[1]: the arrays.
void DrawMatches(IplImage* image, CvPoint2D32f** points, int n, char* status, CvScalar colour,
                 float scaleX, float scaleY);
void DrawMatches(IplImage* image, CvPoint2D32f* first, CvPoint2D32f* second, int n, char* status,
                 CvScalar colour, float scaleX, float scaleY);
// As DrawMatches with the offsets and flip of DrawCornersEx, and the circle
// (radius 4) in colour.
void DrawMatchesEx(IplImage* image, CvPoint2D32f* first, CvPoint2D32f* second, int n, char* status,
                   CvScalar colour, int offsetX, int offsetY, float scaleX, float scaleY, bool flipY);

}  // namespace GDI
