#include "CV/disparity_space_volume.h"

#include <cvcompat/errstatus.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace CV {

// Same as the int* form; kept for callers holding the volume by its owner
// pointer. Not part of the library's interface.
__attribute__((visibility("hidden"))) void SSDDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx,
                                                                   int hy, int** volume);

namespace {

constexpr const char* kSource = "CV";

// "Not computed" sentinels of the per-column bound tables.
constexpr int kNoLower = 10000;
constexpr int kNoUpper = -10000;

// The winner-takes-all window is 11 x 11; a cost at or above this never wins.
constexpr int kWtaHalf = 5;
constexpr int kWtaCeiling = 500000;

std::int64_t DisparityCount(int dMin, int dMax) { return std::llabs(static_cast<std::int64_t>(dMax) - dMin) + 1; }

// The cost rows deinterleave B, G, R bytes, which plain SSE2 cannot do in
// vectors; a clone for CPUs with byte shuffles (picked at load time) runs
// them several times faster.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUORL_CV_SHUFFLE_CLONES __attribute__((target_clones("avx2", "ssse3", "default")))
#else
#define QUORL_CV_SHUFFLE_CLONES
#endif

QUORL_CV_SHUFFLE_CLONES
void AbsoluteDifferenceRow3(const unsigned char* __restrict a, const unsigned char* __restrict b, std::int64_t count,
                            int* __restrict out) {
    for (std::int64_t i = 0; i < count; ++i)
        out[i] = std::abs(a[3 * i] - b[3 * i]) + std::abs(a[3 * i + 1] - b[3 * i + 1]) +
                 std::abs(a[3 * i + 2] - b[3 * i + 2]);
}

QUORL_CV_SHUFFLE_CLONES
void SquaredDifferenceRow3(const unsigned char* __restrict a, const unsigned char* __restrict b, std::int64_t count,
                           int* __restrict out) {
    for (std::int64_t i = 0; i < count; ++i) {
        const int d0 = a[3 * i] - b[3 * i], d1 = a[3 * i + 1] - b[3 * i + 1], d2 = a[3 * i + 2] - b[3 * i + 2];
        out[i] = d0 * d0 + d1 * d1 + d2 * d2;
    }
}

// Pixel costs of a run of pixel pairs: the channel count they read and the
// largest value one pixel pair can cost (what bounds the running sums).
struct AbsoluteDifference3 {
    static constexpr int kChannels = 3;
    static constexpr std::int64_t kMaxCost = 3 * 255;
    static void Row(const unsigned char* a, const unsigned char* b, std::int64_t count, int* out) {
        AbsoluteDifferenceRow3(a, b, count, out);
    }
};

struct SquaredDifference3 {
    static constexpr int kChannels = 3;
    static constexpr std::int64_t kMaxCost = 3 * 255 * 255;
    static void Row(const unsigned char* a, const unsigned char* b, std::int64_t count, int* out) {
        SquaredDifferenceRow3(a, b, count, out);
    }
};

struct AbsoluteDifference1 {
    static constexpr int kChannels = 1;
    static constexpr std::int64_t kMaxCost = 255;
    static void Row(const unsigned char* a, const unsigned char* b, std::int64_t count, int* out) {
        for (std::int64_t i = 0; i < count; ++i) out[i] = std::abs(a[i] - b[i]);
    }
};

// Where disparity d finds its pixel pairs in a row: image-0 column `first0`
// meets image-1 column `first1`, `count` pairs in all, the first one's cost
// going to slice column `firstColumn`. `summed` is false when the row is too
// short for one window (nothing is computed for d then).
struct DisparityRun {
    std::int64_t first0, first1, firstColumn, count;
    bool summed;
};

DisparityRun RunFor(std::int64_t d, int W, int windowWidth) {
    const std::int64_t m = d > 0 ? d : -d;
    DisparityRun run;
    run.first0 = d > 0 ? 0 : m;
    run.first1 = d > 0 ? d : 0;
    run.firstColumn = 1 + run.first0;
    // The last column of either image is left out.
    run.count = W - 1 - m;
    run.summed = windowWidth + m < W;
    return run;
}

// Checks shared by the volume functions and the winner-takes-all, reported
// under the caller's own name.
bool CheckPair(IplImage** images, int channels, const cvcompat::RoutineErrors& errors) {
    if (!images || !images[0] || !images[1]) {
        errors.Fail(CV_StsNullPtr, "Null image pair or image", __LINE__);
        return false;
    }
    const IplImage* a = images[0];
    const IplImage* b = images[1];
    if (!a->imageData || !b->imageData) {
        errors.Fail(CV_StsNullPtr, "Image without pixels", __LINE__);
        return false;
    }
    if (a->depth != IPL_DEPTH_8U || b->depth != IPL_DEPTH_8U) {
        errors.Fail(CV_StsBadArg, "Images must have 8-bit unsigned pixels", __LINE__);
        return false;
    }
    if (a->nChannels != channels || b->nChannels != channels) {
        errors.Fail(CV_StsBadArg, channels == 1 ? "Images must have one channel" : "Images must have three channels",
                    __LINE__);
        return false;
    }
    if (a->width < 1 || a->height < 1 || a->widthStep < static_cast<std::int64_t>(a->width) * channels) {
        errors.Fail(CV_StsBadSize, "Image 0 has no pixels or a row stride shorter than its rows", __LINE__);
        return false;
    }
    if (b->width != a->width || b->height != a->height || b->widthStep != a->widthStep) {
        errors.Fail(CV_StsBadSize, "Image 1 differs from image 0 in size or row stride", __LINE__);
        return false;
    }
    return true;
}

// The horizontal sum adds the entering cost before the leaving one goes, and
// the vertical sum adds a row before one leaves, so intermediates reach
// (2hx + 2)(2hy + 2) pixel costs: that must fit in int32.
bool CheckWindow(int hx, int hy, std::int64_t maxCost, const cvcompat::RoutineErrors& errors) {
    if (hx < 0 || hy < 0) {
        errors.Fail(CV_StsBadArg, "Negative window half size", __LINE__);
        return false;
    }
    const double worst = (2.0 * hx + 2.0) * (2.0 * hy + 2.0) * static_cast<double>(maxCost);
    if (worst > std::numeric_limits<std::int32_t>::max()) {
        errors.Fail(CV_StsBadArg, "Window so large that its cost sums could overflow", __LINE__);
        return false;
    }
    return true;
}

// Entries of a volume for image 0 and the range, or 0 when that count cannot
// be addressed.
std::size_t VolumeEntries(const IplImage* image0, int dMin, int dMax) {
    const unsigned __int128 n = static_cast<unsigned __int128>(image0->height + 1) *
                                static_cast<unsigned __int128>(image0->width + 1) *
                                static_cast<unsigned __int128>(DisparityCount(dMin, dMax));
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(int)) return 0;
    return static_cast<std::size_t>(n);
}

