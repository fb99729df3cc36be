// Specular-free-image separation, its one-pass operations and SFI access.
#include "CV/highlight_separation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cvcompat/errstatus.h>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "highlight_fixture.h"

namespace {

using CV::Reflection::CSpecularitySeparation;
using highlight_test::ColourImage;
using highlight_test::Scene;

using Separation = std::function<void(CSpecularitySeparation&, const ColourImage&)>;

unsigned char* Bytes(const ColourImage& image) { return reinterpret_cast<unsigned char*>(image.get()->imageData); }

const Separation kFull = [](CSpecularitySeparation& s, const ColourImage& image) {
    ASSERT_EQ(s.SeparateSpecularAndDiffuse(Bytes(image), nullptr, nullptr, image.width(), image.height(),
                                           image.get()->widthStep, 0),
              0);
};
const Separation kFast = [](CSpecularitySeparation& s, const ColourImage& image) {
    ASSERT_EQ(s.SeparateSpecularAndDiffuse_Fast(Bytes(image), nullptr, nullptr, image.width(), image.height(),
                                                image.get()->widthStep, 0),
              0);
};
const Separation kProcessFrame = [](CSpecularitySeparation& s, const ColourImage& image) { s.ProcessFrame(image.get()); };

struct Variant {
    const char* name;
    Separation separate;
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

class SeparationVariants : public testing::TestWithParam<Variant> {};

TEST_P(SeparationVariants, RemovesASharpHighlight) {
    const Scene scene;
    const ColourImage input = scene.Highlighted();
    ColourImage image = input;
    CSpecularitySeparation separation;
    GetParam().separate(separation, image);
    highlight_test::ExpectHighlightRemoved(scene, image, input);
}

TEST_P(SeparationVariants, DarkPixelsInAndBesideTheHighlightKeepTheirBytes) {
    // Dark (every channel below 10) with a chromaticity near the patch's and
    // a smaller maximum: were such a pixel adjusted as a neighbour, it would
    // lose bytes.
    const Scene scene;
    ColourImage image = scene.Highlighted();
    const int cx = static_cast<int>(scene.centreX), cy = static_cast<int>(scene.centreY);
    const std::vector<std::pair<int, int>> dark = {{cx, cy}, {cx + 6, cy}, {cx - 6, cy}, {cx, cy + 6}, {cx + 1, cy - 3}};
    for (auto [x, y] : dark) image.Set(x, y, 3, 4, 7);
    CSpecularitySeparation separation;
    GetParam().separate(separation, image);
    for (auto [x, y] : dark) {
        EXPECT_EQ(image.At(x, y)[0], 3) << x << "," << y;
        EXPECT_EQ(image.At(x, y)[1], 4) << x << "," << y;
        EXPECT_EQ(image.At(x, y)[2], 7) << x << "," << y;
    }
}

TEST_P(SeparationVariants, OneRowOrOneColumnComesBackUnchanged) {
    for (auto [w, h] : {std::pair{40, 1}, std::pair{1, 40}}) {
        ColourImage image(w, h);
        for (int i = 0; i < std::max(w, h); ++i) {
            const int extra = (i > 10 && i < 20) ? 40 : 0;
            image.Set(w == 1 ? 0 : i, h == 1 ? 0 : i, 40 + extra + i, 90 + extra, 160 + extra - i);
        }
        const ColourImage before = image;
        CSpecularitySeparation separation;
        GetParam().separate(separation, image);
        EXPECT_TRUE(image.SameBytes(before)) << w << "x" << h;
    }
}

TEST_P(SeparationVariants, ColouredIlluminationLeavesAHighlightFreeImageExactly) {
    const ColourImage input = Scene().Diffuse();
    ColourImage image = input;
    CSpecularitySeparation separation;
    separation.SetIlluminationChroma(0.9f, 0.7f, 1.3f);
    GetParam().separate(separation, image);
    EXPECT_TRUE(image.SameBytes(input));
}

INSTANTIATE_TEST_SUITE_P(Table, SeparationVariants,
                         testing::Values(Variant{"full", kFull}, Variant{"fast", kFast},
                                         Variant{"process_frame", kProcessFrame}),
                         [](const testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

TEST(SpecularitySeparation, FastIsCloseToTheFullSweep) {
    const Scene scene;
    ColourImage full = scene.Highlighted(), fast = scene.Highlighted();
    CSpecularitySeparation a, b;
    kFull(a, full);
    kFast(b, fast);
    EXPECT_LE(full.MaxByteDifference(fast), 3);
}

TEST(SpecularitySeparation, RepeatedFramesReuseOneSetOfBuffers) {
    // Leak checking at exit catches buffers left behind by earlier frames.
    const Scene scene;
    CSpecularitySeparation separation;
    ColourImage first = scene.Highlighted();
    separation.ProcessFrame(first.get());
    for (int i = 0; i < 4; ++i) {
        ColourImage again = scene.Highlighted();
        separation.ProcessFrame(again.get());
        EXPECT_TRUE(again.SameBytes(first));
    }
    ColourImage smaller(20, 10);
    separation.ProcessFrame(smaller.get());
}

TEST(SpecularitySeparation, SfiImageIsClampedAndNeedsASeparation) {
    CSpecularitySeparation separation;
    std::vector<unsigned char> out(4 * 4 * 4, 77);
    cvcompat::ClearErrStatus();
    EXPECT_EQ(separation.GetSfiImage(out.data(), 4, 4, 0, 4), -1);
    EXPECT_NE(cvcompat::GetErrStatus(), CV_StsOk);
    EXPECT_THAT(out, testing::Each(77));

    // Maximum chromaticity 250 / 430 is above the SFI's 0.5, so the SFI adds
    // 70 to every channel and red reaches 320.
    ColourImage image(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) image.Set(x, y, 60, 120, 250);
    kFull(separation, image);
    EXPECT_EQ(separation.GetSfiImage(out.data(), 4, 5, 0, 4), -1);
    EXPECT_EQ(separation.GetSfiImage(out.data(), 4, 4, 0, 2), -1);
    EXPECT_EQ(separation.GetSfiImage(out.data(), 4, 4, 15, 4), -1);
    EXPECT_THAT(out, testing::Each(77));
    ASSERT_EQ(separation.GetSfiImage(out.data(), 4, 4, 0, 4), 0);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(out[4 * i], 130, 1);
        EXPECT_NEAR(out[4 * i + 1], 190, 1);
        EXPECT_EQ(out[4 * i + 2], 255);
        EXPECT_EQ(out[4 * i + 3], 77);  // beyond the three channels: untouched
    }
}

TEST(SpecularitySeparation, CopiesAreIndependent) {
    const Scene scene;
    ColourImage image = scene.Highlighted();
    CSpecularitySeparation original;
    kFull(original, image);
    const int w = Scene::kWidth, h = Scene::kHeight;
    std::vector<unsigned char> before(w * h * 3), after(w * h * 3);
    ASSERT_EQ(original.GetSfiImage(before.data(), w, h, 0, 3), 0);

    CSpecularitySeparation copy(original);
    CSpecularitySeparation assigned;
    assigned = original;
    ColourImage other(8, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) other.Set(x, y, 100, 150, 200);
    kFull(copy, other);
    kFull(assigned, other);
    ASSERT_EQ(original.GetSfiImage(after.data(), w, h, 0, 3), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(copy.GetSfiImage(after.data(), 8, 6, 0, 3), 0);
}

TEST(SpecularitySeparation, RefusedIlluminationKeepsThePreviousOne) {
    const Scene scene;
    ColourImage expected = scene.Highlighted(), image = scene.Highlighted();
    CSpecularitySeparation plain, refused;
    cvcompat::ClearErrStatus();
    refused.SetIlluminationChroma(0.0f, 1.0f, 1.0f);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    refused.SetIlluminationChroma(1.0f, -2.0f, 1.0f);
    refused.SetIlluminationChroma(1.0f, 1.0f, NAN);
    kFull(plain, expected);
    kFull(refused, image);
    EXPECT_TRUE(image.SameBytes(expected));
}

TEST(SpecularitySeparation, RefusesBadImages) {
    CSpecularitySeparation separation;
    std::vector<unsigned char> bytes(30, 50);
    struct Case {
        unsigned char* image;
        int width, height, step, status;
    };
    for (const Case& c : {Case{nullptr, 2, 2, 6, CV_StsBadArg}, Case{bytes.data(), 0, 2, 6, CV_StsBadSize},
                          Case{bytes.data(), 2, -1, 6, CV_StsBadSize}, Case{bytes.data(), 2, 2, 5, CV_StsBadSize}}) {
        cvcompat::ClearErrStatus();
        EXPECT_EQ(separation.Initialize(c.image, c.width, c.height, c.step, 0), -1);
        EXPECT_EQ(separation.SeparateSpecularAndDiffuse(c.image, nullptr, nullptr, c.width, c.height, c.step, 0), -1);
        EXPECT_EQ(cvcompat::GetErrStatus(), c.status);
    }
    EXPECT_THAT(bytes, testing::Each(50));

    // Not 8-bit 3-channel: left as it is.
    IplImage* grey = cvCreateImage(cvSize(8, 8), IPL_DEPTH_8U, 1);
    cvSet(grey, cvScalarAll(240));
    cvcompat::ClearErrStatus();
    separation.ProcessFrame(grey);
    separation.SpecularFreeImage(grey);
    separation.ProcessFrameDetect(grey);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(cvCountNonZero(grey), 64);
    EXPECT_EQ(cvGetReal2D(grey, 3, 3), 240.0);
    cvReleaseImage(&grey);
}

TEST(SpecularitySeparation, StepsBeforeAnyImageDoNothing) {
    CSpecularitySeparation separation;
    EXPECT_EQ(separation.LogDiff(0.1f), 0);
    EXPECT_EQ(separation.LogDiff_Fast(0.1f), 0);
    EXPECT_EQ(separation.LogDiff_FastInner(0.1f), 0);
    EXPECT_EQ(separation.Iteration(0.1f), 0);
    EXPECT_EQ(separation.Iteration_Fast(0.1f), 0);
    EXPECT_EQ(separation.ResetLabels(), 0);
    EXPECT_EQ(separation.SpecularToDiffuse(0, 0.6f), 1);
}

TEST(SpecularitySeparation, SpecularToDiffuseRefusesIndicesAndChromaticities) {
    ColourImage image(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) image.Set(x, y, 60, 90, 120);
    CSpecularitySeparation separation;
    ASSERT_EQ(separation.Initialize(Bytes(image), 3, 2, image.get()->widthStep, 0), 0);
    for (auto [index, chroma] : {std::pair{-4, 0.6f}, std::pair{24, 0.6f}, std::pair{2, 0.6f},
                                 std::pair{0, 1.0f / 3.0f}, std::pair{0, 0.2f}, std::pair{0, NAN}}) {
        cvcompat::ClearErrStatus();
        EXPECT_EQ(separation.SpecularToDiffuse(index, chroma), 1) << index << " " << chroma;
        EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    }
    // Pushing (60, 90, 120) to maximum chromaticity 0.6 subtracts
    // d = (0.6 x 270 - 120) / 0.8 = 52.5 from each channel.
    EXPECT_EQ(separation.SpecularToDiffuse(4, 0.6f), 0);
    // Further than the smallest channel allows: refused.
    EXPECT_EQ(separation.SpecularToDiffuse(0, 0.99f), 1);
    std::vector<unsigned char> sfi(3 * 2 * 3);
    ASSERT_EQ(separation.GetSfiImage(sfi.data(), 3, 2, 0, 3), 0);
}

struct OnePassCase {
    const char* name;
    unsigned char in[3];
    unsigned char out[3];
};

class SpecularFreeImageTable : public testing::TestWithParam<OnePassCase> {};

TEST_P(SpecularFreeImageTable, ReducesOnlyWhereTheModelHolds) {
    const OnePassCase& c = GetParam();
    ColourImage image(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) image.Set(x, y, c.in[0], c.in[1], c.in[2]);
    CSpecularitySeparation().SpecularFreeImage(image.get());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_THAT(std::vector<int>(image.At(x, y), image.At(x, y) + 3),
                        testing::ElementsAre(c.out[0], c.out[1], c.out[2]));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpecularFreeImageTable,
    testing::Values(OnePassCase{"dark", {5, 3, 8}, {5, 3, 8}}, OnePassCase{"saturated", {251, 252, 253}, {251, 252, 253}},
                    // Purer than the diffuse chromaticity 0.45: the reduction
                    // would be negative (it would wrap to 2, 58, 58 here).
                    OnePassCase{"pure_red", {200, 0, 0}, {200, 0, 0}},
                    OnePassCase{"strong_red", {100, 30, 30}, {100, 30, 30}},
                    // s = 310, g = 120: h = (310 - 50 / 0.35) / 3 = 55.71.
                    OnePassCase{"typical", {90, 100, 120}, {34, 44, 64}},
                    // Grey: h equals every channel, leaving nothing above 1.
                    OnePassCase{"grey", {100, 100, 100}, {100, 100, 100}}),
    [](const testing::TestParamInfo<OnePassCase>& info) { return std::string(info.param.name); });

TEST(SpecularitySeparation, DetectMarksTheBrightSpotWhite) {
    ColourImage image(24, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool spot = x >= 8 && x < 15 && y >= 6 && y < 13;
            image.Set(x, y, spot ? 255 : 90, spot ? 255 : 100, spot ? 255 : 110);
        }
    CSpecularitySeparation().ProcessFrameDetect(image.get());
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) {
            const unsigned char* p = image.At(x, y);
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2] && (p[0] == 0 || p[0] == 255)) << x << "," << y;
        }
    EXPECT_EQ(image.At(11, 9)[0], 255);
    EXPECT_EQ(image.At(9, 7)[0], 255);
    EXPECT_EQ(image.At(2, 2)[0], 0);
    EXPECT_EQ(image.At(20, 16)[0], 0);
}

}  // namespace
