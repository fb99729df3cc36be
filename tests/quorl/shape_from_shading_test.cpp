// Height propagation from the brightest points and the linearised iteration.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cvcompat/errstatus.h>
#include <vector>

#include "shading_fixtures.h"
#include "shape_from_shading.h"

namespace {

using shading_test::Bump;
using shading_test::RenderLambertian;

constexpr int kSize = 64;
const Bump kBump{32.0, 32.0, 8.0, 12.0};

std::vector<float> Heights(const std::vector<unsigned char>& image, const double* light, int size = kSize) {
    std::vector<float> heights(static_cast<size_t>(size) * size, -7.0f);
    CV::ShapeFromShading(image.data(), size, size, light, heights.data());
    return heights;
}

double Distance(int row, int col, const Bump& bump) { return std::hypot(row - bump.centreRow, col - bump.centreCol); }

TEST(ShapeFromShading, BumpPeaksNearItsCentre) {
    const double light[3] = {0.3, 0.2, 0.93};
    const std::vector<float> heights = Heights(RenderLambertian(kBump, kSize, kSize, light), light);
    for (float h : heights) {
        ASSERT_TRUE(std::isfinite(h));
        ASSERT_GE(h, 0.0f);
    }
    int row, col;
    shading_test::ArgMax(heights, kSize, row, col);
    EXPECT_GT(heights[row * kSize + col], 0.0f);
    EXPECT_LE(Distance(row, col, kBump), kBump.sigma) << row << "," << col;
}

TEST(ShapeFromShading, OverheadLightLeavesTheImageUnturned) {
    // Brightest at the four corners: their seeds (55, on the border that no
    // sweep changes) come out where they are, while any turn of the image
    // would carry a corner's source outside it.
    std::vector<unsigned char> image(kSize * kSize);
    for (int i = 0; i < kSize; ++i)
        for (int j = 0; j < kSize; ++j) image[i * kSize + j] = static_cast<unsigned char>(100 + (i * j) % 50);
    for (int corner : {0, kSize - 1, kSize * (kSize - 1), kSize * kSize - 1}) image[corner] = 255;
    const double light[3] = {0.0, 0.0, 1.0};
    const std::vector<float> heights = Heights(image, light);
    for (int corner : {0, kSize - 1, kSize * (kSize - 1), kSize * kSize - 1}) EXPECT_EQ(heights[corner], 55.0f) << corner;
}

TEST(ShapeFromShading, LightAlongYTurnsTheImageAQuarter) {
    // Under a light along +y the image is turned a quarter so that the light
    // comes from +x: the same as turning it by hand and lighting it along +x.
    const Bump offCentre{24.0, 38.0, 6.0, 10.0};
    const double alongY[3] = {0.0, 0.5, 0.866}, alongX[3] = {0.5, 0.0, 0.866};
    std::vector<unsigned char> image = RenderLambertian(offCentre, kSize, kSize, alongY);
    // The darkest byte (brightness 0) sits on the border, which no sweep
    // updates: at brightness 0 a light component of 1e-17 left by the turn
    // decides whether a step exists at all.
    image[1 * kSize + 1] = 0;
    // turned[i][j] = image[64 - j][i]; the column that would come from row 64
    // takes row 0's flat background.
    std::vector<unsigned char> turned(kSize * kSize);
    for (int i = 0; i < kSize; ++i)
        for (int j = 0; j < kSize; ++j) turned[i * kSize + j] = image[(j == 0 ? 0 : kSize - j) * kSize + i];
    const std::vector<float> h1 = Heights(image, alongY);
    const std::vector<float> h2 = Heights(turned, alongX);
    int maxDifferenceAt = -1;
    float maxDifference = 0.0f;
    for (int i = 1; i < kSize; ++i)
        for (int j = 0; j < kSize; ++j) {
            const float d = std::fabs(h1[i * kSize + j] - h2[j * kSize + (kSize - i)]);
            if (d > maxDifference) maxDifference = d, maxDifferenceAt = i * kSize + j;
        }
    EXPECT_LT(maxDifference, 1e-3f) << "at " << maxDifferenceAt;
    EXPECT_GT(*std::max_element(h1.begin(), h1.end()), 0.0f);
}

TEST(ShapeFromShading, NoContrastOrNoLightGivesZeros) {
    const double light[3] = {0.3, 0.2, 0.93}, none[3] = {0.0, 0.0, 0.0};
    EXPECT_THAT(Heights(std::vector<unsigned char>(kSize * kSize, 120), light), testing::Each(0.0f));
    EXPECT_THAT(Heights(RenderLambertian(kBump, kSize, kSize, light), none), testing::Each(0.0f));
}

TEST(ShapeFromShading, RefusesNullsAndEmptySizes) {
    const double light[3] = {0.3, 0.2, 0.93};
    std::vector<unsigned char> image(16, 100);
    std::vector<float> heights(16, -7.0f);
    cvcompat::ClearErrStatus();
    CV::ShapeFromShading(nullptr, 4, 4, light, heights.data());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    cvcompat::ClearErrStatus();
    CV::ShapeFromShading(image.data(), 0, 4, light, heights.data());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    CV::ShapeFromShading(image.data(), 4, 4, nullptr, heights.data());
    EXPECT_THAT(heights, testing::Each(-7.0f));
}

TEST(ComputeDirectionSteps, NoSolutionWhereTheBrightnessCannotBeReached) {
    // Light along +x, pixel brightness 0. Steps are written per direction k
    // with A = lx sin(k pi / 4) - ly cos(k pi / 4), B = -(lx cos + ly sin).
    double block[8];
    double* row[1] = {block};
    double** steps[1] = {row};
    double brightness = 0.0;
    double* brightnessRow[1] = {&brightness};
    const double light[3] = {1.0, 0.0, 0.0};
    CV::ComputeDirectionSteps(steps, brightnessRow, 1, 1, light);
    // E = 0: c = -A^2 = 0 for direction 0, d = 0, den = -1 + 1e-10 < 0 and
    // B = -1 < 1e-6: a solution, 0 / den.
    EXPECT_EQ(block[0], 0.0);
    // Direction 2 (A = 1): c = -1, d = -1 < 0: no solution.
    EXPECT_EQ(block[2], CV::kNoHeight);
    // Odd directions are scaled by sqrt(1/2), the sentinel too.
    EXPECT_DOUBLE_EQ(block[1], CV::kNoHeight * std::sqrt(0.5));

    // Direction 0 with A = 0 and a negative B whose square exceeds E^2 by
    // exactly the 1e-10 guard: the denominator is exactly 0, a direction
    // without solution rather than an infinite step.
    brightness = 5.213356600745188e-07;
    const double grazing[3] = {1.0013580322265625e-05, 0.0, 0.0};
    CV::ComputeDirectionSteps(steps, brightnessRow, 1, 1, grazing);
    EXPECT_EQ(block[0], CV::kNoHeight);
}

TEST(ShadingHeightIteration, ZeroIterationsGiveZeros) {
    std::vector<unsigned char> image(12, 77);
    std::vector<float> heights(12, 5.0f);
    CV::ShadingHeightIteration(image.data(), 3, 4, 0, 0, heights.data());
    EXPECT_THAT(heights, testing::Each(0.0f));
}

TEST(ShadingHeightIteration, OnePassOnThreeByThree) {
    // From zero heights every gradient is 0, so each pixel takes
    // K (R - E) with R = 1 / N, D = -0.004 / N, K = D / (D^2 + 1e-8) and
    // N = sqrt(1.000008).
    const std::vector<unsigned char> image = {0, 128, 255, 64, 255, 32, 200, 10, 100};
    const double expected[9] = {-249.843846, -124.431520, 0.0010231, -187.137683, 0.0010231,
                                -218.490765, -53.887086,  -240.046008, -151.865466};
    std::vector<float> heights(9);
    CV::ShadingHeightIteration(image.data(), 3, 3, 0, 1, heights.data());
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(heights[i], expected[i], 0.05) << i;
}

TEST(ShadingHeightIteration, ManyPassesStayFinite) {
    const double light[3] = {0.0, 0.0, 1.0};
    const std::vector<unsigned char> image = RenderLambertian(kBump, kSize, kSize, light);
    std::vector<float> heights(kSize * kSize);
    CV::ShadingHeightIteration(image.data(), kSize, kSize, 0, 20, heights.data());
    for (float h : heights) ASSERT_TRUE(std::isfinite(h));
}

}  // namespace