// One pass of running sums over a checked pair: every pixel cost is
// computed once per disparity, the horizontal window slides by one add and
// one subtract, and the vertical sums slide in place through the row blocks
// (block y + 1 receives the horizontal sums of image row y; block r ends as
// the window sums with top row r). blockAt(b) gives the memory of block b;
// onFinal(r) runs as soon as block r holds its final window sums. Blocks
// start zeroed.
template <class Cost, class BlockAt, class OnFinal>
void SlideWindows(const IplImage* image0, const IplImage* image1, int dMin, int dMax, int hx, int hy, BlockAt blockAt,
                  OnFinal onFinal) {
    constexpr int C = Cost::kChannels;
    const int W = image0->width;
    const int H = image0->height;
    const std::size_t sliceLength = static_cast<std::size_t>(W) + 1;
    const std::size_t D = static_cast<std::size_t>(DisparityCount(dMin, dMax));

    // A window taller than the image sums nothing.
    if (2 * static_cast<std::int64_t>(hy) + 1 > H) return;
    const int windowWidth = 2 * hx + 1;
    // dMax < dMin computes no disparity at all.
    const std::size_t computed = dMax >= dMin ? D : 0;

    for (int y = 0; y < H; ++y) {
        const auto* row0 =
            reinterpret_cast<const unsigned char*>(image0->imageData) + static_cast<std::size_t>(y) * image0->widthStep;
        const auto* row1 =
            reinterpret_cast<const unsigned char*>(image1->imageData) + static_cast<std::size_t>(y) * image1->widthStep;
        int* rowBlock = blockAt(static_cast<std::size_t>(y) + 1);
        int* first = y <= 2 * hy ? blockAt(0) : nullptr;
        int* top = y > 2 * hy ? blockAt(static_cast<std::size_t>(y - 2 * hy)) : nullptr;
        const int* above = y > 2 * hy ? blockAt(static_cast<std::size_t>(y - 2 * hy - 1)) : nullptr;
        for (std::size_t n = 0; n < computed; ++n) {
            const DisparityRun run =
                RunFor(static_cast<std::int64_t>(dMin) + static_cast<std::int64_t>(n), W, windowWidth);
            if (!run.summed) continue;
            const unsigned char* a = row0 + run.first0 * C;
            const unsigned char* b = row1 + run.first1 * C;
            const std::size_t sliceOffset = n * sliceLength + static_cast<std::size_t>(run.firstColumn);
            int* costs = rowBlock + sliceOffset;
            const std::int64_t count = run.count;

            Cost::Row(a, b, count, costs);

            // In place: each window sum overwrites the cost that just left
            // it, so the sums end one column left of their first pixel and
            // the last windowWidth costs stay as they are.
            int total = 0;
            for (int i = 0; i < windowWidth; ++i) total += costs[i];
            costs[-1] = total;
            for (std::int64_t i = windowWidth; i < count; ++i) {
                total += costs[i];
                total -= costs[i - windowWidth];
                costs[i - windowWidth] = total;
            }

            const int* sums = costs - 1;
            const std::int64_t sumCount = count - windowWidth + 1;
            const std::size_t at = sliceOffset - 1;
            if (first) {
                for (std::int64_t j = 0; j < sumCount; ++j) first[at + j] += sums[j];
            } else {
                // top holds the horizontal sums of the row leaving the window.
                for (std::int64_t j = 0; j < sumCount; ++j) top[at + j] = above[at + j] + sums[j] - top[at + j];
            }
        }
        if (y >= 2 * hy) onFinal(static_cast<std::size_t>(y - 2 * hy));
    }
}

