#include "CV/disparity_space_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "dense_stereo_fixtures.h"

namespace {

using namespace dense_stereo_test;

using VolumeFunction = void (*)(IplImage**, int, int, int, int, int*);

struct CostKind {
    const char* name;
    VolumeFunction function;
    int channels;
    int (*cost)(const unsigned char*, const unsigned char*);
};

int Sad(const unsigned char* a, const unsigned char* b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}
int Ssd(const unsigned char* a, const unsigned char* b) {
    int s = 0;
    for (int i = 0; i < 3; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
    return s;
}
int Mono(const unsigned char* a, const unsigned char* b) { return std::abs(a[0] - b[0]); }

const CostKind kKinds[] = {
    {"SAD", CV::SADDisparitySpaceVolume, 3, Sad},
    {"SSD", CV::SSDDisparitySpaceVolume, 3, Ssd},
    {"Mono", CV::SSDDisparitySpaceVolume_Mono, 1, Mono},
};

struct VolumeCase {
    int hx, hy, dMin, dMax;
};

constexpr int kW = 23, kH = 17;

// (H + 1) x D x (W + 1) entries, pre-filled with garbage so that a missing
// clear shows.
std::vector<int> RunVolume(const CostKind& kind, IplImage* a, IplImage* b, const VolumeCase& c) {
    const int D = std::abs(c.dMax - c.dMin) + 1;
    std::vector<int> volume(static_cast<size_t>(kH + 1) * D * (kW + 1), 0x5A5A5A5A);
    IplImage* pair[2] = {a, b};
    kind.function(pair, c.dMin, c.dMax, c.hx, c.hy, volume.data());
    return volume;
}

// Every entry the volume defines as a window sum matches a brute-force sum;
// every other entry of a disparity that cannot be summed, of a window taller
// than the image or left of the first partner is 0.
TEST(DisparitySpaceVolume, WindowSumsMatchBruteForce) {
    const VolumeCase cases[] = {{0, 0, 0, 0}, {1, 2, -3, 4}, {2, 1, 2, 5}, {5, 5, -2, 2},
                                {1, 1, 5, 1}, {2, 2, 0, kW}, {1, 9, 0, 2}};
    std::mt19937 rng(7);
    for (const CostKind& kind : kKinds) {
        Image a = RandomImage(kW, kH, kind.channels, rng);
        Image b = RandomImage(kW, kH, kind.channels, rng);
        ASSERT_GT(a->widthStep, kW * kind.channels);  // padded rows
        for (const VolumeCase& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << kind.name << " hx " << c.hx << " hy " << c.hy << " d " << c.dMin << ".." << c.dMax);
            const std::vector<int> volume = RunVolume(kind, a.get(), b.get(), c);
            const int D = std::abs(c.dMax - c.dMin) + 1;
            const int ww = 2 * c.hx + 1, wh = 2 * c.hy + 1;
            auto at = [&](int r, int k, int col) { return volume[(static_cast<size_t>(r) * D + k) * (kW + 1) + col]; };
            int checkedSums = 0;
            for (int k = 0; k < D; ++k) {
                const int d = c.dMin + k;
                const int m = std::abs(d);
                const bool summed = d <= c.dMax && ww + m < kW && wh <= kH;
                if (!summed) {
                    for (int r = 0; r <= kH; ++r)
                        for (int col = 0; col <= kW; ++col) ASSERT_EQ(at(r, k, col), 0) << "k " << k << " r " << r;
                    continue;
                }
                for (int r = 0; r <= kH; ++r)
                    for (int col = 0; col < (d < 0 ? m : 0); ++col) ASSERT_EQ(at(r, k, col), 0);
                const int first = d > 0 ? 0 : m;
                const int last = d > 0 ? kW - ww - 1 - d : kW - ww - 1;
                for (int r = 0; r + wh <= kH; ++r) {
                    for (int col = first; col <= last; ++col) {
                        int expected = 0;
                        for (int y = r; y < r + wh; ++y)
                            for (int x = col; x < col + ww; ++x)
                                expected += kind.cost(Px(a.get(), x, y), Px(b.get(), x + d, y));
                        ASSERT_EQ(at(r, k, col), expected) << "k " << k << " r " << r << " c " << col;
                        ++checkedSums;
                    }
                }
            }
            const bool anySum = c.dMax >= c.dMin && wh <= kH;
            EXPECT_EQ(checkedSums > 0, anySum);
        }
    }
}

TEST(DisparitySpaceVolume, LastColumnOfEitherImageNeverCounts) {
    std::mt19937 rng(11);
    const VolumeCase c{1, 2, -3, 4};
    for (const CostKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        Image a = RandomImage(kW, kH, kind.channels, rng);
        Image b = RandomImage(kW, kH, kind.channels, rng);
        const std::vector<int> before = RunVolume(kind, a.get(), b.get(), c);
        for (int y = 0; y < kH; ++y)
            for (int ch = 0; ch < kind.channels; ++ch) {
                Px(a.get(), kW - 1, y)[ch] ^= 0x5C;
                Px(b.get(), kW - 1, y)[ch] ^= 0xA3;
            }
        EXPECT_EQ(RunVolume(kind, a.get(), b.get(), c), before);
    }
}

// A colour image with texture in every channel and its copy shifted by
// `shift` columns: image 1 at x + shift shows image 0 at x.
struct ShiftedPair {
    Image left, right;
};
ShiftedPair Shifted(int w, int h, int shift, std::mt19937& rng) {
    ShiftedPair p{RandomImage(w, h, 3, rng), RandomImage(w, h, 3, rng)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x + shift >= 0 && x + shift < w)
                std::copy_n(Px(p.left.get(), x, y), 3, Px(p.right.get(), x + shift, y));
    return p;
}

std::vector<unsigned char> RunWta(IplImage* a, IplImage* b, int dMin, int dMax) {
    std::vector<unsigned char> out(static_cast<size_t>(a->widthStep) * a->height, 0xAB);
    IplImage* pair[2] = {a, b};
    CV::Stereo_WTA_SSD(pair, a->width, a->height, dMin, dMax, out.data());
    return out;
}

// Exact matches (cost 0) win at their true disparity wherever the window at
// that disparity lies inside both images.
TEST(StereoWta, ShiftedCopyGivesItsDisparity) {
    struct Case {
        int shift, dMin, dMax, firstColumn, lastColumnFromRight;
    };
    // +3: window columns x - 2 .. x + 8 of image 1 must stay left of its
    // last column (x <= W - 10); -3: image 0 columns x - 5 must have a
    // partner (x >= 8) and the window must end before the last column.
    const Case cases[] = {{3, 0, 5, 5, 10}, {-3, -5, 2, 8, 7}};
    std::mt19937 rng(3);
    const int w = 40, h = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shift);
        ShiftedPair p = Shifted(w, h, c.shift, rng);
        const std::vector<unsigned char> out = RunWta(p.left.get(), p.right.get(), c.dMin, c.dMax);
        const int D = c.dMax - c.dMin + 1;
        const int expected = (c.shift - c.dMin) * 255 / D;
        const int step = p.left->widthStep;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned char* px = &out[static_cast<size_t>(y) * step + 3 * x];
                if (y < 5 || y > h - 6 || x < 5 || x > w - 6) {
                    ASSERT_EQ(px[0], 0xAB) << x << "," << y;  // border untouched
                } else if (x >= c.firstColumn && x <= w - c.lastColumnFromRight) {
                    ASSERT_EQ(px[0], expected) << x << "," << y;
                    ASSERT_EQ(px[1], expected);
                    ASSERT_EQ(px[2], expected);
                }
            }
    }
}

