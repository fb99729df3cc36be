#include "CV/scanline_dp_stereo.h"

#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

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
            if (here && (!before || !(row[x + 1] & kVerticalEdge)))
                row[x] &= static_cast<unsigned char>(~kVerticalEdge);
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
static_assert(offsetof(Cell, step) == 4, "cells are written as words: sum, then step");
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

int RoundThreshold(float v) { return cvRound(std::clamp(static_cast<double>(v), -2147483648.0, 2147483647.0)); }

// a when take is 1, b when it is 0. Masks rather than conditions: the
// compiler turns conditions into branches, and the moves of the forward pass
// are data-driven, so a branch would be mispredicted about every other time.
inline int Select(int take, int a, int b) { return b ^ ((a ^ b) & -take); }

// An up move from a cell reached diagonally is not allowed: such a cell
// offers this instead of its sum as an up move's source. The parameter
// limit keeps every path sum, and every bound below, under it.
constexpr std::int32_t kNoUp = std::numeric_limits<std::int32_t>::max();
// The bound where the left image has no edge: no source is below it.
constexpr std::int32_t kNoBound = std::numeric_limits<std::int32_t>::min();

// Disparities are written into a byte map, so no more than 255 of them can
// be told apart; disparity indices then run 0 .. 257.
constexpr int kMaxDisparity = 255;
constexpr int kColumnCapacity = 264;

// A finished column of path sums and steps, kept beside the cells in
// int32 so that the next column reads it in vectors of one width.
struct ColumnState {
    std::int32_t sum[kColumnCapacity];
    std::int32_t step[kColumnCapacity];
};

// The part of a forward-pass column that does not wait for the up move, per
// disparity index: the better of left and diagonal plus the pixel's
// dissimilarity (sum and step, and as an up move's source for the cell
// below), the bound an up move's source must stay below, and the penalty
// plus dissimilarity an up move adds. Arrays of fixed size, so that one
// register reaches all of them.
struct SettledColumn {
    std::int32_t sum[kColumnCapacity];
    std::int32_t step[kColumnCapacity];
    std::int32_t source[kColumnCapacity];
    std::int32_t upBound[kColumnCapacity];
    std::int32_t upAdds[kColumnCapacity];
};

// Settles disparity indices 1 .. top of a column (entry d reads right column
// x - (d - 1) through flags, minimum and maximum; prev is column x - 1;
// upAllowed: the left image has an edge at the column), and stores the
// computed cells 1 .. prevTop of column x - 1 into prevCells (when not
// null). Written apart, with restrict, so that it runs in vectors.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void SettleColumn(int top, int v, int reward, int penalty, bool upAllowed, const ColumnState* __restrict prev,
                  const unsigned char* __restrict flags, const unsigned char* __restrict minimum,
                  const unsigned char* __restrict maximum, SettledColumn* __restrict out, int prevTop,
                  Cell* __restrict prevCells) {
    for (int d = 1; d <= top; ++d) {
        const int left = prev->sum[d] - reward;
        const int diagonal = prev->sum[d - 1] + penalty;
        const int takeDiagonal =
            ((flags[d] & detail::kRightEdge) != 0) & (prev->step[d - 1] != kUp) & (diagonal < left);
        const int settled = Select(takeDiagonal, diagonal, left);
        // How far v lies outside the right pixel's half-pixel range.
        const int cost = std::max(std::max(v - maximum[d], minimum[d] - v), 0);
        out->sum[d] = settled + cost;
        out->step[d] = takeDiagonal * kDiagonal;
        out->source[d] = Select(takeDiagonal, kNoUp, settled + cost);
        // up = source + penalty wins when below left (ties keep left) and
        // when not above the diagonal (ties between up and diagonal go to up).
        // Paths have at most W + maxD steps, so the bound stays in int32.
        out->upBound[d] = Select(upAllowed, settled + takeDiagonal - penalty, kNoBound);
        out->upAdds[d] = penalty + cost;
    }
    if (!prevCells) return;
    for (int d = 1; d <= prevTop; ++d) {
        // A cell as one word: sum, then the step in the next byte.
        const std::uint64_t word =
            static_cast<std::uint32_t>(prev->sum[d]) | (static_cast<std::uint64_t>(prev->step[d]) << 32);
        std::memcpy(prevCells + d, &word, sizeof word);
    }
}

