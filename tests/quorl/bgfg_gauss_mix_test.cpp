// Gaussian-mixture background model: learning rules, ranking, background
// test, contour clean-up, shadow test, refusals and copies.
#include "CV/bgfg_gauss_mix.h"

#include <gtest/gtest.h>

#include <cvcompat/errstatus.h>

#include <array>
#include <cmath>
#include <string>

#include "tracking_images.h"

namespace {

using tracking_test::At;
using tracking_test::Fill;
using tracking_test::Image;
using tracking_test::MakeImage;
using tracking_test::Pixel;
using Bgr = std::array<unsigned char, 3>;

// Pixels whose bytes add up to 255 are their own chromaticity x 255, so the
// hand computations below work on the bytes as given.
Image OnePixel(Bgr bgr) {
    Image image = MakeImage(1, 1);
    Fill(image.get(), 0, 0, 1, 1, bgr);
    return image;
}

struct Expected {
    double mean[3];
    double variance[3];
    double weight;
    int matchCount;
};

void ExpectComponents(const CBGFGGaussMix& model, const std::vector<Expected>& expected, const std::string& when) {
    SCOPED_TRACE(when);
    const CBGFGGaussMixSample* c = model.GetSamples(0, 0);
    ASSERT_NE(c, nullptr);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("component " + std::to_string(i));
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(c[i].mean[k], expected[i].mean[k], 1e-9);
            EXPECT_NEAR(c[i].variance[k], expected[i].variance[k], 1e-9);
        }
        EXPECT_NEAR(c[i].weight, expected[i].weight, 1e-12);
        EXPECT_EQ(c[i].matchCount, expected[i].matchCount);
    }
}

class GaussMixErrors : public testing::Test {
protected:
    void SetUp() override {
        previous_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
        cvcompat::ClearErrStatus();
    }
    void TearDown() override {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    cvcompat::ErrorHandler previous_;
};

TEST(GaussMixLearning, WindowRulesOnOnePixelByHand) {
    CBGFGGaussMix model;
    model.param.winSize = 3;
    const Bgr a{60, 120, 75}, a2{62, 118, 75}, b{150, 50, 55}, c{30, 30, 195};

    model.ProcessFrame(OnePixel(a).get());
    ExpectComponents(model,
                     {{{60, 120, 75}, {12.5, 12.5, 12.5}, 1.0, 1},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0}},
                     "initialised");

    // Partial window, match: rate 1/matchCount on the matched component.
    model.ProcessFrame(OnePixel(a2).get());
    ExpectComponents(model,
                     {{{61, 119, 75}, {8.25, 8.25, 6.25}, 1.0, 2},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0}},
                     "partial match");

    // Partial window, no match: the last component takes the pixel; weights
    // are match counts over their sum; the counted newcomer (key 1/3 over
    // sqrt(2700)) overtakes the uncounted one (key 0).
    model.ProcessFrame(OnePixel(b).get());
    ExpectComponents(model,
                     {{{61, 119, 75}, {8.25, 8.25, 6.25}, 2.0 / 3, 2},
                      {{150, 50, 55}, {900, 900, 900}, 1.0 / 3, 1},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0}},
                     "partial no match");
    EXPECT_NEAR(model.SortKeys()[0], (2.0 / 3) / std::sqrt(22.75), 1e-12);
    EXPECT_NEAR(model.SortKeys()[1], (1.0 / 3) / std::sqrt(2700.0), 1e-12);
    EXPECT_EQ(model.SortKeys()[2], 0.0);

    model.ProcessFrame(OnePixel(b).get());
    ExpectComponents(model,
                     {{{61, 119, 75}, {8.25, 8.25, 6.25}, 0.5, 2},
                      {{150, 50, 55}, {450, 450, 450}, 0.5, 2},
                      {{0, 0, 0}, {12.5, 12.5, 12.5}, 0.0, 0}},
                     "partial match of the second");
    EXPECT_EQ(model.GetFrameCount(), 3);

    // Frame count 3 = winSize: the full-window rules with rate 1/3.
    model.ProcessFrame(OnePixel(c).get());
    ExpectComponents(model,
                     {{{61, 119, 75}, {8.25, 8.25, 6.25}, 1.0 / 3, 2},
                      {{150, 50, 55}, {450, 450, 450}, 1.0 / 3, 2},
                      {{30, 30, 195}, {900, 900, 900}, 0.2, 1}},
                     "full no match");

    model.ProcessFrame(OnePixel(b).get());
    ExpectComponents(model,
                     {{{61, 119, 75}, {8.25, 8.25, 6.25}, 2.0 / 9, 2},
                      {{150, 50, 55}, {180, 180, 180}, 5.0 / 9, 2},
                      {{30, 30, 195}, {900, 900, 900}, 0.2 * 2 / 3, 1}},
                     "full match");
}

