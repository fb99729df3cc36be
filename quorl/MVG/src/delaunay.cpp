#include "delaunay.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace MVG {
namespace {

struct Edge {
  int p1, p2;
};

struct Circle {
  bool defined;
  double xc, yc, r;
};

// The determinant form, on coordinates relative to the first vertex so the
// test does not depend on where or how large the triangle is.
Circle CircleThrough(double x1, double y1, double x2, double y2, double x3, double y3) {
  const double bx = x2 - x1, by = y2 - y1, cx = x3 - x1, cy = y3 - y1;
  const double d = 2.0 * (bx * cy - by * cx);
  // Collinear within rounding: the cross product is lost in the error of its
  // two terms.
  if (!(std::fabs(d) > 8.0 * DBL_EPSILON * (std::fabs(bx * cy) + std::fabs(by * cx)))) return {false, 0, 0, 0};
  const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
  const double ux = (cy * b2 - by * c2) / d;
  const double uy = (bx * c2 - cx * b2) / d;
  return {true, x1 + ux, y1 + uy, std::sqrt(ux * ux + uy * uy)};
}

bool Inside(const Circle& c, double xp, double yp) {
  const double dx = xp - c.xc, dy = yp - c.yc;
  return dx * dx + dy * dy <= c.r * c.r;
}

}  // namespace

bool DelaunayCircumCircle(double xp, double yp, double x1, double y1, double x2, double y2, double x3, double y3,
                          double* xc, double* yc, double* r) {
  const Circle c = CircleThrough(x1, y1, x2, y2, x3, y3);
  if (!c.defined) return false;
  *xc = c.xc;
  *yc = c.yc;
  *r = c.r;
  return Inside(c, xp, yp);
}

int DelaunayCompareX(const void* a, const void* b) {
  const double xa = static_cast<const DelaunayVertex*>(a)->x, xb = static_cast<const DelaunayVertex*>(b)->x;
  return xa < xb ? -1 : xa > xb ? 1 : 0;
}

int DelaunayTriangulate(int nv, DelaunayVertex* pxyz, DelaunayTriangle* v, int* ntri) {
  *ntri = 0;
  // Fewer than three points have no triangle (and 4 nv leaves no room for
  // the enclosing one).
  if (nv < 3) return 0;
  const int trimax = 4 * nv;
  int* complete = static_cast<int*>(std::malloc(sizeof(int) * static_cast<size_t>(trimax)));
  if (!complete) return 1;
  int emax = 200;
  Edge* edges = static_cast<Edge*>(std::malloc(sizeof(Edge) * static_cast<size_t>(emax)));
  if (!edges) {
    std::free(complete);
    return 2;
  }
  // Every return below frees both buffers.
  auto finish = [&](int status) {
    std::free(edges);
    std::free(complete);
    return status;
  };

  double xmin = pxyz[0].x, ymin = pxyz[0].y, xmax = xmin, ymax = ymin;
  for (int i = 1; i < nv; ++i) {
    xmin = std::fmin(xmin, pxyz[i].x);
    xmax = std::fmax(xmax, pxyz[i].x);
    ymin = std::fmin(ymin, pxyz[i].y);
    ymax = std::fmax(ymax, pxyz[i].y);
  }
  const double dmax = std::fmax(xmax - xmin, ymax - ymin);
  const double xm = (xmax + xmin) / 2.0, ym = (ymax + ymin) / 2.0;
  pxyz[nv] = {xm - 20 * dmax, ym - dmax, 0.0};
  pxyz[nv + 1] = {xm, ym + 20 * dmax, 0.0};
  pxyz[nv + 2] = {xm + 20 * dmax, ym - dmax, 0.0};
  v[0] = {nv, nv + 1, nv + 2};
  complete[0] = 0;
  int count = 1;

  for (int i = 0; i < nv; ++i) {
    const double xp = pxyz[i].x, yp = pxyz[i].y;
    int nedge = 0;
    for (int j = 0; j < count; ++j) {
      if (complete[j]) continue;
      const DelaunayVertex& a = pxyz[v[j].p1];
      const DelaunayVertex& b = pxyz[v[j].p2];
      const DelaunayVertex& c = pxyz[v[j].p3];
      const Circle circle = CircleThrough(a.x, a.y, b.x, b.y, c.x, c.y);
      // A triangle without a circle is neither complete nor split.
      if (!circle.defined) continue;
      // Points come in increasing x: once one lies right of the circle,
      // none later can fall inside.
      if (circle.xc + circle.r < xp) complete[j] = 1;
      if (!Inside(circle, xp, yp)) continue;
      if (nedge + 3 >= emax) {
        emax += 100;
        Edge* grown = static_cast<Edge*>(std::realloc(edges, sizeof(Edge) * static_cast<size_t>(emax)));
        if (!grown) return finish(3);
        edges = grown;
      }
      edges[nedge++] = {v[j].p1, v[j].p2};
      edges[nedge++] = {v[j].p2, v[j].p3};
      edges[nedge++] = {v[j].p3, v[j].p1};
      v[j] = v[count - 1];
      complete[j] = complete[count - 1];
      --count;
      --j;
    }
    // An edge shared by two removed triangles is interior to the hole.
    for (int j = 0; j + 1 < nedge; ++j)
      for (int k = j + 1; k < nedge; ++k)
        if ((edges[j].p1 == edges[k].p2 && edges[j].p2 == edges[k].p1) ||
            (edges[j].p1 == edges[k].p1 && edges[j].p2 == edges[k].p2)) {
          edges[j] = {-1, -1};
          edges[k] = {-1, -1};
        }
    for (int j = 0; j < nedge; ++j) {
      if (edges[j].p1 < 0 || edges[j].p2 < 0) continue;
      if (count >= trimax) {
        *ntri = count;
        return finish(4);
      }
      v[count] = {edges[j].p1, edges[j].p2, i};
      complete[count] = 0;
      ++count;
    }
  }

  for (int i = 0; i < count; ++i)
    if (v[i].p1 >= nv || v[i].p2 >= nv || v[i].p3 >= nv) {
      v[i] = v[count - 1];
      --count;
      --i;
    }
  *ntri = count;
  return finish(0);
}

}  // namespace MVG