template <class Cost>
void FillVolume(const IplImage* image0, const IplImage* image1, int dMin, int dMax, int hx, int hy, int* volume) {
    const std::size_t block =
        static_cast<std::size_t>(DisparityCount(dMin, dMax)) * (static_cast<std::size_t>(image0->width) + 1);
    std::fill(volume, volume + (static_cast<std::size_t>(image0->height) + 1) * block, 0);
    SlideWindows<Cost>(
        image0, image1, dMin, dMax, hx, hy, [&](std::size_t b) { return volume + b * block; }, [](std::size_t) {});
}

template <class Cost>
void VolumeEntry(const char* name, IplImage** images, int dMin, int dMax, int hx, int hy, int* volume) {
    const cvcompat::RoutineErrors errors(name, kSource);
    if (!CheckPair(images, Cost::kChannels, errors)) return;
    if (!volume) return errors.Fail(CV_StsNullPtr, "Null volume", __LINE__);
    if (!CheckWindow(hx, hy, Cost::kMaxCost, errors)) return;
    if (VolumeEntries(images[0], dMin, dMax) == 0)
        return errors.Fail(CV_StsBadSize, "Volume too large to address", __LINE__);
    FillVolume<Cost>(images[0], images[1], dMin, dMax, hx, hy, volume);
}

// Writes value at every index of [from, to) that lies in [0, W).
template <class F>
void FillClipped(int* table, int W, std::int64_t from, std::int64_t to, F value) {
    from = std::max<std::int64_t>(from, 0);
    to = std::min<std::int64_t>(to, W);
    for (std::int64_t x = from; x < to; ++x) table[x] = static_cast<int>(value(x));
}

