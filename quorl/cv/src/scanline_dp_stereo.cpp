#include "CV/scanline_dp_stereo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <opencv2/core/core_c.h>

#include <cvcompat/errstatus.h>

#include "scanline_dp_stereo_internal.h"

namespace CV {

namespace detail {

namespace {

int Range3(int a, int b, int c) { return std::max({a, b, c}) - std::min({a, b, c}); }

// Stop rules shared by the vertical and the horizontal walk.
struct Seed {
    int disparity;
    bool weak;
};

// One walk direction of a propagation over a line of pixels reached through
// `step` (pixels of map) and `relStep` (entries of reliability / flags).
template <class Line>
bool StopsWalk(const Line& line, std::int64_t i, const Seed& seed, int reliableThreshold) {
    const int p = line.Disparity(i);
    if (line.Flag(i)) return true;
    if (p < seed.disparity && line.Reliability(i) >= reliableThreshold) return true;
    return seed.weak && p == seed.disparity + 1;
}

// A column (vertical) or a row (horizontal) of the map with its flags and
// reliabilities.
struct Line {
    unsigned char* map;
    std::int64_t mapStep;
    const unsigned char* flags;
    const std::int32_t* reliability;
    std::int64_t step;  // of flags and reliability
    std::int64_t length;
    unsigned char stopBit;

