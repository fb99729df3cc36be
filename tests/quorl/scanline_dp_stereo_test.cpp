#include "CV/scanline_dp_stereo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "dense_stereo_fixtures.h"
#include "scanline_dp_stereo_internal.h"

namespace {

using dense_stereo_test::ErrorCapture;
using Bytes = std::vector<unsigned char>;

// The parameters the tests use unless a case says otherwise.
struct Params {
    float penalty = 25, reward = 5, reliable = 12, seed = 15, weakSeed = 25;
};

Bytes RandomBytes(size_t n, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes b(n);
    for (auto& v : b) v = static_cast<unsigned char>(byte(rng));
    return b;
}

// Runs on a map pre-filled with 0xAB.
Bytes RunDp(Bytes left, Bytes right, int W, int H, int stride, int maxD, Params p = {}) {
    Bytes map(static_cast<size_t>(stride) * H, 0xAB);
    CV::BirchfieldDynamicProgramming(left.data(), right.data(), map.data(), cvSize(W, H), stride, maxD, p.penalty,
                                     p.reward, p.reliable, p.seed, p.weakSeed);
    return map;
}

TEST(ScanlineDpStereo, IdenticalImagesGiveZeroEverywhere) {
    std::mt19937 rng(1);
    const int W = 40, H = 9, stride = 44;
    const Bytes image = RandomBytes(static_cast<size_t>(stride) * H, rng);
    const Bytes map = RunDp(image, image, W, H, stride, 10);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ASSERT_EQ(map[static_cast<size_t>(y) * stride + x], 0) << x << "," << y;
    // Row padding is the caller's.
    EXPECT_EQ(map[W], 0xAB);
}

// A textured background at disparity 0 with a block at disparity 4: the
// right image shows the block 4 columns further left.
TEST(ScanlineDpStereo, RecoversABlockInFrontOfABackground) {
    std::mt19937 rng(2);
    const int W = 64, H = 16, x0 = 24, x1 = 44, y0 = 4, y1 = 12, shift = 4;
    const Bytes left = RandomBytes(static_cast<size_t>(W) * H, rng);
    Bytes right = left;
    // Right columns x1 - shift .. x1 - 1 see background the block hides in
    // the left view.
    const Bytes hidden = RandomBytes(static_cast<size_t>(W) * H, rng);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x)
            right[static_cast<size_t>(y) * W + x - shift] = left[static_cast<size_t>(y) * W + x];
        for (int x = x1 - shift; x < x1; ++x)
            right[static_cast<size_t>(y) * W + x] = hidden[static_cast<size_t>(y) * W + x];
    }
    const Bytes map = RunDp(left, right, W, H, W, 8);
    // A few columns at the occlusion edges may go either way.
    const int slack = 3;
    int wrong = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 1; x < W; ++x) {
            const bool inBlock = y >= y0 && y < y1 && x >= x0 + slack && x < x1 - slack;
            const bool background = y < y0 || y >= y1 || x < x0 - shift - slack || x >= x1 + slack;
            const int v = map[static_cast<size_t>(y) * W + x];
            if ((inBlock && v != shift) || (background && v != 0)) {
                ++wrong;
                ADD_FAILURE() << "at " << x << "," << y << ": " << v;
            }
        }
    EXPECT_EQ(wrong, 0);
}

// On a flat pair with no penalty or reward every end of the path ties; the
// smallest disparity is chosen and the path never leaves it.
TEST(ScanlineDpStereo, EqualEndSumsChooseTheSmallestDisparity) {
    const int W = 20, H = 3;
    const Bytes flat(static_cast<size_t>(W) * H, 100);
    const Bytes map = RunDp(flat, flat, W, H, W, 3, Params{0, 0, 12, 15, 25});
    EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](unsigned char v) { return v == 0; }));
}

TEST(ScanlineDpStereo, MaximumDisparityZeroGivesZeros) {
    std::mt19937 rng(4);
    const int W = 30, H = 5;
    const Bytes map = RunDp(RandomBytes(W * H, rng), RandomBytes(W * H, rng), W, H, W, 0);
    EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](unsigned char v) { return v == 0; }));
}