// One pixel's components set by hand, after a 1 x 1 Initialize has fixed
// nGauss at 3.
class GaussMixComponents : public testing::Test {
protected:
    void SetUp() override { model.ProcessFrame(OnePixel({85, 85, 85}).get()); }

    static CBGFGGaussMixSample Component(Bgr mean, double variance, double weight, int count) {
        CBGFGGaussMixSample s{};
        for (int k = 0; k < 3; ++k) {
            s.mean[k] = mean[k];
            s.variance[k] = variance;
        }
        s.weight = weight;
        s.matchCount = count;
        return s;
    }

    // The per-pixel steps of a frame in the partial window.
    unsigned char Step(const Bgr& pixel) {
        const int m = model.MatchTest(pixel.data(), c);
        if (m < 0) model.UpdateWindowPartNoMatch(pixel.data(), c);
        else model.UpdateWindowPart(pixel.data(), c, m);
        model.GenerateSortKey(c);
        model.SortGaussians(c, model.SortKeys());
        unsigned char mask = 77, background[3];
        model.BackgroundTest(&mask, background, c);
        return mask;
    }

    CBGFGGaussMix model;
    CBGFGGaussMixSample c[3];
};

TEST_F(GaussMixComponents, BackgroundIsTheLeadingComponentsPastTheThreshold) {
    c[0] = Component({200, 30, 25}, 10, 0.7, 7);
    c[1] = Component({30, 200, 25}, 10, 0.2, 2);
    c[2] = Component({30, 25, 200}, 10, 0.1, 1);
    struct Case {
        Bgr pixel;
        int match;
        unsigned char mask;
    };
    for (const Case& k : {Case{{200, 30, 25}, 0, 0}, Case{{30, 200, 25}, 1, 0}, Case{{30, 25, 200}, 2, 255},
                          Case{{90, 90, 75}, -1, 255}}) {
        SCOPED_TRACE(testing::Message() << "match " << k.match);
        EXPECT_EQ(model.MatchTest(k.pixel.data(), c), k.match);
        unsigned char mask = 77, background[3] = {};
        model.BackgroundTest(&mask, background, c);
        EXPECT_EQ(mask, k.mask);
        EXPECT_EQ(background[0], 200);
        EXPECT_EQ(background[1], 30);
    }
}

TEST_F(GaussMixComponents, MatchedComponentMovingToTheFrontStaysMatched) {
    // The pixel matches the last-ranked component, whose weight and key
    // overtake the others in this step: its match flag must follow it.
    c[0] = Component({200, 30, 25}, 12.5, 0.1, 1);
    c[1] = Component({30, 200, 25}, 12.5, 0.1, 1);
    c[2] = Component({30, 25, 200}, 900, 0.8, 8);
    EXPECT_EQ(Step({30, 25, 200}), 0);
    EXPECT_EQ(c[0].mean[2], 200);
    EXPECT_EQ(c[0].matchCount, 9);
    EXPECT_EQ(model.MatchedFlags()[0], 1);
    EXPECT_EQ(model.MatchedFlags()[2], 0);
}

TEST_F(GaussMixComponents, SortKeepsEqualKeysInOrderAndSinksUncountedOnes) {
    c[0] = Component({1, 1, 1}, 12.5, 0.0, 0);
    c[1] = Component({2, 2, 2}, 12.5, 0.5, 1);
    c[2] = Component({3, 3, 3}, 12.5, 0.5, 1);
    model.GenerateSortKey(c);
    EXPECT_EQ(model.SortKeys()[0], 0.0);
    model.SortGaussians(c, model.SortKeys());
    EXPECT_EQ(c[0].mean[0], 2);
    EXPECT_EQ(c[1].mean[0], 3);
    EXPECT_EQ(c[2].mean[0], 1);
}