// One scan line in the matcher: its images, flags and output, its cells,
// the previous and current column of sums and steps, the settled parts of
// the current column, and the right extrema and flags
// stored right to left (a column reads them at x - (d - 1), so they run
// forward as d grows).
struct Lane {
    const unsigned char* left;
    const unsigned char* right;
    const unsigned char* flags;
    unsigned char* out;
    Cell* cells;
    SettledColumn* settled;
    ColumnState* prev;
    ColumnState* cur;
    unsigned char *reversedFlags, *reversedMinimum, *reversedMaximum;
};

// Matches scan lines a few at a time. Left and diagonal moves come from the
// finished previous column, so they are settled for a whole column at once;
// only the up move waits for the cell above, which makes each column one
// chain of dependent selections from the top disparity down. Independent
// chains of several lines in one loop keep the processor busy while each
// waits.
class ScanlineMatcher {
public:
    static constexpr int kLanes = 2;

    static std::size_t ScratchBytes(int W) {
        return kLanes * (sizeof(SettledColumn) + 2 * sizeof(ColumnState) + 3 * static_cast<std::size_t>(W));
    }
    // Cells of all lanes.
    static std::size_t CellCount(int W, int dispH) { return kLanes * static_cast<std::size_t>(W) * dispH; }

    // maxD <= kMaxDisparity.
    ScanlineMatcher(int W, int maxD, int penalty, int reward, Cell* cells, void* scratch)
        : W_(W), maxD_(maxD), dispH_(maxD + 3), penalty_(penalty), reward_(reward) {
        auto* columns = static_cast<SettledColumn*>(scratch);
        auto* states = reinterpret_cast<ColumnState*>(columns + kLanes);
        auto* bytes = reinterpret_cast<unsigned char*>(states + 2 * kLanes);
        for (Lane& lane : lanes_) {
            lane.cells = cells;
            cells += static_cast<std::size_t>(W_) * dispH_;
            lane.settled = columns++;
            lane.prev = states++;
            lane.cur = states++;
            lane.reversedFlags = bytes;
            lane.reversedMinimum = bytes + W_;
            lane.reversedMaximum = bytes + 2 * W_;
            bytes += 3 * W_;
        }
    }

    // Matches kLanes scan lines (some may be the same one) into their
    // outputs; line i is left + offsets[i] and so on.
    void Match(const unsigned char* left, const unsigned char* right, const unsigned char* flags, unsigned char* out,
               const std::size_t* offsets, const std::size_t* flagOffsets) {
        for (int i = 0; i < kLanes; ++i) {
            lanes_[i].left = left + offsets[i];
            lanes_[i].right = right + offsets[i];
            lanes_[i].flags = flags + flagOffsets[i];
            lanes_[i].out = out + offsets[i];
        }
        for (Lane& lane : lanes_) Start(lane);
        for (int x = 1; x < W_; ++x) {
            const int top = Top(x);
            for (Lane& lane : lanes_) Settle(lane, x, top);
            Chain(top);
            for (Lane& lane : lanes_) std::swap(lane.prev, lane.cur);
        }
        for (Lane& lane : lanes_) {
            // The last column's cells, as Settle stores the others.
            Cell* last = lane.cells + static_cast<std::size_t>(W_ - 1) * dispH_;
            for (int d = 1; d <= Top(W_ - 1); ++d)
                last[d] = Cell{lane.prev->sum[d], static_cast<unsigned char>(lane.prev->step[d])};
            Backtrack(lane);
        }
    }

private:
    Cell& At(Lane& lane, int d, int x) { return lane.cells[static_cast<std::size_t>(x) * dispH_ + d]; }
    int Top(int x) const { return std::min(maxD_ + 1, x + 1); }