// Every small size and range, including ranges past the row: the map holds
// disparities 0 .. min(maxD, W - 1) and nothing outside it is touched.
TEST(ScanlineDpStereo, SmallSizesStayInsideTheirBuffers) {
    std::mt19937 rng(5);
    for (int W = 3; W <= 9; ++W)
        for (int H = 1; H <= 3; ++H)
            for (int maxD : {0, 1, W - 1, W + 3}) {
                SCOPED_TRACE(testing::Message() << "W " << W << " H " << H << " maxD " << maxD);
                const int stride = W + 2;
                // Exact-size buffers: ASan sees any read or write past them.
                const Bytes left = RandomBytes(static_cast<size_t>(stride) * H, rng);
                const Bytes right = RandomBytes(static_cast<size_t>(stride) * H, rng);
                ErrorCapture capture;
                const Bytes map = RunDp(left, right, W, H, stride, maxD, Params{3, 1, 2, 2, 3});
                EXPECT_TRUE(capture.reports.empty());
                for (int y = 0; y < H; ++y)
                    for (int x = 0; x < stride; ++x) {
                        const int v = map[static_cast<size_t>(y) * stride + x];
                        if (x < W)
                            ASSERT_LE(v, std::min(maxD, W - 1)) << x << "," << y;
                        else
                            ASSERT_EQ(v, 0xAB);
                    }
            }
}

// A byte map holds disparities up to 255: wider rows search no further.
TEST(ScanlineDpStereo, SearchStopsAtTheLargestByteDisparity) {
    std::mt19937 rng(12);
    const int W = 300, H = 2;
    const Bytes left = RandomBytes(static_cast<size_t>(W) * H, rng), right = RandomBytes(left.size(), rng);
    ErrorCapture capture;
    const Bytes wide = RunDp(left, right, W, H, W, W - 1, Params{3, 1, 12, 1e9f, 25});
    const Bytes capped = RunDp(left, right, W, H, W, 255, Params{3, 1, 12, 1e9f, 25});
    EXPECT_TRUE(capture.reports.empty());
    EXPECT_EQ(wide, capped);
}

TEST(ScanlineDpStereo, RefusedCallsLeaveTheMapUntouched) {
    const int W = 12, H = 4;
    Bytes left(W * H, 10), right(W * H, 20), map(W * H, 0xAB);
    struct Case {
        const char* what;
        int status;
        std::function<void()> call;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto run = [&](CvSize size, int stride, int maxD, Params p, unsigned char* l, unsigned char* out) {
        return [=, &right] {
            CV::BirchfieldDynamicProgramming(l, right.data(), out, size, stride, maxD, p.penalty, p.reward, p.reliable,
                                             p.seed, p.weakSeed);
        };
    };
    unsigned char* L = left.data();
    unsigned char* M = map.data();
    const Case cases[] = {
        {"width 2", CV_StsBadSize, run(cvSize(2, H), W, 3, {}, L, M)},
        {"height 0", CV_StsBadSize, run(cvSize(W, 0), W, 3, {}, L, M)},
        {"negative maxD", CV_StsBadArg, run(cvSize(W, H), W, -1, {}, L, M)},
        {"stride shorter than a row", CV_StsBadSize, run(cvSize(W, H), W - 1, 3, {}, L, M)},
        {"null left image", CV_StsNullPtr, run(cvSize(W, H), W, 3, {}, nullptr, M)},
        {"null map", CV_StsNullPtr, run(cvSize(W, H), W, 3, {}, L, nullptr)},
        {"NaN penalty", CV_StsBadArg, run(cvSize(W, H), W, 3, Params{nan, 5, 12, 15, 25}, L, M)},
        {"infinite seed threshold", CV_StsBadArg, run(cvSize(W, H), W, 3, Params{25, 5, 12, inf, 25}, L, M)},
        // (|penalty| + |reward| + 255) x (W + maxD + 2) past INT32_MAX - 0x1FFFFFFF.
        {"penalty overflowing path sums", CV_StsBadArg, run(cvSize(W, H), W, 3, Params{1e8f, 5, 12, 15, 25}, L, M)},
        {"reward overflowing path sums", CV_StsBadArg, run(cvSize(W, H), W, 3, Params{25, -1e8f, 12, 15, 25}, L, M)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ErrorCapture capture;
        c.call();
        ASSERT_EQ(capture.reports.size(), 1u);
        EXPECT_EQ(capture.reports[0].function, "CV::BirchfieldDynamicProgramming");
        EXPECT_EQ(capture.reports[0].source, "CV");
        EXPECT_EQ(capture.reports[0].status, c.status);
        EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](unsigned char v) { return v == 0xAB; }));
    }
}