    int Disparity(std::int64_t i) const { return map[i * mapStep]; }
    void Set(std::int64_t i, int v) const { map[i * mapStep] = static_cast<unsigned char>(v); }
    bool Flag(std::int64_t i) const { return (flags[i * step] & stopBit) != 0; }
    std::int32_t Reliability(std::int64_t i) const { return reliability[i * step]; }
};

// Every pixel's reliability becomes the length of its run of equal disparity.
void RunLengths(const unsigned char* map, std::int64_t mapStep, std::int32_t* reliability, std::int64_t step,
                std::int64_t length) {
    std::int64_t start = 0;
    for (std::int64_t i = 1; i <= length; ++i) {
        if (i < length && map[i * mapStep] == map[start * mapStep]) continue;
        for (std::int64_t j = start; j < i; ++j) reliability[j * step] = static_cast<std::int32_t>(i - start);
        start = i;
    }
}

// Seeds spread their disparity backward, then forward, up to a stop; the
// scan resumes at the first pixel past the seed that was not overwritten.
void Propagate(const Line& line, int reliableThreshold, int seedThreshold, int weakSeedThreshold) {
    std::int64_t i = 0;
    while (i < line.length) {
        const int s = line.Disparity(i);
        const std::int32_t rel = line.Reliability(i);
        if (s == 0 || rel < seedThreshold || line.Flag(i)) {
            ++i;
            continue;
        }
        const Seed seed{s, rel < weakSeedThreshold};
        for (std::int64_t p = i - 1; p >= 0 && !StopsWalk(line, p, seed, reliableThreshold); --p) line.Set(p, s);
        std::int64_t q = i + 1;
        for (; q < line.length && !StopsWalk(line, q, seed, reliableThreshold); ++q) line.Set(q, s);
        i = q;
    }
}

}  // namespace

void ScanlineEdgeFlags(const unsigned char* left, const unsigned char* right, int W, unsigned char* flags) {
    std::fill(flags, flags + W, 0);
    for (int x = 0; x < 3; ++x) flags[x] = kRightEdge;
    for (int x = W - 3; x < W; ++x) flags[x] = kLeftEdge;
    // Column W - 4 has its three right neighbours inside the row from W = 7
    // on; for smaller rows it is one of the fixed columns above.
    for (int x = 3; x <= W - 4; ++x) {
        unsigned char f = 0;
        if (Range3(left[x - 3], left[x - 2], left[x - 1]) >= kEdgeContrast) f |= kLeftEdge;
        if (Range3(right[x + 1], right[x + 2], right[x + 3]) >= kEdgeContrast) f |= kRightEdge;
        flags[x] = f;
    }
}

void SmoothAndMarkVerticalEdges(const unsigned char* left, unsigned char* map, int stride, int W, int H,
                                unsigned char* flags) {
    const std::size_t s = static_cast<std::size_t>(stride);
    const std::size_t w = static_cast<std::size_t>(W);
    // Each pixel sees the pixel above as already smoothed.
    for (int y = 1; y + 1 < H; ++y) {
        unsigned char* row = map + y * s;
        for (int x = 0; x < W; ++x)
            if (row[x - static_cast<std::ptrdiff_t>(s)] == row[x + s]) row[x] = row[x - static_cast<std::ptrdiff_t>(s)];
    }
    for (int x = 0; x < W; ++x) {
        for (int y = 1; y + 1 < H;) {
            const unsigned char* p = left + y * s + x;
            if (Range3(p[-static_cast<std::ptrdiff_t>(s)], p[0], p[s]) >= kEdgeContrast) {
                for (int r = y - 1; r <= y + 1; ++r) flags[r * w + x] |= kVerticalEdge;
                y += 2;
            } else {
                ++y;
            }
        }
    }
    // A vertical edge mark survives only with marked neighbours on both sides.
    for (int y = 0; y < H; ++y) {
        unsigned char* row = flags + y * w;
        bool before = (row[0] & kVerticalEdge) != 0;
        for (int x = 1; x + 1 < W; ++x) {
            const bool here = (row[x] & kVerticalEdge) != 0;
            if (here && (!before || !(row[x + 1] & kVerticalEdge))) row[x] &= static_cast<unsigned char>(~kVerticalEdge);
            before = here;
        }
    }
}

void PropagateReliableDisparities(unsigned char* map, int stride, int W, int H, const unsigned char* flags,
                                  std::int32_t* reliability, int reliableThreshold, int seedThreshold,
                                  int weakSeedThreshold) {
    for (int x = 0; x < W; ++x) RunLengths(map + x, stride, reliability + x, W, H);
    for (int x = 0; x < W; ++x)
        Propagate(Line{map + x, stride, flags + x, reliability + x, W, H, kVerticalEdge}, reliableThreshold,
                  seedThreshold, weakSeedThreshold);
    for (int y = 0; y < H; ++y)
        RunLengths(map + static_cast<std::size_t>(y) * stride, 1, reliability + static_cast<std::size_t>(y) * W, 1, W);
    for (int y = 0; y < H; ++y)
        Propagate(Line{map + static_cast<std::size_t>(y) * stride, 1, flags + static_cast<std::size_t>(y) * W,
                       reliability + static_cast<std::size_t>(y) * W, 1, W, kLeftEdge},
                  reliableThreshold, seedThreshold, weakSeedThreshold);
}

}  // namespace detail

namespace {

constexpr const char* kSource = "CV";
constexpr std::int32_t kSentinel = 0x1FFFFFFF;

enum Step : unsigned char { kLeft = 0, kUp = 1, kDiagonal = 2 };

// One cell of the path table. After the scan lines the same memory holds
// the run lengths, two int32 a cell.
struct Cell {
    std::int32_t sum;
    unsigned char step;
};
static_assert(sizeof(Cell) == 8, "the cell array doubles as two run lengths a cell");

// Work buffers, taken with the computer-vision library's allocator.
struct Buffer {
    void* data = nullptr;
    ~Buffer() { cvFree_(data); }
};

bool Allocate(Buffer& buffer, unsigned __int128 bytes) {
    if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max() / 2) return false;
    // OpenCV's allocator throws on failure; the caller reports it once.
    try {
        buffer.data = cvAlloc(static_cast<std::size_t>(bytes));
    } catch (...) {
        buffer.data = nullptr;
    }
    return buffer.data != nullptr;
}

int RoundThreshold(float v) {
    return cvRound(std::clamp(static_cast<double>(v), -2147483648.0, 2147483647.0));
}

struct Extrema {
    unsigned char minimum, maximum;
};

class ScanlineMatcher {
public:
    ScanlineMatcher(int W, int maxD, int penalty, int reward, unsigned char* costs, Cell* cells, Extrema* extrema)
        : W_(W), maxD_(maxD), dispH_(maxD + 3), penalty_(penalty), reward_(reward), costs_(costs), cells_(cells),
          extrema_(extrema) {}