// On random images (no exact match anywhere) the winner is the lowest whole
// window sum of the SAD volume, ties to the lower index; rows far below the
// first window check that no row block is lost on the way.
TEST(StereoWta, PicksTheLowestWholeWindowOfTheSadVolume) {
    struct Case {
        int dMin, dMax;
    };
    const int w = 37, h = 41;
    std::mt19937 rng(17);
    Image a = RandomImage(w, h, 3, rng);
    Image b = RandomImage(w, h, 3, rng);
    for (const Case& c : {Case{-4, 6}, Case{2, 30}, Case{-30, -20}}) {
        SCOPED_TRACE(testing::Message() << c.dMin << ".." << c.dMax);
        const int D = c.dMax - c.dMin + 1;
        std::vector<int> volume(static_cast<size_t>(h + 1) * D * (w + 1));
        IplImage* pair[2] = {a.get(), b.get()};
        CV::SADDisparitySpaceVolume(pair, c.dMin, c.dMax, 5, 5, volume.data());
        const std::vector<unsigned char> out = RunWta(a.get(), b.get(), c.dMin, c.dMax);
        for (int y = 5; y <= h - 6; ++y)
            for (int x = 5; x <= w - 6; ++x) {
                const int r = y - 5, col = x - 5;
                int best = 0, lowest = 500000;
                for (int k = 0; k < D; ++k) {
                    const int d = c.dMin + k;
                    const int first = d > 0 ? 0 : -d, last = d > 0 ? w - 12 - d : w - 12;
                    if (col < first || col > last) continue;
                    const int v = volume[(static_cast<size_t>(r) * D + k) * (w + 1) + col];
                    if (v < lowest) lowest = v, best = k;
                }
                ASSERT_EQ(out[static_cast<size_t>(y) * a->widthStep + 3 * x], best * 255 / D) << x << "," << y;
            }
    }
}

