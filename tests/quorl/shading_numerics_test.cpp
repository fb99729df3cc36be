// Matrix inverse, shading normals and the small numeric routines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <climits>
#include <cmath>
#include <cvcompat/errstatus.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "shading_numerics.h"

namespace {

using CV::Inverse_matrix;

struct InverseCase {
    const char* name;
    int n;
    std::vector<double> matrix;  // empty: a random well-conditioned matrix
    double determinant;          // checked when matrix is given
};

std::vector<double> WellConditioned(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> a(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a[i * n + j] = u(rng) + (i == j ? n : 0.0);
    return a;
}

class InverseMatrixTest : public testing::TestWithParam<InverseCase> {};

TEST_P(InverseMatrixTest, InvertsInPlaceWithTheDeterminant) {
    const InverseCase& c = GetParam();
    std::vector<double> a = c.matrix.empty() ? WellConditioned(c.n, 7u + c.n) : c.matrix;
    const Eigen::MatrixXd original = Eigen::Map<Eigen::Matrix<double, -1, -1, Eigen::RowMajor>>(a.data(), c.n, c.n);
    double det = 0.0;
    ASSERT_EQ(Inverse_matrix(c.n, &det, a.data()), 1);
    const Eigen::MatrixXd inverse = Eigen::Map<Eigen::Matrix<double, -1, -1, Eigen::RowMajor>>(a.data(), c.n, c.n);
    EXPECT_LT((original * inverse - Eigen::MatrixXd::Identity(c.n, c.n)).cwiseAbs().maxCoeff(), 1e-10);
    const double expected = c.matrix.empty() ? original.determinant() : c.determinant;
    EXPECT_NEAR(det, expected, 1e-9 * std::fabs(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, InverseMatrixTest,
    testing::Values(InverseCase{"identity", 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1.0},
                    InverseCase{"rows_swapped", 3, {0, 1, 0, 1, 0, 0, 0, 0, 1}, -1.0},
                    InverseCase{"n5", 5, {}, 0}, InverseCase{"n12", 12, {}, 0}, InverseCase{"n64", 64, {}, 0},
                    // Beyond the old fixed 64-entry permutation records.
                    InverseCase{"n65", 65, {}, 0}),
    [](const testing::TestParamInfo<InverseCase>& info) { return std::string(info.param.name); });

TEST(InverseMatrix, IdentityStaysTheIdentity) {
    std::vector<double> a = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double det = 0.0;
    ASSERT_EQ(Inverse_matrix(3, &det, a.data()), 1);
    EXPECT_THAT(a, testing::ElementsAre(1, 0, 0, 0, 1, 0, 0, 0, 1));
}

TEST(InverseMatrix, SingularMatricesReportOnStandardOutput) {
    // The second eliminates to an exact zero pivot.
    for (std::vector<double> a : {std::vector<double>(9, 0.0), std::vector<double>{1, 2, 4, 2, 4, 8, 0, 0, 1}}) {
        double det = 5.0;
        testing::internal::CaptureStdout();
        EXPECT_EQ(Inverse_matrix(3, &det, a.data()), -100);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nInverse_matrix; singular\n");
        EXPECT_EQ(det, 0.0);
    }
}

TEST(InverseMatrix, RefusesBadArgumentsWithoutTouchingThem) {
    std::vector<double> a = {2, 0, 0, 2};
    double det = 5.0;
    cvcompat::ClearErrStatus();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Inverse_matrix(0, &det, a.data()), -100);
    EXPECT_EQ(Inverse_matrix(2, nullptr, a.data()), -100);
    EXPECT_EQ(Inverse_matrix(2, &det, nullptr), -100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_THAT(a, testing::ElementsAre(2, 0, 0, 2));
    EXPECT_EQ(det, 5.0);
}

TEST(PowInt, SquareAndMultiplyTable) {
    struct Case {
        double x;
        int e;
        double expected;
    };
    for (const Case& c : {Case{1.5, 0, 1.0}, Case{1.5, 1, 1.5}, Case{2.0, 10, 1024.0}, Case{2.0, -3, 0.125},
                          Case{-2.0, 3, -8.0}, Case{2.0, 31, 2147483648.0}, Case{1.0, 31, 1.0},
                          Case{1.0, INT_MIN, 1.0}, Case{0.0, -1, std::numeric_limits<double>::infinity()}}) {
        EXPECT_EQ(CV::PowInt(c.x, c.e), c.expected) << c.x << "^" << c.e;
        EXPECT_EQ(CV::PowIntDouble(c.x, c.e), c.expected) << c.x << "^" << c.e;
    }
}

TEST(IntVector, IndexRangesIncludingNegativeLows) {
    for (auto [low, high] : {std::pair{4, 4}, std::pair{-3, 2}, std::pair{-7, -5}, std::pair{1, 10}}) {
        int* v = CV::IntVector(low, high);
        ASSERT_NE(v, nullptr);
        // Every index of the range is writable (AddressSanitizer watches).
        for (int i = low; i <= high; ++i) v[i] = i * 3;
        for (int i = low; i <= high; ++i) EXPECT_EQ(v[i], i * 3);
        CV::FreeIntVector(v, low);
    }
    EXPECT_EQ(CV::IntVector(3, 2), nullptr);
    CV::FreeIntVector(nullptr, 0);
}

TEST(MathWrappers, ExtendedAndDoublePrecision) {
    EXPECT_NEAR(CV::Atan2F(1.0f, -1.0f), 3.0 * M_PI / 4.0, 1e-12);
    EXPECT_NEAR(CV::AcosF(0.5f), M_PI / 3.0, 1e-12);
    EXPECT_NEAR(CV::PowF(2.0f, 0.5f), std::sqrt(2.0f), 1e-6);
}

struct NormalsImage {
    int width = 7, height = 5;
    std::vector<unsigned char> pixels;
    std::vector<float> out;
    NormalsImage(unsigned char value) : pixels(width * height, value), out(width * height, -1.0f) {}
};

TEST(ShadingNormalsFrontal, UniformImageShowsTheLightsUnitZ) {
    NormalsImage image(200);
    const double light[3] = {1.0, 2.0, 3.0};
    CV::ShadingNormalsFrontal(image.pixels.data(), image.width, image.height, light, image.out.data());
    const float expected = static_cast<float>(255.0 * 3.0 / std::sqrt(14.0));
    for (int i = 0; i < image.height; ++i)
        for (int j = 0; j < image.width; ++j) {
            const float v = image.out[i * image.width + j];
            if (i == image.height - 1 || j == image.width - 1)
                EXPECT_EQ(v, 0.0f) << i << "," << j;
            else
                EXPECT_NEAR(v, expected, 1e-3) << i << "," << j;
        }
}

TEST(ShadingNormalsFrontal, BlackImageOrZeroLightGivesZeros) {
    const double light[3] = {1.0, 2.0, 3.0}, none[3] = {0.0, 0.0, 0.0};
    NormalsImage black(0);
    CV::ShadingNormalsFrontal(black.pixels.data(), black.width, black.height, light, black.out.data());
    EXPECT_THAT(black.out, testing::Each(0.0f));
    NormalsImage grey(90);
    CV::ShadingNormalsFrontal(grey.pixels.data(), grey.width, grey.height, none, grey.out.data());
    EXPECT_THAT(grey.out, testing::Each(0.0f));
}

TEST(ShadingNormalsFrontal, SlopedShadingTurnsTheNormalAway) {
    // Brightness falling along the columns under an overhead light: the
    // normals lean, so the frontal image is darker than the flat 255.
    const int w = 6, h = 4;
    std::vector<unsigned char> pixels(w * h);
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) pixels[i * w + j] = static_cast<unsigned char>(250 - 40 * j);
    std::vector<float> out(w * h);
    const double light[3] = {0.0, 0.0, 1.0};
    CV::ShadingNormalsFrontal(pixels.data(), w, h, light, out.data());
    for (int i = 0; i + 1 < h; ++i)
        for (int j = 1; j + 1 < w; ++j) {
            EXPECT_TRUE(std::isfinite(out[i * w + j]));
            EXPECT_LT(out[i * w + j], 254.0f);
            EXPECT_GT(out[i * w + j], 0.0f);
        }
}

}  // namespace