TEST_F(GaussMixComponents, ShadowTest) {
    c[0] = Component({50, 100, 105}, 12.5, 1.0, 5);
    c[1] = Component({0, 0, 0}, 12.5, 0.0, 0);
    c[2] = Component({0, 0, 0}, 12.5, 0.0, 0);
    struct Case {
        const char* name;
        Bgr pixel;
        unsigned char mask;
    };
    for (const Case& k : {Case{"darker, same chromaticity", {25, 50, 52}, 0}, Case{"grey", {40, 40, 40}, 255},
                          Case{"black", {0, 0, 0}, 255}, Case{"matching", {50, 100, 105}, 0}}) {
        SCOPED_TRACE(k.name);
        Bgr pixel = k.pixel;
        model.MatchTest(pixel.data(), c);
        unsigned char mask = 77, background[3];
        model.BackgroundTestWithShadow(pixel.data(), &mask, background, c);
        EXPECT_EQ(mask, k.mask);
    }
    // A black background has no chromaticity either.
    c[0] = Component({0, 0, 0}, 12.5, 1.0, 5);
    Bgr pixel{25, 50, 52};
    model.MatchTest(pixel.data(), c);
    unsigned char mask = 77, background[3];
    model.BackgroundTestWithShadow(pixel.data(), &mask, background, c);
    EXPECT_EQ(mask, 255);
}

TEST(GaussMixFrames, FirstFrameIsKeptAndDarkPixelsAreModelledRaw) {
    CBGFGGaussMix model;
    Image first = OnePixel({2, 3, 4});
    Fill(first.get(), 0, 0, 1, 1, {2, 3, 4});
    Image big = MakeImage(8, 6);
    Fill(big.get(), 0, 0, 8, 6, {10, 100, 200});
    const Image before = tracking_test::Clone(big.get());
    CBGFGGaussMix colour;
    colour.ProcessFrame(big.get());
    EXPECT_TRUE(tracking_test::SameBytes(big.get(), before.get()));
    ASSERT_NE(colour.GetForeground(), nullptr);
    EXPECT_EQ(cvCountNonZero(colour.GetForeground()), 0);
    EXPECT_EQ(colour.GetFrameCount(), 0);
    // Chromaticity x 255 of (10, 100, 200).
    EXPECT_EQ(colour.GetSamples(3, 3)->mean[2], 164);

    model.ProcessFrame(first.get());
    EXPECT_EQ(model.GetSamples(0, 0)->mean[0], 2);
    Image second = OnePixel({3, 3, 4});
    model.ProcessFrame(second.get());
    EXPECT_DOUBLE_EQ(model.GetSamples(0, 0)->mean[0], 2.5);
    EXPECT_DOUBLE_EQ(model.GetSamples(0, 0)->mean[2], 4.0);
}

// A coloured 64 x 48 scene learnt for six frames, then objects appear.
class GaussMixScene : public testing::Test {
protected:
    static Image Scene() {
        Image image = MakeImage(64, 48);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                unsigned char* p = At(image.get(), x, y);
                p[0] = static_cast<unsigned char>(40 + 2 * x);
                p[1] = static_cast<unsigned char>(60 + 3 * y);
                p[2] = 120;
            }
        return image;
    }
    void Learn() {
        for (int i = 0; i < 6; ++i) model.ProcessFrame(Scene().get());
    }
    unsigned char MaskAt(int x, int y) { return *At(model.GetForeground(), x, y); }

    static constexpr Bgr kObject{30, 200, 30};
    CBGFGGaussMix model;
};

TEST_F(GaussMixScene, KeepsObjectsByAreaFillsHolesAndPaintsTheFrame) {
    Learn();
    Image frame = Scene();
    Fill(frame.get(), 4, 4, 12, 12, kObject);    // square
    Fill(frame.get(), 22, 6, 5, 5, kObject);     // speck, box 25
    Fill(frame.get(), 4, 30, 11, 6, kObject);    // contour area 10 x 5 = 50
    Fill(frame.get(), 22, 30, 10, 6, kObject);   // contour area 9 x 5 = 45
    Fill(frame.get(), 38, 4, 20, 20, kObject);   // ring ...
    const Image scene = Scene();
    for (int y = 10; y < 18; ++y)                // ... with a background hole
        for (int x = 44; x < 52; ++x) std::memcpy(At(frame.get(), x, y), At(scene.get(), x, y), 3);
    model.ProcessFrame(frame.get());
    ASSERT_EQ(model.GetFrameCount(), 6);

    for (int y = 4; y < 16; ++y)
        for (int x = 4; x < 16; ++x) ASSERT_EQ(MaskAt(x, y), 255) << x << "," << y;
    EXPECT_EQ(MaskAt(3, 8), 0);
    EXPECT_EQ(MaskAt(16, 8), 0);
    EXPECT_EQ(MaskAt(24, 8), 0);
    EXPECT_EQ(MaskAt(8, 32), 255);
    EXPECT_EQ(MaskAt(26, 32), 0);
    EXPECT_EQ(MaskAt(47, 13), 255);  // the hole
    EXPECT_EQ(MaskAt(40, 20), 255);  // the ring

    EXPECT_EQ(Pixel(frame.get(), 8, 8), (Bgr{0, 255, 0}));
    EXPECT_EQ(Pixel(frame.get(), 40, 20), (Bgr{0, 255, 0}));
    EXPECT_EQ(Pixel(frame.get(), 47, 13), (Bgr{255, 0, 0}));
    // Removed objects and the background keep their colours.
    EXPECT_EQ(Pixel(frame.get(), 24, 8), kObject);
    EXPECT_EQ(Pixel(frame.get(), 26, 32), kObject);
    EXPECT_EQ(Pixel(frame.get(), 30, 44), Pixel(scene.get(), 30, 44));

    int contours = 0;
    for (CvSeq* c = model.GetContours(); c; c = c->h_next) ++contours;
    EXPECT_EQ(contours, 4);  // square, 11 x 6, ring and its hole
}

