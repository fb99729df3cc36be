#pragma once
// Growing a person box along the projections of the fine (4 x 4) cell
// counts. Internal to the person tracker; separate so its rules can be
// tested on crafted projections.
namespace CV::PeopleTracking::detail {

// Fine-cell bounds: top and left may be -1, bottom and right may be the
// projection length (the scan ran off the edge).
struct FineBox {
    int top;
    int bottom;
    int left;
    int right;
};

// From the seed (fine row, fine column) every bound moves outwards while the
// projection there exceeds a tenth of its maximum; the scans start two fine
// cells from the seed.
FineBox GrowBox(const int* rows, int rowCount, int rowMax, const int* columns, int columnCount, int columnMax,
                int seedRow, int seedColumn);

// In pixels (4 per fine cell): taller than 40 and wider than 30.
bool Accepted(int widthPixels, int heightPixels);
// 1 tall (width - height < -20), 2 otherwise.
int Shape(int widthPixels, int heightPixels);

}  // namespace CV::PeopleTracking::detail