bool CheckBoundTables(const char* name, const int* lower, const int* upper, int W) {
    const cvcompat::RoutineErrors errors(name, kSource);
    if (!lower || !upper) {
        errors.Fail(CV_StsNullPtr, "Null bound table", __LINE__);
        return false;
    }
    if (W < 1) {
        errors.Fail(CV_StsBadSize, "Bound tables need at least one column", __LINE__);
        return false;
    }
    return true;
}

}  // namespace

void SADDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume) {
    VolumeEntry<AbsoluteDifference3>("CV::SADDisparitySpaceVolume", images, dMin, dMax, hx, hy, volume);
}

void SSDDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume) {
    VolumeEntry<SquaredDifference3>("CV::SSDDisparitySpaceVolume", images, dMin, dMax, hx, hy, volume);
}

void SSDDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx, int hy, int** volume) {
    SSDDisparitySpaceVolume(images, dMin, dMax, hx, hy, volume ? *volume : nullptr);
}

void SSDDisparitySpaceVolume_Mono(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume) {
    VolumeEntry<AbsoluteDifference1>("CV::SSDDisparitySpaceVolume_Mono", images, dMin, dMax, hx, hy, volume);
}

void Stereo_WTA_SSD(IplImage** images, int W, int H, int dMin, int dMax, unsigned char* output) {
    const cvcompat::RoutineErrors errors("CV::Stereo_WTA_SSD", kSource);
    if (!CheckPair(images, AbsoluteDifference3::kChannels, errors)) return;
    if (!output) return errors.Fail(CV_StsNullPtr, "Null output", __LINE__);
    const IplImage* image0 = images[0];
    // The volume is sized from W and H but filled from image 0.
    if (W != image0->width || H != image0->height)
        return errors.Fail(CV_StsBadSize, "W and H differ from image 0's size", __LINE__);
    const int window = 2 * kWtaHalf + 1;
    // No output pixel has a whole window inside the image.
    if (W < window || H < window) return;
    const std::int64_t D = DisparityCount(dMin, dMax);
    const std::size_t sliceLength = static_cast<std::size_t>(W) + 1;
    const std::size_t block = static_cast<std::size_t>(D) * sliceLength;
    const std::size_t ring = 2 * kWtaHalf + 3;
    if (block > std::numeric_limits<std::size_t>::max() / sizeof(int) / ring)
        return errors.Fail(CV_StsNoMem, "Volume too large to address", __LINE__);
    // Block r is final once image row r + 10 is summed, and no later block
    // reads it after the next row: a ring of 13 blocks holds every block
    // still in use, so the volume stays in cache instead of filling
    // (H + 1) blocks that are each read once.
    std::unique_ptr<int, decltype(&std::free)> volume(static_cast<int*>(std::calloc(ring * block, sizeof(int))),
                                                      &std::free);
    const int columns = W - window + 1;
    std::unique_ptr<int[]> lowest(new (std::nothrow) int[columns]);
    std::unique_ptr<int[]> best(new (std::nothrow) int[columns]);
    if (!volume || !lowest || !best)
        return errors.Fail(CV_StsNoMem, "Out of memory for the disparity volume", __LINE__);
    const std::int64_t computed = dMax >= dMin ? D : 0;
    const std::size_t outStep = static_cast<std::size_t>(image0->widthStep);
    auto blockAt = [&](std::size_t b) { return volume.get() + (b % ring) * block; };

    // Window top-left columns 0 .. W - 11 are looked at; a disparity takes
    // part only where its slice holds a full window sum, so an exact match
    // (cost 0) can win and the running-sum leftovers at the right never do.
    auto winners = [&](std::size_t r) {
        std::fill(lowest.get(), lowest.get() + columns, kWtaCeiling);
        std::fill(best.get(), best.get() + columns, 0);
        const int* blockEntries = blockAt(r);
        for (std::int64_t k = 0; k < computed; ++k) {
            const DisparityRun run = RunFor(dMin + k, W, window);
            if (!run.summed) continue;
            const std::int64_t from = run.first0;
            const std::int64_t to = std::min<std::int64_t>(run.first0 + run.count - window, columns - 1);
            const int* entry = blockEntries + static_cast<std::size_t>(k) * sliceLength;
            const int kk = static_cast<int>(k);
            int* low = lowest.get();
            int* win = best.get();
            for (std::int64_t c = from; c <= to; ++c) {
                const bool wins = entry[c] < low[c];
                low[c] = wins ? entry[c] : low[c];
                win[c] = wins ? kk : win[c];
            }
        }
        unsigned char* out = output + (r + kWtaHalf) * outStep + kWtaHalf * 3;
        for (int c = 0; c < columns; ++c) {
            const auto grey = static_cast<unsigned char>(static_cast<std::int64_t>(best[c]) * 255 / D);
            out[3 * c] = out[3 * c + 1] = out[3 * c + 2] = grey;
        }
    };
    SlideWindows<AbsoluteDifference3>(image0, images[1], dMin, dMax, kWtaHalf, kWtaHalf, blockAt, winners);
}