TEST_F(GaussMixErrors, RefusedParametersAndFrames) {
    struct Case {
        const char* name;
        int nGauss;
        int winSize;
        int channels;
    };
    for (const Case& k : {Case{"nGauss 0", 0, 200, 3}, Case{"nGauss 501", 501, 200, 3}, Case{"winSize 0", 3, 0, 3},
                          Case{"one channel", 3, 200, 1}}) {
        SCOPED_TRACE(k.name);
        cvcompat::ClearErrStatus();
        CBGFGGaussMix model;
        model.param.nGauss = k.nGauss;
        model.param.winSize = k.winSize;
        model.ProcessFrame(MakeImage(4, 4, k.channels).get());
        EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
        EXPECT_EQ(model.GetForeground(), nullptr);
        EXPECT_EQ(model.GetSamples(0, 0), nullptr);
    }
    CBGFGGaussMix model;
    model.ProcessFrame(MakeImage(4, 4).get());
    cvcompat::ClearErrStatus();
    model.ProcessFrame(nullptr);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    cvcompat::ClearErrStatus();
    Image other = MakeImage(5, 4);
    Fill(other.get(), 0, 0, 5, 4, {10, 20, 30});
    model.ProcessFrame(other.get());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    EXPECT_EQ(Pixel(other.get(), 2, 2), (Bgr{10, 20, 30}));
    EXPECT_EQ(model.GetFrameCount(), 0);
    cvcompat::ClearErrStatus();
    model.param.winSize = 0;
    model.ProcessFrame(MakeImage(4, 4).get());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(model.GetFrameCount(), 0);
}

TEST(GaussMixFrames, RaisingNGaussAfterInitializeKeepsTheBlockSize) {
    CBGFGGaussMix model;
    model.param.nGauss = 2;
    Image frame = MakeImage(6, 5);
    model.ProcessFrame(frame.get());
    model.param.nGauss = 500;
    for (int i = 0; i < 3; ++i) {
        Fill(frame.get(), 0, 0, 6, 5, {static_cast<unsigned char>(40 * i), 90, 200});
        model.ProcessFrame(frame.get());
    }
    EXPECT_EQ(model.GetFrameCount(), 3);
}

TEST_F(GaussMixScene, CopiesAreIndependent) {
    Learn();
    auto copy = std::make_unique<CBGFGGaussMix>(model);
    Image frame = Scene();
    Fill(frame.get(), 10, 10, 12, 12, kObject);
    model.ProcessFrame(frame.get());
    ASSERT_NE(model.GetContours(), nullptr);
    copy->ProcessFrame(Scene().get());
    EXPECT_EQ(cvCountNonZero(copy->GetForeground()), 0);
    EXPECT_EQ(cvCountNonZero(model.GetForeground()), 144);
    EXPECT_EQ(copy->GetSamples(12, 12)->matchCount, 7);
    EXPECT_EQ(model.GetSamples(12, 12)[0].matchCount, 6);

    CBGFGGaussMix assigned;
    assigned = model;
    model.ProcessFrame(Scene().get());  // clears the model's contour storage
    ASSERT_NE(assigned.GetContours(), nullptr);
    const CvRect box = reinterpret_cast<CvContour*>(assigned.GetContours())->rect;
    EXPECT_EQ(box.x, 10);
    EXPECT_EQ(box.width, 12);
    EXPECT_EQ(assigned.GetContours()->total, 4);
    copy.reset();
    EXPECT_EQ(cvCountNonZero(assigned.GetForeground()), 144);
}

}  // namespace
