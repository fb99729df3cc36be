#pragma once
// Maximally stable extremal regions, dark on bright: regions grow level by
// level over a union-find of region records, and those whose area stays
// almost constant over many grey levels are described by their pixels
// (spans), bounding box, centroid, convex hull and fitted ellipse.
#include <cstdint>
#include <vector>

#include <opencv2/core/types_c.h>
#include <opencv2/imgproc/types_c.h>

// One run of pixels of a region: columns first .. last (inclusive) of a row.
struct MserSpan {
  uint16_t row = 0;
  uint16_t first = 0;
  uint16_t last = 0;
};

struct MserRegion {
  int seedX = 0, seedY = 0;  // the pixel that created the region
  int level = 0;             // grey of that pixel
  int reserved = 0;
  int id = 0, parent = 0;  // union-find: a root has parent == id
  // Pixels gained at each grey level, merged regions included. Level 255
  // never receives any: pixels of grey 255 are not processed.
  int growth[256] = {};
  int area = 0;
  int mergeLevel = -1;   // level at which it joined another region; -1 for a root
  int stableLevel = -1;  // -1 until selected
  // Of the selected region's flood fill: pixel count, mean grey, bounding box.
  CvConnectedComp comp{};
  std::vector<MserSpan> spans;
  float centroidX = 0, centroidY = 0;
  bool hasEllipse = false;
  CvBox2D ellipse{};  // size holds the full axis lengths
  std::vector<CvPoint> hull;  // closed: the first point repeats the last

  // Pixels of the region at level n: growth[level .. n - 1] summed, 0 when
  // n <= level.
  int AreaAtLevel(int n) const;
};

class FeatureDetectionMSER {
 public:
  FeatureDetectionMSER() = default;
  FeatureDetectionMSER(const FeatureDetectionMSER&) = default;
  FeatureDetectionMSER& operator=(const FeatureDetectionMSER&) = default;
  ~FeatureDetectionMSER() = default;

  // Detects on an 8-bit one-channel image (any row stride, sides up to
  // 65535) into lists[2][outputIndex], which is cleared first; outputIndex
  // is 0 or 1. A refused call records CV_StsBadArg or CV_StsBadSize through
  // cvcompat's error layer and changes nothing.
  void DetectMSER0(IplImage* image, int outputIndex);
  // Draws the regions of lists[2][0] into an 8-bit three-channel image of
  // the size they were detected at (anything else is left untouched):
  // pixels green, box blue, hull red, ellipse yellow, centroid circle red.
  void DrawDetectedMSER(IplImage* image);

  // Union-find over list r (lists[r / 2][r % 2]), whose record i has id i.
  // Indices outside the list answer false, -1 or do nothing.
  bool is_root(int r, int i);
  int get_root(int r, int i);  // halves the path on the way
  bool is_same(int r, int i, int j);
  void merge(int r, int i, int j);  // the root of j goes under the root of i

  // List k is lists[k / 2][k % 2]. List 0 is the union-find store: its
  // records are reused by id from call to call, so it holds as many records
  // as the largest call made. Output index 0 fills lists[2][0], 1 fills
  // lists[2][1]; lists[0][1] and lists[1][*] are not used.
  std::vector<MserRegion> lists[3][2];
  // The image size each output list was detected at (0 x 0 before any).
  CvSize outputSize[2] = {{0, 0}, {0, 0}};

 private:
  std::vector<MserRegion>* List(int r);
};