    void Start(Lane& lane) {
        RightExtrema(lane);
        for (int x = 0; x < W_; ++x) lane.reversedFlags[W_ - 1 - x] = lane.flags[x];
        SetUpCells(lane);
        // Column 0 as column 1 reads it: the border, the start and the
        // diagonal boundary above it.
        for (int d = 0; d <= 2; ++d) {
            lane.prev->sum[d] = At(lane, d, 0).sum;
            lane.prev->step[d] = At(lane, d, 0).step;
        }
    }

    // Range of the right row around each pixel, half a pixel to either side.
    void RightExtrema(Lane& lane) {
        const unsigned char* I = lane.right;
        for (int x = 0; x + 1 < W_; ++x) {
            const int minus = x == 0 ? I[0] : (I[x - 1] + I[x]) >> 1;
            const int plus = (I[x] + I[x + 1]) >> 1;
            lane.reversedMinimum[W_ - 1 - x] = static_cast<unsigned char>(std::min({int(I[x]), minus, plus}));
            lane.reversedMaximum[W_ - 1 - x] = static_cast<unsigned char>(std::max({int(I[x]), minus, plus}));
        }
        // Column W - 1 copies column W - 2.
        lane.reversedMinimum[0] = lane.reversedMinimum[1];
        lane.reversedMaximum[0] = lane.reversedMaximum[1];
    }

    // Cells the forward pass never computes start unreachable: the borders
    // (disparity indices 0 and dispH - 1), the cells above a column's top
    // disparity, among them the cells (d, d - 2) that mark the diagonal
    // boundary with an up step, and the start (1, 0). So no walk back
    // through the table meets a cell left from another line.
    void SetUpCells(Lane& lane) {
        for (int x = 0; x < W_; ++x) {
            Cell* column = lane.cells + static_cast<std::size_t>(x) * dispH_;
            column[0] = Cell{kSentinel, kLeft};
            for (int d = (x == 0 ? 1 : Top(x) + 1); d < dispH_; ++d) column[d] = Cell{kSentinel, kLeft};
        }
        for (int d = 2; d < dispH_ && d - 2 < W_; ++d) At(lane, d, d - 2) = Cell{kSentinel, kUp};
        At(lane, 1, 0) = Cell{0, kLeft};
    }

    // The parts of column x that do not wait for the up move, the cells of
    // column x - 1 (column 0 was set up), and the current column's entries
    // the chain does not compute: the border below and the cell above the
    // top (set up or the border: never reached diagonally).
    void Settle(Lane& lane, int x, int top) {
        const std::size_t at = static_cast<std::size_t>(W_ - 2 - x);
        Cell* prevCells = x >= 2 ? lane.cells + static_cast<std::size_t>(x - 1) * dispH_ : nullptr;
        SettleColumn(top, lane.left[x], reward_, penalty_, (lane.flags[x] & detail::kLeftEdge) != 0, lane.prev,
                     lane.reversedFlags + at, lane.reversedMinimum + at, lane.reversedMaximum + at, lane.settled,
                     Top(x - 1), prevCells);
        lane.cur->sum[0] = kSentinel;
        lane.cur->step[0] = kLeft;
        lane.cur->sum[top + 1] = kSentinel;
        lane.cur->step[top + 1] = top + 1 == x + 2 ? kUp : kLeft;
    }

    // The up moves of column x in all lanes, from the top disparity down.
    void Chain(int top) {
        ColumnState* cur[kLanes];
        const SettledColumn* settled[kLanes];
        std::int32_t source[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            cur[i] = lanes_[i].cur;
            settled[i] = lanes_[i].settled;
            source[i] = cur[i]->sum[top + 1];
        }
        for (int d = top; d >= 1; --d)
            for (int i = 0; i < kLanes; ++i) ChainStep(d, source[i], cur[i], settled[i]);
    }