// A large but safe penalty and a negative one run without overflow (UBSan
// watches the sums).
TEST(ScanlineDpStereo, ExtremeButSafeParametersRun) {
    std::mt19937 rng(6);
    const int W = 16, H = 3;
    for (Params p : {Params{5e7f, 0, 12, 15, 25}, Params{-1000, 3, 12, 15, 25}, Params{-5, -7, 1, 1, 1}}) {
        ErrorCapture capture;
        const Bytes map = RunDp(RandomBytes(W * H, rng), RandomBytes(W * H, rng), W, H, W, 6, p);
        EXPECT_TRUE(capture.reports.empty());
        EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](unsigned char v) { return v <= 6; }));
    }
}

// The scan-line matching written as plainly as it is described: a full
// table of cells per line, moves compared one after another. Two-row images
// and a seed threshold no run reaches leave the clean-up nothing to do, so
// the map is the matcher's own.
Bytes PlainScanlines(const Bytes& left, const Bytes& right, int W, int H, int maxD, int penalty, int reward) {
    maxD = std::min(maxD, W - 1);
    const int dispH = maxD + 3;
    const int sentinel = 0x1FFFFFFF;
    Bytes map(static_cast<size_t>(W) * H, 0xAB);
    for (int y = 0; y < H; ++y) {
        const unsigned char* L = &left[static_cast<size_t>(y) * W];
        const unsigned char* R = &right[static_cast<size_t>(y) * W];
        std::vector<int> mn(W), mx(W);
        for (int x = 0; x + 1 < W; ++x) {
            const int minus = x == 0 ? R[0] : (R[x - 1] + R[x]) >> 1, plus = (R[x] + R[x + 1]) >> 1;
            mn[x] = std::min({int(R[x]), minus, plus});
            mx[x] = std::max({int(R[x]), minus, plus});
        }
        mn[W - 1] = mn[W - 2];
        mx[W - 1] = mx[W - 2];
        Bytes flags(W);
        CV::detail::ScanlineEdgeFlags(L, R, W, flags.data());
        std::vector<int> sum(static_cast<size_t>(W) * dispH, sentinel), step(static_cast<size_t>(W) * dispH, 0);
        auto S = [&](int d, int x) -> int& { return sum[static_cast<size_t>(x) * dispH + d]; };
        auto T = [&](int d, int x) -> int& { return step[static_cast<size_t>(x) * dispH + d]; };
        for (int d = 2; d < dispH && d - 2 < W; ++d) T(d, d - 2) = 1;
        S(1, 0) = 0;
        for (int x = 1; x < W; ++x)
            for (int d = std::min(maxD + 1, x + 1); d >= 1; --d) {
                const int v = L[x], r = x - (d - 1);
                const int c = v >= mx[r] ? v - mx[r] : std::max(0, mn[r] - v);
                int best = S(d, x - 1) - reward, move = 0;
                if (T(d + 1, x) != 2 && (flags[x] & 1) && S(d + 1, x) + penalty < best)
                    best = S(d + 1, x) + penalty, move = 1;
                if (T(d - 1, x - 1) != 1 && (flags[r] & 2) && S(d - 1, x - 1) + penalty < best)
                    best = S(d - 1, x - 1) + penalty, move = 2;
                S(d, x) = best + c;
                T(d, x) = move;
            }
        int d = 1;
        for (int k = 2; k <= maxD + 1; ++k)
            if (S(k, W - 1) < S(d, W - 1)) d = k;
        unsigned char* out = &map[static_cast<size_t>(y) * W];
        out[0] = 0;
        for (int x = W - 1; x >= 1;) {
            out[x] = static_cast<unsigned char>(d - 1);
            while (T(d, x) == 1 && d < maxD + 1) ++d;
            if (T(d, x) == 2 && d > 1) {
                int dd = d, xx = x;
                do --dd, --xx;
                while (dd > 1 && xx > 0 && T(dd, xx) == 2);
                for (int i = xx; i < x; ++i) out[i] = static_cast<unsigned char>(dd - 1);
                x = xx - 1;
                d = dd;
            } else {
                --x;
            }
        }
    }
    return map;
}

