#include "calibration/calibration_grid_record.h"

#include <cmath>

namespace {

// Labels stand this many pixels beyond the board, away from its centre.
constexpr double kLabelOffset = 35.0;

double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

}  // namespace

CalibrationGridRecord::CalibrationGridRecord(int countA, int countB, double spacingX, double spacingY,
                                             const std::vector<Point2d>& points) {
    SetGridPoints(countA, countB, spacingX, spacingY, points);
}

void CalibrationGridRecord::SetGridPoints(int countA, int countB, double spacingX, double spacingY,
                                          const std::vector<Point2d>& given) {
    this->spacingX = spacingX;
    this->spacingY = spacingY;
    this->countA = countA;
    this->countB = countB;
    gridSet = true;
    pointsValid = false;
    points.clear();
    const bool sizeOk = countA >= 1 && countB >= 1 && countA <= kMaxPointsPerAxis && countB <= kMaxPointsPerAxis;
    // A refused size keeps n at 0 so that nobody walks a list that is not there.
    n = sizeOk ? countA * countB : 0;
    if (!sizeOk) return;
    if (given.size() != static_cast<size_t>(n) || given.empty()) {
        points.assign(static_cast<size_t>(n), Point2d{0.0, 0.0});
        return;
    }
    points = given;
    ComputeLabelAnchors();
    pointsValid = true;
}

void CalibrationGridRecord::ClearGrid() {
    points.clear();
    pointsValid = false;
}

void CalibrationGridRecord::ComputeLabelAnchors() {
    const Point2d c0 = points[0], c1 = points[countA - 1], c2 = points[n - countA], c3 = points[n - 1];
    // I: where the diagonals c0-c3 and c1-c2 cross. On a single row or column
    // they coincide; then the corners' mean stands in.
    const double d1x = c3.x - c0.x, d1y = c3.y - c0.y, d2x = c2.x - c1.x, d2y = c2.y - c1.y;
    const double denominator = Cross(d1x, d1y, d2x, d2y);
    const double scaleOfLines = std::hypot(d1x, d1y) * std::hypot(d2x, d2y);
    Point2d I{(c0.x + c1.x + c2.x + c3.x) * 0.25, (c0.y + c1.y + c2.y + c3.y) * 0.25};
    if (std::abs(denominator) > 1e-12 * scaleOfLines) {
        const double t = Cross(c1.x - c0.x, c1.y - c0.y, d2x, d2y) / denominator;
        I = {c0.x + t * d1x, c0.y + t * d1y};
    }
    const Point2d anchors[3] = {{(c2.x + c3.x) * 0.5, (c2.y + c3.y) * 0.5}, {(c0.x + c2.x) * 0.5, (c0.y + c2.y) * 0.5},
                                c2};
    for (int i = 0; i < 3; ++i) {
        Point2d p = anchors[i];
        const double length = std::hypot(p.x - I.x, p.y - I.y);
        if (length > 0.0) {
            p.x += kLabelOffset * (p.x - I.x) / length;
            p.y += kLabelOffset * (p.y - I.y) / length;
        }
        labelAnchors[i] = {static_cast<float>(p.x), static_cast<float>(p.y)};
    }
}
