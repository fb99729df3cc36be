#pragma once
// Internal 2-D Delaunay triangulation by incremental insertion (not part of
// the library's interface).
//
// The vertex array holds nv points sorted by increasing x (see
// DelaunayCompareX) and room for three more: the enclosing triangle is
// stored there. The triangle array must hold 4 nv triangles. Result: 0 with
// *ntri triangles written (vertex indices into the array), 1 or 2 when a
// buffer cannot be allocated, 3 when the edge buffer cannot grow, 4 when the
// triangle count would pass 4 nv. Fewer than 3 points give no triangle.
//
// The enclosing triangle sits at 20 times the points' extent; triangles along
// the hull that would need a farther vertex may be missing, but every
// triangle returned has an empty circumcircle.

namespace MVG {

struct DelaunayVertex {
  double x, y, z;  // z is carried along, not used
};

struct DelaunayTriangle {
  int p1, p2, p3;
};

int DelaunayTriangulate(int nv, DelaunayVertex* vertices, DelaunayTriangle* triangles, int* ntri);

// True when (xp, yp) lies inside or on the circumcircle of the triangle;
// writes the centre and radius. A triangle collinear within rounding has no
// circle: false, and nothing written.
bool DelaunayCircumCircle(double xp, double yp, double x1, double y1, double x2, double y2, double x3, double y3,
                          double* xc, double* yc, double* r);

// qsort order of two DelaunayVertex by x: -1, 0 or 1.
int DelaunayCompareX(const void* a, const void* b);

}  // namespace MVG
