// Rotation vector <-> matrix: round trips through both implementations,
// the Jacobians of both directions against central differences, and the
// edge cases of the conversion.
#include <calibration/rotation.h>

#include <cmath>
#include <numbers>
#include <random>

#include "calib_test_util.h"

namespace {

using calibtest::TestMat;
using std::numbers::pi;

cv::Vec3d Axis(double x, double y, double z) { return cv::normalize(cv::Vec3d(x, y, z)); }

cv::Vec3d RandomAxis(unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> d;
    return cv::normalize(cv::Vec3d(d(gen), d(gen), d(gen)));
}

struct RotationCase {
    const char* name;
    cv::Vec3d r;
};

void PrintTo(const RotationCase& c, std::ostream* os) { *os << c.name; }

const RotationCase kRotations[] = {
    {"Zero", {0, 0, 0}},
    {"Tiny", {1e-20, 0, 0}},
    {"RandomTenthA", 0.1 * RandomAxis(1)},
    {"RandomTenthB", 0.1 * RandomAxis(2)},
    {"RandomOneA", 1.0 * RandomAxis(3)},
    {"RandomOneB", 1.0 * RandomAxis(4)},
    {"RandomThreeA", 3.0 * RandomAxis(5)},
    {"RandomThreeB", 3.0 * RandomAxis(6)},
    {"HalfTurnX", {pi, 0, 0}},
    {"HalfTurnY", {0, pi, 0}},
    {"HalfTurnZ", {0, 0, pi}},
    {"HalfTurnXY", pi * Axis(1, 1, 0)},
    {"HalfTurnYMinusZ", pi * Axis(0, 1, -1)},
    {"NearHalfTurn", (pi - 1e-6) * Axis(1, 2, 3)},
    {"NearHalfTurnYMinusZ", (pi - 1e-6) * Axis(0, 1, -1)},
};

cv::Matx33d ToMatrix(const cv::Vec3d& r) {
    TestMat src{cv::Mat(r)}, dst(3, 3, CV_64F);
    EXPECT_EQ(Quorl_cvRodrigues2(src.get(), dst.get()), 1);
    return cv::Matx33d(dst.mat);
}

void ExpectRotation(const cv::Matx33d& R, double tol) {
    const cv::Matx33d I = R * R.t();
    EXPECT_LT(cv::norm(I - cv::Matx33d::eye(), cv::NORM_INF), tol);
    EXPECT_NEAR(cv::determinant(R), 1.0, tol);
}

// r back from R(r), allowing -r where the angle is pi.
void ExpectSameVector(const cv::Vec3d& back, const cv::Vec3d& r, double tol) {
    const bool atPi = std::fabs(cv::norm(r) - pi) < 1e-12;
    if (atPi && cv::norm(back + r) < tol) return;
    EXPECT_LT(cv::norm(back - r), tol) << "got " << back << " for " << r;
}

class RotationRoundTrip : public calibtest::ReportCapture, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(RotationRoundTrip, Rodrigues2) {
    const cv::Vec3d r = GetParam().r;
    const cv::Matx33d R = ToMatrix(r);
    ExpectRotation(R, 1e-12);
    TestMat src{cv::Mat(R)}, dst(3, 1, CV_64F);
    EXPECT_EQ(Quorl_cvRodrigues2(src.get(), dst.get()), 1);
    const cv::Vec3d back(dst.mat);
    ExpectSameVector(back, r, 1e-8);
    EXPECT_LT(cv::norm(ToMatrix(back) - R, cv::NORM_INF), 1e-9);
    EXPECT_TRUE(reports().empty());
}

TEST_P(RotationRoundTrip, RodriguesVnl) {
    const cv::Vec3d rv = GetParam().r;
    double r[3] = {rv[0], rv[1], rv[2]}, R[9];
    EXPECT_EQ(RodriguesVnl(R, r, 1), 0);
    const cv::Matx33d M(R);
    ExpectRotation(M, 1e-12);
    EXPECT_LT(cv::norm(M - ToMatrix(rv), cv::NORM_INF), 1e-12) << "both implementations give one matrix";
    double back[3] = {-1, -1, -1};
    EXPECT_EQ(RodriguesVnl(R, back, 0), 0);
    const cv::Vec3d b(back[0], back[1], back[2]);
    ExpectSameVector(b, rv, 1e-8);
    double again[9];
    RodriguesVnl(again, back, 1);
    EXPECT_LT(cv::norm(cv::Matx33d(again) - M, cv::NORM_INF), 1e-9);
}

TEST_P(RotationRoundTrip, SinglePrecision) {
    const cv::Vec3d r = GetParam().r;
    TestMat src{cv::Mat(cv::Vec3f(r))}, R(3, 3, CV_32F), back(1, 3, CV_32F);
    ASSERT_EQ(Quorl_cvRodrigues2(src.get(), R.get()), 1);
    cv::Matx33d Rd;
    R.mat.convertTo(cv::Mat(Rd, false), CV_64F);
    ExpectRotation(Rd, 1e-6);
    ASSERT_EQ(Quorl_cvRodrigues2(R.get(), back.get()), 1);
    const cv::Vec3d b(back.mat.at<float>(0), back.mat.at<float>(1), back.mat.at<float>(2));
    // Single precision loses the sense of rotation within about 1e-3 of pi;
    // the matrix must still come back.
    EXPECT_LT(cv::norm(ToMatrix(b) - Rd, cv::NORM_INF), 1e-5);
    EXPECT_TRUE(reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, RotationRoundTrip, ::testing::ValuesIn(kRotations),
                         [](const auto& info) { return std::string(info.param.name); });

// Jacobians against central differences, per depth and layout.
struct JacobianCase {
    int depth;
    bool transposed;  // 9x3 instead of 3x9
};

class RotationJacobian : public calibtest::ReportCapture, public ::testing::WithParamInterface<JacobianCase> {
protected:
    // Row i of the 3x9 Jacobian as the routine wrote it.
    cv::Matx<double, 3, 9> Read(const TestMat& J) const {
        cv::Mat d;
        J.mat.convertTo(d, CV_64F);
        if (GetParam().transposed) d = d.t();
        return cv::Matx<double, 3, 9>(d);
    }
    TestMat MakeJacobian() const {
        return GetParam().transposed ? TestMat(9, 3, GetParam().depth) : TestMat(3, 9, GetParam().depth);
    }
    double Tolerance() const { return GetParam().depth == CV_32F ? 2e-5 : 1e-7; }
};

TEST_P(RotationJacobian, VectorToMatrix) {
    const int depth = GetParam().depth;
    for (const cv::Vec3d& r : {cv::Vec3d(0, 0, 0), 0.3 * RandomAxis(7), 1.2 * RandomAxis(8), 2.9 * RandomAxis(9)}) {
        TestMat src(3, 1, depth, 0.0), dst(3, 3, depth), J = MakeJacobian();
        cv::Mat(r).convertTo(src.mat, depth);
        ASSERT_EQ(Quorl_cvRodrigues2(src.get(), dst.get(), J.get()), 1);
        const auto Jm = Read(J);
        const double h = 1e-6;
        for (int i = 0; i < 3; ++i) {
            cv::Vec3d rp = r, rm = r;
            rp[i] += h;
            rm[i] -= h;
            const cv::Matx33d d = (ToMatrix(rp) - ToMatrix(rm)) * (1 / (2 * h));
            for (int k = 0; k < 9; ++k)
                EXPECT_NEAR(Jm(i, k), d.val[k], Tolerance()) << "r " << r << " i " << i << " k " << k;
        }
    }
    EXPECT_TRUE(reports().empty());
}

TEST_P(RotationJacobian, MatrixToVector) {
    const int depth = GetParam().depth;
    auto toVector = [](const cv::Matx33d& R) {
        TestMat src{cv::Mat(R)}, dst(3, 1, CV_64F);
        EXPECT_EQ(Quorl_cvRodrigues2(src.get(), dst.get()), 1);
        return cv::Vec3d(dst.mat);
    };
    for (const cv::Vec3d& r : {0.5 * RandomAxis(10), 1.5 * RandomAxis(11), 2.5 * RandomAxis(12)}) {
        const cv::Matx33d R = ToMatrix(r);
        TestMat src(3, 3, depth, 0.0), dst(1, 3, depth), J = MakeJacobian();
        cv::Mat(R).convertTo(src.mat, depth);
        ASSERT_EQ(Quorl_cvRodrigues2(src.get(), dst.get(), J.get()), 1);
        const auto Jm = Read(J);
        // The differences are taken at the matrix the routine saw.
        cv::Matx33d Rs;
        src.mat.convertTo(cv::Mat(Rs, false), CV_64F);
        const double h = 1e-6;
        for (int k = 0; k < 9; ++k) {
            cv::Matx33d Rp = Rs, Rm = Rs;
            Rp.val[k] += h;
            Rm.val[k] -= h;
            const cv::Vec3d d = (toVector(Rp) - toVector(Rm)) * (1 / (2 * h));
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(Jm(i, k), d[i], Tolerance()) << "r " << r << " i " << i << " k " << k;
        }
    }
    EXPECT_TRUE(reports().empty());
}

INSTANTIATE_TEST_SUITE_P(DepthsAndLayouts, RotationJacobian,
                         ::testing::Values(JacobianCase{CV_64F, false}, JacobianCase{CV_64F, true},
                                           JacobianCase{CV_32F, false}, JacobianCase{CV_32F, true}),
                         [](const auto& info) {
                             return std::string(info.param.depth == CV_64F ? "Double" : "Single") +
                                    (info.param.transposed ? "9x3" : "3x9");
                         });

using RotationEdges = calibtest::ReportCapture;

TEST_F(RotationEdges, ZeroVectorGivesIdentityAndSkewJacobian) {
    TestMat src(1, 3, CV_64F, 0.0), dst(3, 3, CV_64F), J(3, 9, CV_64F);
    ASSERT_EQ(Quorl_cvRodrigues2(src.get(), dst.get(), J.get()), 1);
    EXPECT_EQ(cv::norm(dst.mat - cv::Mat::eye(3, 3, CV_64F), cv::NORM_INF), 0.0);
    cv::Mat expected = cv::Mat::zeros(3, 9, CV_64F);
    expected.at<double>(0, 5) = -1;
    expected.at<double>(0, 7) = 1;
    expected.at<double>(1, 2) = 1;
    expected.at<double>(1, 6) = -1;
    expected.at<double>(2, 1) = -1;
    expected.at<double>(2, 3) = 1;
    EXPECT_EQ(cv::norm(J.mat - expected, cv::NORM_INF), 0.0);

    double R[9] = {}, r[3] = {0, 0, 0};
    RodriguesVnl(R, r, 1);
    EXPECT_EQ(cv::norm(cv::Matx33d(R) - cv::Matx33d::eye(), cv::NORM_INF), 0.0);
}

TEST_F(RotationEdges, HalfTurnAboutXGivesPiOnX) {
    TestMat src{cv::Mat(cv::Matx33d(1, 0, 0, 0, -1, 0, 0, 0, -1))}, dst(3, 1, CV_64F);
    ASSERT_EQ(Quorl_cvRodrigues2(src.get(), dst.get()), 1);
    EXPECT_NEAR(dst.mat.at<double>(0), pi, 1e-15);
    EXPECT_EQ(dst.mat.at<double>(1), 0.0);
    EXPECT_EQ(dst.mat.at<double>(2), 0.0);

    double R[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1}, r[3];
    RodriguesVnl(R, r, 0);
    EXPECT_NEAR(r[0], pi, 1e-15);
    EXPECT_EQ(r[1], 0.0);
    EXPECT_EQ(r[2], 0.0);
}

// The sign of an axis component must not be read from an entry that is 0:
// a half turn about (0, 1, -1)/sqrt 2 has R[1] = R[2] = 0.
TEST_F(RotationEdges, HalfTurnKeepsRelativeSignOfAxis) {
    const cv::Vec3d r = pi * Axis(0, 1, -1);
    const cv::Matx33d R = ToMatrix(r);
    TestMat src{cv::Mat(R)}, dst(3, 1, CV_64F);
    ASSERT_EQ(Quorl_cvRodrigues2(src.get(), dst.get()), 1);
    const cv::Vec3d back(dst.mat);
    EXPECT_LT(std::min(cv::norm(back - r), cv::norm(back + r)), 1e-12) << back;
}

TEST_F(RotationEdges, ElementOutOfRangeGivesZeroWithoutError) {
    cv::Matx33d big = cv::Matx33d::eye();
    big(1, 2) = 150;
    TestMat src{cv::Mat(big)}, dst(3, 1, CV_64F), J(9, 3, CV_64F);
    EXPECT_EQ(Quorl_cvRodrigues2(src.get(), dst.get(), J.get()), 0);
    EXPECT_TRUE(dst.AllEqual(0.0));
    EXPECT_TRUE(J.AllEqual(0.0));
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);

    big(1, 2) = std::nan("");
    TestMat nanSrc{cv::Mat(big)}, nanDst(3, 1, CV_64F);
    EXPECT_EQ(Quorl_cvRodrigues2(nanSrc.get(), nanDst.get()), 0);
    EXPECT_TRUE(nanDst.AllEqual(0.0));
}

// Vector layouts: a row, a column (read with its row step) and one element
// of three channels.
TEST_F(RotationEdges, VectorLayouts) {
    const cv::Vec3d r(0.2, -0.4, 0.7);
    const cv::Matx33d expected = ToMatrix(r);
    cv::Mat wide(3, 4, CV_64F, cv::Scalar(9));
    for (int i = 0; i < 3; ++i) wide.at<double>(i, 1) = r[i];
    CvMat column = cvMat(wide.col(1));
    TestMat channels(1, 1, CV_64FC3, 0.0), dst1(3, 3, CV_64F), dst2(3, 3, CV_64F);
    channels.mat.at<cv::Vec3d>(0) = r;
    ASSERT_EQ(Quorl_cvRodrigues2(&column, dst1.get()), 1);
    ASSERT_EQ(Quorl_cvRodrigues2(channels.get(), dst2.get()), 1);
    EXPECT_LT(cv::norm(cv::Matx33d(dst1.mat) - expected, cv::NORM_INF), 1e-15);
    EXPECT_LT(cv::norm(cv::Matx33d(dst2.mat) - expected, cv::NORM_INF), 1e-15);

    TestMat src{cv::Mat(expected)}, out(1, 1, CV_64FC3);
    ASSERT_EQ(Quorl_cvRodrigues2(src.get(), out.get()), 1);
    EXPECT_LT(cv::norm(cv::Vec3d(out.mat.at<cv::Vec3d>(0)) - r), 1e-12);
}

// Near the identity the first-order vector; products of rotations that are
// the identity up to rounding must not give NaN.
TEST_F(RotationEdges, RodriguesVnlNearIdentity) {
    double R[9], r[3] = {1e-7, -2e-7, 3e-7};
    RodriguesVnl(R, r, 1);
    double back[3];
    RodriguesVnl(R, back, 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], r[i], 1e-13);

    const cv::Matx33d A = ToMatrix(cv::Vec3d(0.3, 1.1, -0.2));
    const cv::Matx33d P = A * A.t();
    double Rp[9];
    for (int k = 0; k < 9; ++k) Rp[k] = P.val[k];
    RodriguesVnl(Rp, back, 0);
    for (double v : back) {
        EXPECT_FALSE(std::isnan(v));
        EXPECT_NEAR(v, 0.0, 1e-12);
    }
}

// The matrix is made orthonormal first: a scaled rotation gives its vector.
TEST_F(RotationEdges, RodriguesVnlOrthonormalises) {
    const cv::Vec3d r(0.5, -0.1, 0.3);
    const cv::Matx33d R = ToMatrix(r) * 1.01;
    double m[9], back[3];
    for (int k = 0; k < 9; ++k) m[k] = R.val[k];
    RodriguesVnl(m, back, 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], r[i], 1e-12);
}

}  // namespace
