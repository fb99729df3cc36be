// SeparateReflection and its chromaticity separator.
#include "CV/reflection_separation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cvcompat/errstatus.h>
#include <thread>
#include <vector>

#include "highlight_fixture.h"
#include "reflection_separation.h"

namespace {

using highlight_test::ColourImage;
using highlight_test::Scene;

TEST(SeparateReflection, RemovesASharpHighlight) {
    const Scene scene;
    const ColourImage input = scene.Highlighted();
    ColourImage image = input;
    SeparateReflection(image.get());
    highlight_test::ExpectHighlightRemoved(scene, image, input);
}

TEST(SeparateReflection, DarkPixelsInAndBesideTheHighlightKeepTheirBytes) {
    const Scene scene;
    ColourImage image = scene.Highlighted();
    const int cx = static_cast<int>(scene.centreX), cy = static_cast<int>(scene.centreY);
    const std::vector<std::pair<int, int>> dark = {{cx, cy}, {cx + 6, cy}, {cx - 6, cy}, {cx, cy + 6}, {cx + 1, cy - 3}};
    for (auto [x, y] : dark) image.Set(x, y, 3, 4, 7);
    SeparateReflection(image.get());
    for (auto [x, y] : dark)
        EXPECT_THAT(std::vector<int>(image.At(x, y), image.At(x, y) + 3), testing::ElementsAre(3, 4, 7)) << x << "," << y;
}

TEST(SeparateReflection, OneRowOrOneColumnComesBackUnchanged) {
    for (auto [w, h] : {std::pair{40, 1}, std::pair{1, 40}}) {
        ColourImage image(w, h);
        for (int i = 0; i < std::max(w, h); ++i) {
            const int extra = (i > 10 && i < 20) ? 40 : 0;
            image.Set(w == 1 ? 0 : i, h == 1 ? 0 : i, 40 + extra + i, 90 + extra, 160 + extra - i);
        }
        const ColourImage before = image;
        SeparateReflection(image.get());
        EXPECT_TRUE(image.SameBytes(before)) << w << "x" << h;
    }
}

TEST(SeparateReflection, TwoThreadsGiveTheirSingleThreadedResults) {
    Scene first, second;
    second.centreX = 34.0;  // on the right patch
    second.centreY = 12.0;
    ColourImage expectedA = first.Highlighted(), expectedB = second.Highlighted();
    SeparateReflection(expectedA.get());
    SeparateReflection(expectedB.get());
    ColourImage a = first.Highlighted(), b = second.Highlighted();
    std::thread ta([&] { SeparateReflection(a.get()); });
    std::thread tb([&] { SeparateReflection(b.get()); });
    ta.join();
    tb.join();
    EXPECT_TRUE(a.SameBytes(expectedA));
    EXPECT_TRUE(b.SameBytes(expectedB));
    EXPECT_FALSE(a.SameBytes(first.Highlighted()));
}

TEST(SeparateReflection, RefusesImagesThatAreNotEightBitColour) {
    IplImage* grey = cvCreateImage(cvSize(8, 8), IPL_DEPTH_8U, 1);
    cvSet(grey, cvScalarAll(200));
    IplImage* wide = cvCreateImage(cvSize(8, 8), IPL_DEPTH_16U, 3);
    cvSet(wide, cvScalarAll(200));
    for (IplImage* image : {grey, wide}) {
        cvcompat::ClearErrStatus();
        SeparateReflection(image);
        EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
        EXPECT_EQ(cvAvg(image).val[0], 200.0);
    }
    cvcompat::ClearErrStatus();
    SeparateReflection(nullptr);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    cvReleaseImage(&grey);
    cvReleaseImage(&wide);
}

TEST(ZPellamSeparation, RefusedAdjustmentLeavesThePixel) {
    zPellamSeparation separator;
    ReflectancePixel pixel(120.0f, 90.0f, 40.0f, 0.0f);
    // Maximum chromaticity 0.9 would take blue below zero.
    EXPECT_EQ(separator.SpecularToDiffuse(pixel, 0.9f), 1);
    EXPECT_EQ(pixel.label, 14.0f);
    EXPECT_EQ(pixel.r, 120.0f);
    EXPECT_EQ(pixel.b, 40.0f);
    // 0.6: d = (0.6 x 250 - 120) / 0.8 = 37.5 from every channel.
    EXPECT_EQ(separator.SpecularToDiffuse(pixel, 0.6f), 0);
    EXPECT_NEAR(pixel.r, 82.5f, 1e-3);
    EXPECT_NEAR(pixel.MaxChroma(), 0.6f, 1e-5);
    EXPECT_EQ(separator.SpecularToDiffuse(pixel, 1.0f / 3.0f), 1);
}

TEST(ZPellamSeparation, BlackPixelHasZeroDerivedValues) {
    const ReflectancePixel black;
    EXPECT_EQ(black.Sum(), 0.0f);
    EXPECT_EQ(black.RedChroma(), 0.0f);
    EXPECT_EQ(black.GreenChroma(), 0.0f);
    EXPECT_EQ(black.MaxChroma(), 0.0f);
}

TEST(ZPellamSeparation, SeparateIntoFillsBothBuffers) {
    PixelBuffer input;
    input.Allocate(4, 5);
    for (auto& p : input.records) p.Set(160.0f, 90.0f, 40.0f, 0.0f);
    input.At(2, 2).Set(200.0f, 130.0f, 80.0f, 0.0f);
    zPellamSeparation separator;
    separator.SetInput(input);
    PixelBuffer a, b;
    separator.SeparateInto(a, b);
    ASSERT_EQ(a.rows, 4);
    ASSERT_EQ(b.columns, 5);
    EXPECT_NEAR(a.At(2, 2).MaxChroma(), 160.0f / 290.0f, 0.02);
    EXPECT_EQ(a.At(2, 2).r, b.At(2, 2).r);
    EXPECT_EQ(a.At(0, 0).r, 160.0f);
}

}  // namespace