// Images of short runs and small steps give ties, edges and flat stretches.
TEST(ScanlineDpStereo, MatchesThePlainAlgorithm) {
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> width(3, 48), disparity(0, 50), penalty(-20, 60), reward(-10, 30), grey(0, 40);
    for (int trial = 0; trial < 300; ++trial) {
        const int W = width(rng), H = 2, maxD = disparity(rng) % (W + 4);
        Bytes left(static_cast<size_t>(W) * H), right(left.size());
        for (Bytes* image : {&left, &right})
            for (size_t i = 0; i < image->size(); ++i)
                (*image)[i] = static_cast<unsigned char>(i % 3 == 0 || i == 0 ? grey(rng) * 3 : (*image)[i - 1]);
        if (trial % 4 == 0) right = left;
        const Params p{static_cast<float>(penalty(rng)), static_cast<float>(reward(rng)), 12, 1e9f, 25};
        SCOPED_TRACE(testing::Message() << "trial " << trial << " W " << W << " maxD " << maxD << " penalty "
                                        << p.penalty << " reward " << p.reward);
        ASSERT_EQ(RunDp(left, right, W, H, W, maxD, p),
                  PlainScanlines(left, right, W, H, maxD, static_cast<int>(p.penalty), static_cast<int>(p.reward)));
    }
}

struct FlagCase {
    const char* what;
    Bytes left, right, flags;
};

TEST(ScanlineEdgeFlags, ContrastOfFiveMarksAnEdgeAndFourDoesNot) {
    const FlagCase cases[] = {
        {"left step of 5", {0, 0, 5, 5, 5, 5, 5, 5}, Bytes(8, 0), {2, 2, 2, 1, 1, 1, 1, 1}},
        {"left step of 4", {0, 0, 4, 4, 4, 4, 4, 4}, Bytes(8, 0), {2, 2, 2, 0, 0, 1, 1, 1}},
        {"right step of 5", Bytes(8, 0), {0, 0, 0, 0, 0, 0, 0, 5}, {2, 2, 2, 0, 2, 1, 1, 1}},
        {"right step of 4", Bytes(8, 0), {0, 0, 0, 0, 0, 0, 0, 4}, {2, 2, 2, 0, 0, 1, 1, 1}},
        // Column W - 4 = 3 has its pixels x - 3 .. x + 3 inside the row.
        {"W 7, both", {0, 0, 5, 0, 0, 0, 0}, {9, 9, 9, 9, 9, 9, 14}, {2, 2, 2, 3, 1, 1, 1}},
        {"W 6: W - 4 is a fixed column", {0, 0, 5, 0, 0, 0}, {0, 0, 0, 0, 0, 5}, {2, 2, 2, 1, 1, 1}},
        {"W 5: fixed columns overlap", Bytes(5, 0), Bytes(5, 0), {2, 2, 1, 1, 1}},
        {"W 3", Bytes(3, 0), Bytes(3, 0), {1, 1, 1}},
    };
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes flags(c.flags.size(), 0xEE);
        CV::detail::ScanlineEdgeFlags(c.left.data(), c.right.data(), static_cast<int>(flags.size()), flags.data());
        EXPECT_EQ(flags, c.flags);
    }
}

// Vertical smoothing copies the pixel above where it equals the pixel below;
// a vertical edge marks three rows and survives only with marked neighbours.
TEST(ScanlineDpPostProcessing, SmoothsAndMarksVerticalEdges) {
    const int W = 5, H = 5;
    Bytes left(W * H, 0);
    for (int y = 2; y < H; ++y)
        for (int x = 0; x < W; ++x) left[y * W + x] = 10;  // step between rows 1 and 2, all columns
    left[4 * W + 2] = 40;                                  // and one pixel alone in column 2
    Bytes map(W * H, 3);
    const unsigned char column[H] = {1, 2, 1, 3, 4};
    for (int y = 0; y < H; ++y) map[y * W + 1] = column[y];
    Bytes flags(W * H, 0);
    CV::detail::SmoothAndMarkVerticalEdges(left.data(), map.data(), W, W, H, flags.data());
    const unsigned char smoothed[H] = {1, 1, 1, 3, 4};
    for (int y = 0; y < H; ++y) EXPECT_EQ(map[y * W + 1], smoothed[y]) << y;
    // Rows 0 .. 2 in every column (the test at row 1 skips row 2); column 2
    // also marks rows 2 .. 4 at row 3, but alone, so rows 3 and 4 lose it.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) EXPECT_EQ(flags[y * W + x], y <= 2 ? 4 : 0) << x << "," << y;
}