TEST(StereoWta, IdenticalImagesAtZeroRangeGiveZeroInsideTheBorder) {
    std::mt19937 rng(5);
    Image a = RandomImage(30, 16, 3, rng);
    const std::vector<unsigned char> out = RunWta(a.get(), a.get(), 0, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 30 * 3; ++x) {
            const bool inside = y >= 5 && y <= 10 && x / 3 >= 5 && x / 3 <= 24;
            ASSERT_EQ(out[static_cast<size_t>(y) * a->widthStep + x], inside ? 0 : 0xAB) << x / 3 << "," << y;
        }
}

// Columns alternating 0 / 200 match at every even shift: d = -2 and d = 0
// cost 0 alike and the lower index wins; where d = -2 has no window yet
// (window column < 2) only d = 0 takes part.
TEST(StereoWta, TiesGoToTheLowerIndexAndOnlyWholeWindowsCompete) {
    const int w = 24, h = 12;
    Image a = FilledImage(w, h, 3, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 1; x < w; x += 2) std::fill_n(Px(a.get(), x, y), 3, 200);
    const std::vector<unsigned char> out = RunWta(a.get(), a.get(), -2, 0);
    for (int y = 5; y <= h - 6; ++y)
        for (int x = 5; x <= w - 6; ++x) {
            // x = W - 6 has no window at any disparity: it gets index 0.
            const int expected = (x < 7 && x != w - 6) ? 2 * 255 / 3 : 0;
            ASSERT_EQ(out[static_cast<size_t>(y) * a->widthStep + 3 * x], expected) << x << "," << y;
        }
}

TEST(StereoWta, SmallImagesWriteOnlyWholeWindows) {
    std::mt19937 rng(9);
    Image ten = RandomImage(10, 10, 3, rng);
    const std::vector<unsigned char> none = RunWta(ten.get(), ten.get(), 0, 2);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](unsigned char v) { return v == 0xAB; }));

    Image eleven = RandomImage(11, 11, 3, rng);
    const std::vector<unsigned char> one = RunWta(eleven.get(), eleven.get(), 0, 2);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(one[static_cast<size_t>(y) * eleven->widthStep + x], (y == 5 && x / 3 == 5) ? 0 : 0xAB);
}

