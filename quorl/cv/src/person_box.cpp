#include "person_box.h"

#include <algorithm>
#include <cstdlib>

namespace CV::PeopleTracking::detail {
namespace {

// Half a fine cell of margin on each side of the seed.
constexpr int kHalf = 2;

void Grow(const int* projection, int count, int maximum, int seed, int& low, int& high) {
    const double threshold = 0.1 * maximum;
    low = std::max(0, seed - kHalf);
    while (low >= 0 && low < count && projection[low] > threshold) --low;
    high = std::min(count, seed + kHalf);
    while (high < count && projection[high] > threshold) ++high;
}

}  // namespace

FineBox GrowBox(const int* rows, int rowCount, int rowMax, const int* columns, int columnCount, int columnMax,
                int seedRow, int seedColumn) {
    FineBox box{};
    Grow(rows, rowCount, rowMax, seedRow, box.top, box.bottom);
    Grow(columns, columnCount, columnMax, seedColumn, box.left, box.right);
    return box;
}

bool Accepted(int widthPixels, int heightPixels) { return std::abs(heightPixels) > 40 && std::abs(widthPixels) > 30; }

int Shape(int widthPixels, int heightPixels) { return widthPixels - heightPixels < -20 ? 1 : 2; }

}  // namespace CV::PeopleTracking::detail
