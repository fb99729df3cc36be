#pragma once
// Quasi-dense matching: grows a few seed correspondences between two images
// best-first by zero-mean normalised cross-correlation, one-to-one, into
// dense match maps, and renders texture and disparity images.
//
// Order of use: construct, optionally SetCorrWinSize, Initialize with an
// image of the working size, propagate, then read the maps or images. Calls
// that need the working size refuse to run before Initialize. Refusals are
// recorded as CV_StsBadArg or CV_StsBadSize through cvcompat's error layer
// and write nothing.
#include <vector>

#include <opencv2/core/types_c.h>

namespace CV {

class CMatchPropagation {
 public:
  CMatchPropagation() = default;
  CMatchPropagation(const CMatchPropagation&) = default;
  CMatchPropagation& operator=(const CMatchPropagation&) = default;
  ~CMatchPropagation() = default;

  // Half sizes of the correlation window; the rectified propagation uses
  // halfWidth. A negative size is refused and the previous sizes stay.
  void SetCorrWinSize(int halfWidth, int halfHeight);
  // Takes the working size from the image and starts both match maps
  // unmatched and both texture maps at 0 (a second call starts afresh).
  void Initialize(IplImage* image);

  // Texture of every interior pixel: the largest of its four neighbours'
  // mean absolute channel differences, truncated; border pixels get -1.
  // Widens textureMin / textureMax (values taken as at most 255). texture
  // holds width x height ints.
  void BuildTextureDescriptor(IplImage* image, int* texture);
  // The texture map scaled by the extremes seen so far to 0 .. 255 grey,
  // three bytes a pixel, rows `stride` bytes apart (0 when the extremes are
  // equal or none were seen).
  void GetTextureDescriptorImage(int* texture, unsigned char* output, int stride);

  // points[0][i] in `first` and points[1][i] in `second` are the seeds; only
  // those with status[i] == 1 are used. Matches grow from the seeds over a
  // 5 x 5 neighbourhood with 3 x 3 candidate offsets and a 5 x 5 window.
  // The maps keep earlier matches: a seed on an already matched pixel is
  // skipped, and nothing is matched twice.
  void PropagateMatchesFast(CvPoint2D32f** points, char* status, int count, IplImage* first, IplImage* second);
  // The same for rectified images: candidates stay on the row of the
  // expanded match (plus its row offset), and the window is
  // (2 corrHalfWidth + 1) square.
  void PropagateRectifiedMatchesFast(CvPoint2D32f** points, char* status, int count, IplImage* first,
                                     IplImage* second);

  // Disparity length of each matched pixel of the first image scaled to
  // 0 .. 250 over the matched range (0 when all are equal), unmatched
  // pixels (blue, green, red) = (0, 0, 200); three bytes a pixel.
  void GetDspImage(unsigned char* output, int stride);
  // 16 x |horizontal disparity| clamped to 255, unmatched pixels 16. The
  // two ints are not read.
  void GetDspImage2(unsigned char* output, int stride, int, int);
  // GetDspImage flipped upside down into "C:\PropDsp.bmp" (that is,
  // $QUORL_DRIVE_C/PropDsp.bmp). A failed write records a status.
  void SaveDsp();

  // Zero-mean normalised cross-correlation of the (2e + 1)^2 windows centred
  // on (x1, y1) in first and (x2, y2) in second, per channel (one to three)
  // and averaged. 0 when a window is not wholly inside its image or is
  // uniform in any channel, or the images do not go together.
  float WindowZNCC(IplImage* first, IplImage* second, int x1, int y1, int x2, int y2, int e);
  // Sum of squared differences of the two windows over all channels; -1
  // when a window is not wholly inside its image or the images do not go
  // together.
  float WindowSSD(IplImage* first, IplImage* second, int x1, int y1, int x2, int y2, int e);
  // True when a neighbour (up, down, left, right) differs from the pixel by
  // more than 1 in mean absolute channel difference; false for a pixel with
  // a neighbour outside the image.
  bool IsTexturedPixel(IplImage* image, int x, int y);

  int width = 0, height = 0;
  // Row-major width x height: the matched pixel of the other image, x = -1
  // when unmatched. map1 points from the first image into the second.
  std::vector<CvPoint> map1, map2;
  std::vector<int> texture1, texture2;
  // Extremes of every texture value computed over the object's life.
  int textureMax = -1000000000;
  int textureMin = 1000000000;
  int corrHalfWidth = 4, corrHalfHeight = 4;

 private:
  void Propagate(CvPoint2D32f** points, char* status, int count, IplImage* first, IplImage* second, bool rectified,
                 const char* function);
};

}  // namespace CV
