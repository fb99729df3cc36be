#pragma once
// The board grid fitted to one image: its points row by row (x fastest) and
// where the editor writes the board's labels.
#include <array>
#include <vector>

#include "calibration/homography.h"  // Point2d

struct Point2f {
    float x;
    float y;
};

class CalibrationGridRecord {
public:
    // Larger boards than this are refused by SetGridPoints.
    static constexpr int kMaxPointsPerAxis = 101;

    CalibrationGridRecord() = default;
    CalibrationGridRecord(int countA, int countB, double spacingX, double spacingY,
                          const std::vector<Point2d>& points);

    // countA points per row, countB rows. Holds countA x countB points: the
    // given ones when there are exactly that many (pointsValid), zeros
    // otherwise. Counts below 1 or a board above 101 x 101 hold no points.
    // gridSet is true afterwards in every case.
    void SetGridPoints(int countA, int countB, double spacingX, double spacingY,
                       const std::vector<Point2d>& points);
    void ClearGrid();

    double scale = 1.0;
    std::array<Point2f, 3> labelAnchors{};
    bool gridSet = false;
    bool pointsValid = false;
    double spacingX = 0.0;
    double spacingY = 0.0;
    int countA = 0;
    int countB = 0;
    int n = 0;
    std::vector<Point2d> points;

private:
    void ComputeLabelAnchors();
};
