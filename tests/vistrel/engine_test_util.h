#pragma once
// Shared pieces of the mono and stereo engine tests: the 9 x 6 board of the
// synthetic data, rotation distances and a camera compared with its truth.
#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include "calibration/calibration_records.h"
#include "synthetic_board/synthetic_board.h"

namespace enginetest {

inline CalibrationObjectSettings Board(int squaresX = 9, int squaresY = 6) {
    return {25.0, 25.0, squaresX, squaresY, 3, 3};
}

// The angle of A B^T, in radians.
inline double Angle(const cv::Matx33d& A, const cv::Matx33d& B) {
    cv::Vec3d r;
    cv::Rodrigues(cv::Mat(A * B.t()), r);
    return cv::norm(r);
}

struct Bounds {
    double focal, centre, k1, k2, p, rotation, translation;
};

inline void ExpectCamera(const CameraParameters& p, const synthetic::CameraModel& c, const Bounds& b) {
    EXPECT_NEAR(p.K[0], c.fx, b.focal);
    EXPECT_NEAR(p.K[4], c.fy, b.focal);
    EXPECT_NEAR(p.K[2], c.cx, b.centre);
    EXPECT_NEAR(p.K[5], c.cy, b.centre);
    EXPECT_NEAR(p.d[0], c.k1, b.k1);
    EXPECT_NEAR(p.d[1], c.k2, b.k2);
    EXPECT_NEAR(p.d[2], c.p1, b.p);
    EXPECT_NEAR(p.d[3], c.p2, b.p);
}

}  // namespace enginetest