void GetVolumeSliceY(int* volume, int sliceLength, int /*ignored*/, int D, IplImage* image, int r) {
    const cvcompat::RoutineErrors errors("CV::GetVolumeSliceY", kSource);
    if (!volume || !image || !image->imageData) return errors.Fail(CV_StsNullPtr, "Null volume or image", __LINE__);
    if (D < 1 || sliceLength < 1 || r < 0)
        return errors.Fail(CV_StsBadArg, "Slice count, slice length or row block out of range", __LINE__);
    if (image->depth != IPL_DEPTH_8U || image->nChannels != 3)
        return errors.Fail(CV_StsBadArg, "Slice image must be 3-channel 8-bit", __LINE__);
    if (image->width < sliceLength || image->height < D)
        return errors.Fail(CV_StsBadSize, "Slice image smaller than sliceLength x D", __LINE__);

    const std::size_t count = static_cast<std::size_t>(D) * static_cast<std::size_t>(sliceLength);
    const int* entries = volume + static_cast<std::size_t>(r) * count;
    int minimum = 50000, maximum = -50000;
    for (std::size_t i = 0; i < count; ++i) {
        minimum = std::min(minimum, entries[i]);
        maximum = std::max(maximum, entries[i]);
    }
    const float range = static_cast<float>(static_cast<std::int64_t>(maximum) - minimum);
    for (int k = 0; k < D; ++k) {
        auto* pixel =
            reinterpret_cast<unsigned char*>(image->imageData) + static_cast<std::size_t>(k) * image->widthStep;
        const int* slice = entries + static_cast<std::size_t>(k) * sliceLength;
        for (int j = 0; j < sliceLength; ++j, pixel += 3) {
            const int v = slice[j];
            if (v == 0) {
                pixel[0] = 0;
                pixel[1] = 0;
                pixel[2] = 255;
                continue;
            }
            // A block of one value has no range to scale: it shows black.
            float grey = range > 0 ? static_cast<float>(static_cast<std::int64_t>(v) - minimum) * 255.0f / range : 0.0f;
            grey = std::clamp(grey, 0.0f, 255.0f);
            pixel[0] = pixel[1] = pixel[2] = static_cast<unsigned char>(grey);
        }
    }
}