    // One step of a chain. Up moves are rare in real images (they are
    // occlusions), so the branches the compiler makes here are well
    // predicted.
    static inline __attribute__((always_inline)) void ChainStep(int d, std::int32_t& source,
                                                                ColumnState* __restrict cur,
                                                                const SettledColumn* __restrict in) {
        // Wraps only for a source of kNoUp, and then it is not taken.
        const auto up =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(source) + static_cast<std::uint32_t>(in->upAdds[d]));
        const bool takeUp = source < in->upBound[d];
        cur->sum[d] = takeUp ? up : in->sum[d];
        cur->step[d] = takeUp ? int(kUp) : in->step[d];
        source = takeUp ? up : in->source[d];
    }

    void Backtrack(Lane& lane) {
        unsigned char* out = lane.out;
        int d = 1;
        for (int k = 2; k <= maxD_ + 1; ++k)
            if (At(lane, k, W_ - 1).sum < At(lane, d, W_ - 1).sum) d = k;
        // Every path starts at disparity 0 in column 0; the walk below may
        // not reach that column.
        out[0] = 0;
        int x = W_ - 1;
        while (x >= 1) {
            out[x] = static_cast<unsigned char>(d - 1);
            // The bounds keep the walk on disparities 0 .. maxD even where a
            // path ran through a border cell.
            while (At(lane, d, x).step == kUp && d < maxD_ + 1) ++d;
            if (At(lane, d, x).step == kDiagonal && d > 1) {
                int dd = d, xx = x;
                do {
                    --dd;
                    --xx;
                } while (dd > 1 && xx > 0 && At(lane, dd, xx).step == kDiagonal);
                std::fill(out + xx, out + x, static_cast<unsigned char>(dd - 1));
                x = xx - 1;
                d = dd;
            } else {
                --x;
            }
        }
    }

    int W_, maxD_, dispH_, penalty_, reward_;
    Lane lanes_[kLanes];
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
    // A disparity larger than the column is never considered, nor one the
    // byte map cannot hold.
    maxD = std::min({maxD, W - 1, kMaxDisparity});
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
    // The cells hold the matcher's scan lines, and later one run length per
    // pixel (two a cell).
    const unsigned __int128 cellCount =
        std::max<unsigned __int128>(ScanlineMatcher::CellCount(W, dispH), w * static_cast<unsigned>((H + 1) / 2));
    Buffer flags, cells, scratch;
    if (!Allocate(flags, w * h) || !Allocate(cells, cellCount * sizeof(Cell)) ||
        !Allocate(scratch, ScanlineMatcher::ScratchBytes(W)))
        return errors.Fail(CV_StsNoMem, "Out of memory for the work buffers", __LINE__);
    auto* flagMap = static_cast<unsigned char*>(flags.data);
    auto* cellArray = static_cast<Cell*>(cells.data);

    ScanlineMatcher matcher(W, maxD, penalty, reward, cellArray, scratch.data);
    const std::size_t s = static_cast<std::size_t>(stride);
    for (int y = 0; y < H; ++y)
        detail::ScanlineEdgeFlags(left + y * s, right + y * s, W, flagMap + static_cast<std::size_t>(y) * W);
    for (int y = 0; y < H; y += ScanlineMatcher::kLanes) {
        // The last lines repeat in the spare lanes.
        std::size_t offsets[ScanlineMatcher::kLanes], flagOffsets[ScanlineMatcher::kLanes];
        for (int i = 0; i < ScanlineMatcher::kLanes; ++i) {
            const auto line = static_cast<std::size_t>(std::min(y + i, H - 1));
            offsets[i] = line * s;
            flagOffsets[i] = line * W;
        }
        matcher.Match(left, right, flagMap, disparities, offsets, flagOffsets);
    }

    detail::SmoothAndMarkVerticalEdges(left, disparities, stride, W, H, flagMap);
    // The path table is done with; its memory now holds the run lengths.
    detail::PropagateReliableDisparities(disparities, stride, W, H, flagMap, reinterpret_cast<std::int32_t*>(cellArray),
                                         RoundThreshold(reliableThreshold), RoundThreshold(seedThreshold),
                                         RoundThreshold(weakSeedThreshold));
}

}  // namespace CV
