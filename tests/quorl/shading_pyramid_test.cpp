// Coarse-to-fine height and gradient relaxation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cvcompat/errstatus.h>
#include <limits>
#include <vector>

#include "shading_fixtures.h"
#include "shading_pyramid.h"

namespace {

using shading_test::Bump;
using shading_test::RenderLambertian;

// rows x cols floats behind row pointers, filled with a value.
struct Fields {
    Fields(int rows, int cols, float fill) : values(rows * cols, fill), pointers(rows) {
        for (int i = 0; i < rows; ++i) pointers[i] = values.data() + i * cols;
    }
    float** rows() { return pointers.data(); }
    std::vector<float> values;
    std::vector<float*> pointers;
};

// Each level rendered at its own size from the bump scaled to it.
struct Pyramid {
    Pyramid(const Bump& bump, int rows, int cols, unsigned levels, const double* light) {
        for (unsigned k = 0; k <= levels; ++k) {
            const int shift = static_cast<int>(levels - k);
            const double s = 1.0 / (1 << shift);
            const Bump scaled{bump.centreRow * s, bump.centreCol * s, bump.sigma * s, bump.amplitude * s};
            images.push_back(RenderLambertian(scaled, cols >> shift, rows >> shift, light));
        }
        for (const auto& image : images) pointers.push_back(image.data());
    }
    const unsigned char** levels() { return pointers.data(); }
    std::vector<std::vector<unsigned char>> images;
    std::vector<const unsigned char*> pointers;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(ProlongateFields, LinearFieldStaysLinearEverywhere) {
    // Constant gradients with p != q and p != -q, heights consistent with
    // them (p along columns, q along rows): the fine field is the same
    // gradients over heights doubled, at every fine position.
    const int R = 4, C = 5;
    const float p = 0.3f, q = -0.7f, z0 = 2.0f;
    Fields pc(R, C, p), qc(R, C, q), zc(R, C, 0.0f);
    for (int I = 1; I <= R; ++I)
        for (int Y = 1; Y <= C; ++Y) zc.rows()[I - 1][Y - 1] = z0 + p * Y + q * I;
    Fields pf(2 * R, 2 * C, kNaN), qf(2 * R, 2 * C, kNaN), zf(2 * R, 2 * C, kNaN);
    CV::ProlongateFields(pf.rows(), qf.rows(), zf.rows(), pc.rows(), qc.rows(), zc.rows(), C, R);
    for (int J = 1; J <= 2 * R; ++J)
        for (int X = 1; X <= 2 * C; ++X) {
            EXPECT_NEAR(pf.rows()[J - 1][X - 1], p, 1e-5) << J << "," << X;
            EXPECT_NEAR(qf.rows()[J - 1][X - 1], q, 1e-5) << J << "," << X;
            EXPECT_NEAR(zf.rows()[J - 1][X - 1], 2.0f * z0 + p * X + q * J, 1e-4) << J << "," << X;
        }
}

TEST(ProlongateFields, RefusesLevelsBelowTwoByTwo) {
    Fields c(1, 4, 1.0f), f(2, 8, kNaN);
    cvcompat::ClearErrStatus();
    CV::ProlongateFields(f.rows(), f.rows(), f.rows(), c.rows(), c.rows(), c.rows(), 4, 1);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    for (float v : f.values) EXPECT_TRUE(std::isnan(v));
}

const double kLight[3] = {0.4, 0.3, 0.85};

std::vector<float> PyramidHeights(Pyramid& pyramid, int rows, int cols, const float* light, unsigned levels) {
    std::vector<float> heights(rows * cols, kNaN);
    CV::ShadingHeightGradientPyramid(pyramid.levels(), rows, cols, light, levels, heights.data());
    return heights;
}

TEST(ShadingHeightGradientPyramid, BumpShowsAsADepressionAtItsPlace) {
    // The model's light is (x, y, -z): lit from in front, it reads the bump's
    // shading as a dip. What the bump adds to the heights of the same scene
    // without it (the light alone tilts the whole surface) has its lowest
    // point on the bump (within three quarters of its sigma), wherever the bump stands and whichever way along y
    // the light falls.
    for (const std::array<float, 3>& light : {std::array<float, 3>{0.0f, 0.5f, 0.85f}, std::array<float, 3>{0.0f, -0.5f, 0.85f}})
        for (auto [row, col] : {std::pair{32.0, 32.0}, std::pair{24.0, 40.0}, std::pair{40.0, 22.0}}) {
            const double renderLight[3] = {light[0], light[1], light[2]};
            Pyramid withBump(Bump{row, col, 7.0, 10.0}, 64, 64, 2, renderLight);
            Pyramid without(Bump{row, col, 7.0, 0.0}, 64, 64, 2, renderLight);
            const std::vector<float> a = PyramidHeights(withBump, 64, 64, light.data(), 2);
            const std::vector<float> b = PyramidHeights(without, 64, 64, light.data(), 2);
            std::vector<float> lowered(a.size());
            for (size_t i = 0; i < a.size(); ++i) lowered[i] = b[i] - a[i];
            int r, c;
            shading_test::ArgMax(lowered, 64, r, c);
            EXPECT_GT(lowered[r * 64 + c], 0.0f);
            EXPECT_LE(std::hypot(r - row, c - col), 0.75 * 7.0) << "light y " << light[1] << ": " << r << "," << c;
        }
}

TEST(ShadingHeightGradientPyramid, SizesNotDivisibleByTheLevelsAreFilled) {
    // 65 x 66 with two coarser levels: 16 x 16, 32 x 33, 65 x 66. The
    // prolongation fills 32 x 32 and 64 x 66; the rest is repeated from the
    // last filled row and column, so no unwritten table entry reaches a
    // result.
    Pyramid pyramid(Bump{30.0, 34.0, 8.0, 10.0}, 65, 66, 2, kLight);
    const float light[3] = {0.4f, 0.3f, 0.85f};
    const std::vector<float> h = PyramidHeights(pyramid, 65, 66, light, 2);
    for (size_t i = 0; i < h.size(); ++i) ASSERT_TRUE(std::isfinite(h[i])) << i;
}

TEST(ShadingHeightGradientPyramid, OverheadLightIsTakenAsNearlyOverhead) {
    Pyramid pyramid(Bump{32.0, 32.0, 7.0, 10.0}, 32, 32, 1, kLight);
    const float overhead[3] = {0.0f, 0.0f, 0.9f}, nudged[3] = {0.01f, 0.01f, 0.9f};
    EXPECT_EQ(PyramidHeights(pyramid, 32, 32, overhead, 1), PyramidHeights(pyramid, 32, 32, nudged, 1));
}

TEST(ShadingHeightGradientPyramid, NoCoarserLevelRelaxesTheImageAlone) {
    // A one-entry pyramid: a second image would be read past its end.
    const int rows = 12, cols = 10;
    Pyramid pyramid(Bump{6.0, 5.0, 3.0, 4.0}, rows, cols, 0, kLight);
    const float light[3] = {0.4f, 0.3f, 0.85f};
    const std::vector<float> h = PyramidHeights(pyramid, rows, cols, light, 0);
    // The same as relaxing the image directly from zero fields.
    Fields e(rows, cols, 0.0f), p(rows, cols, 0.0f), q(rows, cols, 0.0f), z(rows, cols, 0.0f);
    Fields pn(rows, cols, 0.0f), qn(rows, cols, 0.0f), zn(rows, cols, 0.0f);
    for (int i = 0; i < rows * cols; ++i) e.values[i] = pyramid.images[0][i] * 0.003921569f;
    const float len = std::sqrt(0.4f * 0.4f + 0.3f * 0.3f + 0.85f * 0.85f);
    CV::RelaxHeightGradient(e.rows(), p.rows(), q.rows(), z.rows(), pn.rows(), qn.rows(), zn.rows(), cols, rows,
                            0.4f / len, 0.3f / len, -0.85f / len, 0.0f);
    EXPECT_EQ(h, zn.values);
}

TEST(ShadingHeightGradientPyramid, RefusesWithoutTouchingTheHeights) {
    Pyramid pyramid(Bump{32.0, 32.0, 7.0, 10.0}, 64, 64, 2, kLight);
    const float light[3] = {0.4f, 0.3f, 0.85f};
    std::vector<float> heights(64 * 64, -3.0f);
    struct Case {
        const unsigned char** levels;
        int rows, cols;
        unsigned L;
        int status;
    };
    for (const Case& c : {Case{pyramid.levels(), 64, 64, 6, CV_StsBadSize},  // coarsest 1 x 1
                          Case{pyramid.levels(), 64, 3, 1, CV_StsBadSize},   // coarsest 32 x 1
                          Case{pyramid.levels(), 64, 64, 40, CV_StsBadSize}, Case{nullptr, 64, 64, 2, CV_StsBadArg}}) {
        cvcompat::ClearErrStatus();
        CV::ShadingHeightGradientPyramid(c.levels, c.rows, c.cols, light, c.L, heights.data());
        EXPECT_EQ(cvcompat::GetErrStatus(), c.status) << c.rows << "x" << c.cols << " L " << c.L;
        EXPECT_THAT(heights, testing::Each(-3.0f));
    }
}

}  // namespace