void DisparityBoundaries(int* offset0, int* offset1, int* sliceStart, int* countFrom, int* windowEnd, int* rowEnd,
                         int W, int sliceLength, int dMin, int dMax, int windowWidth) {
    const cvcompat::RoutineErrors errors("CV::DisparityBoundaries", kSource);
    if (!offset0 || !offset1 || !sliceStart || !countFrom || !windowEnd || !rowEnd)
        return errors.Fail(CV_StsNullPtr, "Null bound array", __LINE__);
    const std::int64_t D = DisparityCount(dMin, dMax);
    for (std::int64_t n = 0; n < D; ++n) {
        const std::int64_t d = dMin + n;
        const std::int64_t m = d > 0 ? d : -d;
        // Byte offsets: three bytes a pixel.
        offset0[n] = static_cast<int>(d > 0 ? 0 : 3 * m);
        offset1[n] = static_cast<int>(d > 0 ? 3 * d : 0);
        sliceStart[n] = static_cast<int>(n * sliceLength + 1 + (d > 0 ? 0 : m));
        countFrom[n] = static_cast<int>(m);
        const bool summed = static_cast<std::int64_t>(windowWidth) + m < W;
        windowEnd[n] = static_cast<int>(summed ? m + windowWidth : m - 1);
        rowEnd[n] = static_cast<int>(summed ? W - 1 : m - 1);
    }
}

void DisparityBoundaries(int* lower, int* upper, int W, int a, int b, int c) {
    if (!CheckBoundTables("CV::DisparityBoundaries", lower, upper, W)) return;
    const std::int64_t A = std::llabs(static_cast<std::int64_t>(a));
    const std::int64_t B = std::llabs(static_cast<std::int64_t>(b));
    const std::int64_t C = c;
    if (a > 0) {
        FillClipped(lower, W, 0, W - C - A, [&](std::int64_t x) { return std::max(C, x + a); });
        FillClipped(lower, W, W - C - A, W, [](std::int64_t) { return kNoLower; });
    } else {
        FillClipped(lower, W, 0, C + A, [&](std::int64_t) { return C; });
        FillClipped(lower, W, C + A, W, [&](std::int64_t x) { return x - A; });
        if (A < C) FillClipped(lower, W, W - C, W, [&](std::int64_t) { return W - C; });
    }
    if (b == 0) {
        FillClipped(upper, W, 0, C, [](std::int64_t) { return kNoUpper; });
        FillClipped(upper, W, C, W, [](std::int64_t x) { return x; });
    } else {
        FillClipped(upper, W, 0, W - C - B, [&](std::int64_t x) { return std::max(C, x + B); });
        FillClipped(upper, W, W - C - B, W, [&](std::int64_t) { return W - C; });
    }
}

void DisparityBoundaries2(int* lower, int* upper, int W, int a, int b, int c) {
    if (!CheckBoundTables("CV::DisparityBoundaries2", lower, upper, W)) return;
    const std::int64_t A = std::llabs(static_cast<std::int64_t>(a));
    const std::int64_t B = std::llabs(static_cast<std::int64_t>(b));
    const std::int64_t C = c;
    const std::int64_t s = a < 0 ? A : 0;
    if (a > 0) {
        if (A < C) FillClipped(lower, W, 0, C - A, [&](std::int64_t x) { return C - x; });
        FillClipped(lower, W, std::max<std::int64_t>(C - A, 0), W - A - C, [&](std::int64_t) { return a; });
        FillClipped(lower, W, W - A - C, W, [](std::int64_t) { return kNoLower; });
    } else {
        FillClipped(lower, W, 0, C, [&](std::int64_t) { return s; });
        FillClipped(lower, W, C, C + A, [&](std::int64_t x) { return s - (x - C); });
        FillClipped(lower, W, C + A, W, [](std::int64_t) { return 0; });
        if (A < C) FillClipped(lower, W, W - C, W, [&](std::int64_t x) { return x - (W - C); });
    }
    const std::int64_t t = b + s;
    if (B > 0) {
        if (B < C) FillClipped(upper, W, 0, C - B, [&](std::int64_t x) { return C + s - x; });
        FillClipped(upper, W, std::max<std::int64_t>(C - B, 0), W - C - B, [&](std::int64_t) { return t; });
        FillClipped(upper, W, W - C - B, W, [&](std::int64_t x) { return t - (x - (W - C - B)); });
    } else {
        FillClipped(upper, W, 0, C, [](std::int64_t) { return kNoUpper; });
        FillClipped(upper, W, C, W, [&](std::int64_t) { return t; });
    }
}

}  // namespace CV