// Refused calls write nothing and report once, under their own name.
TEST(DenseStereoRefusals, NothingWrittenAndOneReport) {
    std::mt19937 rng(13);
    Image a = RandomImage(20, 14, 3, rng);
    Image b = RandomImage(20, 14, 3, rng);
    Image narrow = RandomImage(19, 14, 3, rng);
    Image wide = RandomImage(21, 14, 3, rng);
    Image mono = RandomImage(20, 14, 1, rng);
    Image mono1 = RandomImage(20, 14, 1, rng);
    Image deep(cvCreateImage(cvSize(20, 14), IPL_DEPTH_16U, 3));
    // Same width and height as a, rows padded further.
    std::vector<char> stridedPixels(static_cast<size_t>(64) * 14, 1);
    IplImage strided = *b;
    strided.widthStep = 64;
    strided.imageSize = static_cast<int>(stridedPixels.size());
    strided.imageData = strided.imageDataOrigin = stridedPixels.data();

    // Large enough for any call below, with room to see overruns.
    std::vector<int> volume(100000, 0x11111111);
    std::vector<unsigned char> output(static_cast<size_t>(40) * 64 * 3, 0xCD);

    struct Case {
        const char* what;
        const char* function;
        int status;
        std::function<void()> call;
    };
    IplImage* good[2] = {a.get(), b.get()};
    IplImage* nullSecond[2] = {a.get(), nullptr};
    IplImage* unequal[2] = {a.get(), narrow.get()};
    IplImage* wider[2] = {a.get(), wide.get()};
    IplImage* restrided[2] = {a.get(), &strided};
    IplImage* monoPair[2] = {mono.get(), mono1.get()};
    IplImage* deepPair[2] = {deep.get(), deep.get()};
    int* v = volume.data();
    unsigned char* o = output.data();
    const Case cases[] = {
        {"W larger than image 0", "CV::Stereo_WTA_SSD", CV_StsBadSize,
         [&] { CV::Stereo_WTA_SSD(good, 40, 14, 0, 3, o); }},
        {"H larger than image 0", "CV::Stereo_WTA_SSD", CV_StsBadSize,
         [&] { CV::Stereo_WTA_SSD(good, 20, 30, 0, 3, o); }},
        {"null output", "CV::Stereo_WTA_SSD", CV_StsNullPtr, [&] { CV::Stereo_WTA_SSD(good, 20, 14, 0, 3, nullptr); }},
        {"null pair", "CV::Stereo_WTA_SSD", CV_StsNullPtr, [&] { CV::Stereo_WTA_SSD(nullptr, 20, 14, 0, 3, o); }},
        {"one-channel pair", "CV::Stereo_WTA_SSD", CV_StsBadArg,
         [&] { CV::Stereo_WTA_SSD(monoPair, 20, 14, 0, 3, o); }},
        {"narrower image 1", "CV::Stereo_WTA_SSD", CV_StsBadSize,
         [&] { CV::Stereo_WTA_SSD(unequal, 20, 14, 0, 3, o); }},
        {"null image 1", "CV::SADDisparitySpaceVolume", CV_StsNullPtr,
         [&] { CV::SADDisparitySpaceVolume(nullSecond, 0, 3, 1, 1, v); }},
        {"wider image 1", "CV::SADDisparitySpaceVolume", CV_StsBadSize,
         [&] { CV::SADDisparitySpaceVolume(wider, 0, 3, 1, 1, v); }},
        {"image 1 with another row stride", "CV::SSDDisparitySpaceVolume", CV_StsBadSize,
         [&] { CV::SSDDisparitySpaceVolume(restrided, 0, 3, 1, 1, v); }},
        {"16-bit pixels", "CV::SADDisparitySpaceVolume", CV_StsBadArg,
         [&] { CV::SADDisparitySpaceVolume(deepPair, 0, 3, 1, 1, v); }},
        {"three channels for mono", "CV::SSDDisparitySpaceVolume_Mono", CV_StsBadArg,
         [&] { CV::SSDDisparitySpaceVolume_Mono(good, 0, 3, 1, 1, v); }},
        {"one channel for colour", "CV::SSDDisparitySpaceVolume", CV_StsBadArg,
         [&] { CV::SSDDisparitySpaceVolume(monoPair, 0, 3, 1, 1, v); }},
        {"null volume", "CV::SSDDisparitySpaceVolume_Mono", CV_StsNullPtr,
         [&] { CV::SSDDisparitySpaceVolume_Mono(monoPair, 0, 3, 1, 1, nullptr); }},
        {"negative hx", "CV::SADDisparitySpaceVolume", CV_StsBadArg,
         [&] { CV::SADDisparitySpaceVolume(good, 0, 3, -1, 1, v); }},
        {"negative hy", "CV::SSDDisparitySpaceVolume_Mono", CV_StsBadArg,
         [&] { CV::SSDDisparitySpaceVolume_Mono(monoPair, 0, 3, 1, -1, v); }},
        // (2hx + 2)(2hy + 2) = 106 x 106 = 11236 costs of 3 x 255^2 pass INT32_MAX.
        {"SSD window that could overflow", "CV::SSDDisparitySpaceVolume", CV_StsBadArg,
         [&] { CV::SSDDisparitySpaceVolume(good, 0, 3, 52, 52, v); }},
        {"slice of a null volume", "CV::GetVolumeSliceY", CV_StsNullPtr,
         [&] { CV::GetVolumeSliceY(nullptr, 21, 0, 4, a.get(), 0); }},
        {"slice image too small", "CV::GetVolumeSliceY", CV_StsBadSize,
         [&] { CV::GetVolumeSliceY(v, 21, 0, 15, a.get(), 0); }},
        {"slice image of one channel", "CV::GetVolumeSliceY", CV_StsBadArg,
         [&] { CV::GetVolumeSliceY(v, 20, 0, 4, mono.get(), 0); }},
        {"slice of negative block", "CV::GetVolumeSliceY", CV_StsBadArg,
         [&] { CV::GetVolumeSliceY(v, 20, 0, 4, a.get(), -1); }},
        {"bounds into null arrays", "CV::DisparityBoundaries", CV_StsNullPtr,
         [&] { CV::DisparityBoundaries(v, v, v, nullptr, v, v, 20, 21, 0, 3, 3); }},
        {"bound table of no columns", "CV::DisparityBoundaries2", CV_StsBadSize,
         [&] { CV::DisparityBoundaries2(v, v + 100, 0, 1, 1, 1); }},
        {"bound table into null", "CV::DisparityBoundaries", CV_StsNullPtr,
         [&] { CV::DisparityBoundaries(nullptr, v, 10, 1, 1, 1); }},
    };
    const std::vector<char> imageBefore(a->imageData, a->imageData + a->imageSize);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ErrorCapture capture;
        c.call();
        ASSERT_EQ(capture.reports.size(), 1u);
        EXPECT_EQ(capture.reports[0].function, c.function);
        EXPECT_EQ(capture.reports[0].source, "CV");
        EXPECT_EQ(capture.reports[0].status, c.status);
        EXPECT_EQ(cvcompat::GetErrStatus(), c.status);
        EXPECT_TRUE(std::all_of(volume.begin(), volume.end(), [](int e) { return e == 0x11111111; }));
        EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](unsigned char e) { return e == 0xCD; }));
        EXPECT_TRUE(std::equal(imageBefore.begin(), imageBefore.end(), a->imageData));
    }
}