    void Match(const unsigned char* left, const unsigned char* right, const unsigned char* flags,
               unsigned char* out) {
        RightExtrema(right);
        Dissimilarities(left);
        SetUpCells();
        Forward(flags);
        Backtrack(out);
    }

private:
    Cell& At(int d, int x) { return cells_[static_cast<std::size_t>(x) * dispH_ + d]; }

    // Range of the right row around each pixel, half a pixel to either side.
    void RightExtrema(const unsigned char* I) {
        for (int x = 0; x + 1 < W_; ++x) {
            const int minus = x == 0 ? I[0] : (I[x - 1] + I[x]) >> 1;
            const int plus = (I[x] + I[x + 1]) >> 1;
            extrema_[x].minimum = static_cast<unsigned char>(std::min({int(I[x]), minus, plus}));
            extrema_[x].maximum = static_cast<unsigned char>(std::max({int(I[x]), minus, plus}));
        }
        extrema_[W_ - 1] = extrema_[W_ - 2];
    }

    // Row d + 1 of the table: disparity d, defined from column d on.
    void Dissimilarities(const unsigned char* left) {
        for (int d = 0; d <= maxD_; ++d) {
            unsigned char* row = costs_ + static_cast<std::size_t>(d + 1) * W_;
            for (int x = d; x < W_; ++x) {
                const int v = left[x];
                const Extrema e = extrema_[x - d];
                row[x] = static_cast<unsigned char>(v >= e.maximum ? v - e.maximum : std::max(0, e.minimum - v));
            }
        }
    }

    void SetUpCells() {
        // Every cell starts unreachable, so that no walk back through the
        // table can meet a cell left from another row.
        std::fill(cells_, cells_ + static_cast<std::size_t>(W_) * dispH_, Cell{kSentinel, kLeft});
        for (int d = 2; d < dispH_ && d - 2 < W_; ++d) At(d, d - 2) = Cell{kSentinel, kUp};
        At(1, 0) = Cell{0, kLeft};
    }

    void Forward(const unsigned char* flags) {
        for (int x = 1; x < W_; ++x) {
            Cell* cur = cells_ + static_cast<std::size_t>(x) * dispH_;
            const Cell* prev = cur - dispH_;
            const bool upAllowed = (flags[x] & detail::kLeftEdge) != 0;
            const int top = std::min(maxD_ + 1, x + 1);
            for (int d = top; d >= 1; --d) {
                int best = prev[d].sum - reward_;
                unsigned char step = kLeft;
                if (upAllowed && cur[d + 1].step != kDiagonal) {
                    const int up = cur[d + 1].sum + penalty_;
                    if (up < best) best = up, step = kUp;
                }
                if ((flags[x - (d - 1)] & detail::kRightEdge) && prev[d - 1].step != kUp) {
                    const int diagonal = prev[d - 1].sum + penalty_;
                    if (diagonal < best) best = diagonal, step = kDiagonal;
                }
                cur[d].sum = best + costs_[static_cast<std::size_t>(d) * W_ + x];
                cur[d].step = step;
            }
        }
    }

    void Backtrack(unsigned char* out) {
        int d = 1;
        for (int k = 2; k <= maxD_ + 1; ++k)
            if (At(k, W_ - 1).sum < At(d, W_ - 1).sum) d = k;
        // Every path starts at disparity 0 in column 0; the walk below may
        // not reach that column.
        out[0] = 0;
        int x = W_ - 1;
        while (x >= 1) {
            out[x] = static_cast<unsigned char>(d - 1);
            // The bounds keep the walk on disparities 0 .. maxD even where a
            // path ran through a border cell.
            while (At(d, x).step == kUp && d < maxD_ + 1) ++d;
            if (At(d, x).step == kDiagonal && d > 1) {
                int dd = d, xx = x;
                do {
                    --dd;
                    --xx;
                } while (dd > 1 && xx > 0 && At(dd, xx).step == kDiagonal);
                std::fill(out + xx, out + x, static_cast<unsigned char>(dd - 1));
                x = xx - 1;
                d = dd;
            } else {
                --x;
            }
        }
    }