struct PropagationCase {
    const char* what;
    bool vertical;  // the line is a column (else a row)
    Bytes map, flags, expected;
};

// Reliable threshold 2, seed threshold 3, weak-seed threshold 4 on one line:
// a column (W = 1) or a row (H = 1), so the other direction finds no seed.
TEST(ScanlineDpPostProcessing, PropagationTable) {
    const PropagationCase cases[] = {
        {"vertical walk stops at a vertical edge, not at a left edge",
         true,
         {1, 2, 1, 5, 5, 5, 2, 1},
         {0, 4, 0, 0, 0, 0, 1, 0},
         {1, 2, 5, 5, 5, 5, 5, 5}},
        {"horizontal walk stops at a left edge, not at a vertical edge",
         false,
         {1, 2, 1, 5, 5, 5, 2, 1},
         {0, 1, 0, 0, 0, 0, 4, 0},
         {1, 2, 5, 5, 5, 5, 5, 5}},
        {"reliable smaller disparity stops; weak seed spares s + 1",
         true,
         {3, 3, 1, 5, 5, 5, 6, 7},
         Bytes(8, 0),
         {3, 3, 5, 5, 5, 5, 6, 7}},
        {"strong seed overwrites s + 1", true, {3, 3, 1, 5, 5, 5, 5, 6, 7}, Bytes(9, 0), {3, 3, 5, 5, 5, 5, 5, 5, 5}},
        {"horizontal weak seed spares s + 1", false, {3, 3, 1, 5, 5, 5, 6, 7}, Bytes(8, 0), {3, 3, 5, 5, 5, 5, 6, 7}},
        // Rows 3 .. 7 become 5 but keep their run length 5: were the scan to
        // resume at row 3 they would seed strongly and take row 8 as well.
        {"scan resumes below the overwritten run",
         true,
         {5, 5, 5, 8, 8, 8, 8, 8, 6},
         Bytes(9, 0),
         {5, 5, 5, 5, 5, 5, 5, 5, 6}},
        {"scan resumes right of the overwritten run",
         false,
         {5, 5, 5, 8, 8, 8, 8, 8, 6},
         Bytes(9, 0),
         {5, 5, 5, 5, 5, 5, 5, 5, 6}},
        {"a stopped walk's stop pixel can seed",
         true,
         {4, 4, 4, 1, 2, 7, 7, 7, 1, 2},
         {0, 0, 0, 0, 0, 4, 0, 0, 0, 0},
         {4, 4, 4, 4, 4, 7, 7, 7, 7, 7}},
        {"disparity 0 never seeds", true, {0, 0, 0, 0, 3, 1}, Bytes(6, 0), {0, 0, 0, 0, 3, 1}},
        {"the same run with disparity 2 does", true, {2, 2, 2, 2, 3, 1}, Bytes(6, 0), {2, 2, 2, 2, 2, 2}},
    };
    for (const PropagationCase& c : cases) {
        SCOPED_TRACE(c.what);
        const int n = static_cast<int>(c.map.size());
        const int W = c.vertical ? 1 : n, H = c.vertical ? n : 1;
        // A stride wider than the row shows that the map is addressed by it.
        const int stride = W + 3;
        Bytes map(static_cast<size_t>(stride) * H, 0xAB);
        for (int i = 0; i < n; ++i) map[c.vertical ? static_cast<size_t>(i) * stride : i] = c.map[i];
        std::vector<std::int32_t> reliability(static_cast<size_t>(W) * H, -1);
        CV::detail::PropagateReliableDisparities(map.data(), stride, W, H, c.flags.data(), reliability.data(), 2, 3, 4);
        Bytes got(n);
        for (int i = 0; i < n; ++i) got[i] = map[c.vertical ? static_cast<size_t>(i) * stride : i];
        EXPECT_EQ(got, c.expected);
        for (int y = 0; y < H; ++y)
            for (int x = W; x < stride; ++x) EXPECT_EQ(map[static_cast<size_t>(y) * stride + x], 0xAB);
    }
}

}  // namespace