TEST(VolumeSliceImage, ScalesABlockAndShowsUncomputedEntriesRed) {
    // Two blocks of D = 2 slices of 4 columns; block 1 is drawn.
    const int sliceLength = 4, D = 2;
    std::vector<int> volume = {999, 999, 999, 999, 999, 999, 999, 999,  // block 0: ignored
                               0,   10,  20,  30,  40,  0,   51,  60};
    Image image = FilledImage(6, 3, 3, 0x77);
    ErrorCapture capture;
    CV::GetVolumeSliceY(volume.data(), sliceLength, 12345, D, image.get(), 1);
    EXPECT_TRUE(capture.reports.empty());
    // Extremes 0 .. 60 (zeros take part): v * 255 / 60, truncated.
    const int expected[2][4] = {{-1, 42, 85, 127}, {170, -1, 216, 255}};
    for (int k = 0; k < D; ++k)
        for (int j = 0; j < sliceLength; ++j) {
            const unsigned char* p = Px(image.get(), j, k);
            if (expected[k][j] < 0) {
                EXPECT_EQ(p[0], 0);
                EXPECT_EQ(p[1], 0);
                EXPECT_EQ(p[2], 255);
            } else {
                for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(p[ch], expected[k][j]) << j << "," << k;
            }
        }
    // Beyond sliceLength x D nothing is drawn.
    EXPECT_EQ(Px(image.get(), 4, 0)[0], 0x77);
    EXPECT_EQ(Px(image.get(), 0, 2)[0], 0x77);
}