    int W_, maxD_, dispH_, penalty_, reward_;
    unsigned char* costs_;
    Cell* cells_;
    Extrema* extrema_;
};

}  // namespace

void BirchfieldDynamicProgramming(unsigned char* left, unsigned char* right, unsigned char* disparities, CvSize size,
                                  int stride, int maxD, float occlusionPenalty, float matchReward,
                                  float reliableThreshold, float seedThreshold, float weakSeedThreshold) {
    const cvcompat::RoutineErrors errors("CV::BirchfieldDynamicProgramming", kSource);
    const int W = size.width, H = size.height;
    if (!left || !right || !disparities) return errors.Fail(CV_StsNullPtr, "Null image or map", __LINE__);
    if (W < 3 || H < 1) return errors.Fail(CV_StsBadSize, "Images need at least 3 columns and 1 row", __LINE__);
    if (stride < W) return errors.Fail(CV_StsBadSize, "Row stride shorter than a row", __LINE__);
    if (maxD < 0) return errors.Fail(CV_StsBadArg, "Negative maximum disparity", __LINE__);
    for (float v : {occlusionPenalty, matchReward, reliableThreshold, seedThreshold, weakSeedThreshold})
        if (!std::isfinite(v)) return errors.Fail(CV_StsBadArg, "Non-finite parameter", __LINE__);
    // A disparity larger than the column is never considered.
    maxD = std::min(maxD, W - 1);
    // Path sums (sentinel-based ones included) must stay inside int32.
    const double pathSteps = static_cast<double>(W) + maxD + 2;
    const double worstStep = std::abs(std::nearbyint(static_cast<double>(occlusionPenalty))) +
                             std::abs(std::nearbyint(static_cast<double>(matchReward))) + 255.0;
    if (worstStep * pathSteps > static_cast<double>(std::numeric_limits<std::int32_t>::max() - kSentinel))
        return errors.Fail(CV_StsBadArg, "Occlusion penalty or match reward so large that path sums overflow",
                           __LINE__);
    const int penalty = cvRound(occlusionPenalty);
    const int reward = cvRound(matchReward);

    const int dispH = maxD + 3;
    const unsigned __int128 w = static_cast<unsigned>(W), h = static_cast<unsigned>(H);
    const unsigned __int128 cellCount = w * static_cast<unsigned>(std::max(dispH, (H + 1) / 2));
    Buffer costs, flags, cells, extrema;
    if (!Allocate(costs, w * static_cast<unsigned>(dispH)) || !Allocate(flags, w * h) ||
        !Allocate(cells, cellCount * sizeof(Cell)) || !Allocate(extrema, w * sizeof(Extrema)))
        return errors.Fail(CV_StsNoMem, "Out of memory for the work buffers", __LINE__);
    auto* flagMap = static_cast<unsigned char*>(flags.data);
    auto* cellArray = static_cast<Cell*>(cells.data);

    ScanlineMatcher matcher(W, maxD, penalty, reward, static_cast<unsigned char*>(costs.data), cellArray,
                            static_cast<Extrema*>(extrema.data));
    const std::size_t s = static_cast<std::size_t>(stride);
    for (int y = 0; y < H; ++y) {
        unsigned char* rowFlags = flagMap + static_cast<std::size_t>(y) * W;
        detail::ScanlineEdgeFlags(left + y * s, right + y * s, W, rowFlags);
        matcher.Match(left + y * s, right + y * s, rowFlags, disparities + y * s);
    }

    detail::SmoothAndMarkVerticalEdges(left, disparities, stride, W, H, flagMap);
    // The path table is done with; its memory now holds the run lengths.
    detail::PropagateReliableDisparities(disparities, stride, W, H, flagMap, reinterpret_cast<std::int32_t*>(cellArray),
                                         RoundThreshold(reliableThreshold), RoundThreshold(seedThreshold),
                                         RoundThreshold(weakSeedThreshold));
}

}  // namespace CV