// Per-disparity loop bounds: byte offsets, the first volume column and the
// counter's range; a disparity too wide for the window sums nothing.
TEST(DisparityLoopBounds, OneEntryPerDisparity) {
    const int W = 10, sliceLength = 11;
    std::vector<int> o0(5), o1(5), start(5), from(5), windowEnd(5), rowEnd(5);
    CV::DisparityBoundaries(o0.data(), o1.data(), start.data(), from.data(), windowEnd.data(), rowEnd.data(), W,
                            sliceLength, -2, 2, 7);
    // d = -2, -1, 0, 1, 2; 7 + |d| < 10 except d = +-2... 7 + 2 = 9 < 10 still sums.
    EXPECT_EQ(o0, (std::vector<int>{6, 3, 0, 0, 0}));
    EXPECT_EQ(o1, (std::vector<int>{0, 0, 0, 3, 6}));
    EXPECT_EQ(start, (std::vector<int>{3, 13, 23, 34, 45}));
    EXPECT_EQ(from, (std::vector<int>{2, 1, 0, 1, 2}));
    EXPECT_EQ(windowEnd, (std::vector<int>{9, 8, 7, 8, 9}));
    EXPECT_EQ(rowEnd, (std::vector<int>{9, 9, 9, 9, 9}));

    CV::DisparityBoundaries(o0.data(), o1.data(), start.data(), from.data(), windowEnd.data(), rowEnd.data(), W,
                            sliceLength, 2, 3, 7);
    EXPECT_EQ(windowEnd[0], 9);
    EXPECT_EQ(windowEnd[1], 2);  // 7 + 3 = 10: nothing summed
    EXPECT_EQ(rowEnd[1], 2);
}

struct BoundCase {
    int W, a, b, c;
    std::vector<int> lower, upper;
};

void CheckBoundTables(void (*f)(int*, int*, int, int, int, int), const BoundCase& t) {
    SCOPED_TRACE(testing::Message() << "W " << t.W << " a " << t.a << " b " << t.b << " c " << t.c);
    const int guard = 0x2D2D2D2D;
    std::vector<int> lower(t.W + 8, guard), upper(t.W + 8, guard);
    f(lower.data() + 4, upper.data() + 4, t.W, t.a, t.b, t.c);
    EXPECT_EQ(std::vector<int>(lower.begin() + 4, lower.end() - 4), t.lower);
    EXPECT_EQ(std::vector<int>(upper.begin() + 4, upper.end() - 4), t.upper);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lower[i], guard);
        EXPECT_EQ(upper[i], guard);
        EXPECT_EQ(lower[t.W + 4 + i], guard);
        EXPECT_EQ(upper[t.W + 4 + i], guard);
    }
}

constexpr int N = 10000;  // no admissible lower bound; -N: no upper bound

TEST(DisparityBoundTables, ColumnBounds) {
    const BoundCase cases[] = {
        {10, 2, 3, 1, {2, 3, 4, 5, 6, 7, 8, N, N, N}, {3, 4, 5, 6, 7, 8, 9, 9, 9, 9}},
        {10, -2, 0, 3, {3, 3, 3, 3, 3, 3, 4, 7, 7, 7}, {-N, -N, -N, 3, 4, 5, 6, 7, 8, 9}},
        {10, -4, -2, 1, {1, 1, 1, 1, 1, 1, 2, 3, 4, 5}, {2, 3, 4, 5, 6, 7, 8, 9, 9, 9}},
        // c + |a| and c + |b| past W.
        {4, 3, -5, 2, {N, N, N, N}, {2, 2, 2, 2}},
        {4, -5, 0, 3, {3, 3, 3, 3}, {-N, -N, -N, 3}},
    };
    for (const BoundCase& t : cases) CheckBoundTables(CV::DisparityBoundaries, t);
}

TEST(DisparityBoundTables, ColumnBoundsRelative) {
    const BoundCase cases[] = {
        {10, 2, 3, 4, {4, 3, 2, 2, N, N, N, N, N, N}, {4, 3, 3, 3, 2, 1, 0, -1, -2, -3}},
        {10, -2, 1, 3, {2, 2, 2, 2, 1, 0, 0, 0, 1, 2}, {5, 4, 3, 3, 3, 3, 3, 2, 1, 0}},
        {10, 0, 0, 2, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {-N, -N, 0, 0, 0, 0, 0, 0, 0, 0}},
        // c + |a| and c + |b| past W.
        {4, -3, -6, 2, {3, 3, 3, 2}, {-7, -8, -9, -10}},
        {3, 1, 2, 3, {N, N, N}, {0, -1, -2}},
    };
    for (const BoundCase& t : cases) CheckBoundTables(CV::DisparityBoundaries2, t);
}

}  // namespace
