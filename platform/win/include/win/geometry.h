#pragma once
// The MFC value classes over RECT, POINT and SIZE. Rectangles are half-open:
// right and bottom lie just outside.
#include <algorithm>

#include "win/types.h"

class CSize : public SIZE {
 public:
  CSize() : SIZE{0, 0} {}
  CSize(int x, int y) : SIZE{x, y} {}
  CSize(SIZE s) : SIZE(s) {}
  bool operator==(const SIZE& o) const { return cx == o.cx && cy == o.cy; }
  bool operator!=(const SIZE& o) const { return !(*this == o); }
};

class CPoint : public POINT {
 public:
  CPoint() : POINT{0, 0} {}
  CPoint(int px, int py) : POINT{px, py} {}
  CPoint(POINT p) : POINT(p) {}
  void Offset(int dx, int dy) { x += dx; y += dy; }
  void SetPoint(int px, int py) { x = px; y = py; }
  bool operator==(const POINT& o) const { return x == o.x && y == o.y; }
  bool operator!=(const POINT& o) const { return !(*this == o); }
  CPoint operator+(const SIZE& s) const { return CPoint(x + s.cx, y + s.cy); }
  CPoint operator-(const SIZE& s) const { return CPoint(x - s.cx, y - s.cy); }
  CPoint operator+(const POINT& p) const { return CPoint(x + p.x, y + p.y); }
  CSize operator-(const POINT& p) const { return CSize(x - p.x, y - p.y); }
  CPoint& operator+=(const SIZE& s) { x += s.cx; y += s.cy; return *this; }
  CPoint& operator-=(const SIZE& s) { x -= s.cx; y -= s.cy; return *this; }
};

class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  CRect(const RECT& r) : RECT(r) {}
  CRect(const RECT* r) : RECT(r ? *r : RECT{0, 0, 0, 0}) {}
  CRect(POINT p, SIZE s) : RECT{p.x, p.y, p.x + s.cx, p.y + s.cy} {}
  CRect(POINT tl, POINT br) : RECT{tl.x, tl.y, br.x, br.y} {}

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  CSize Size() const { return CSize(Width(), Height()); }
  CPoint TopLeft() const { return CPoint(left, top); }
  CPoint BottomRight() const { return CPoint(right, bottom); }
  CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
  void SetRectEmpty() { SetRect(0, 0, 0, 0); }
  void CopyRect(const RECT* r) { *this = CRect(r); }
  void OffsetRect(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
  void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
  void OffsetRect(SIZE s) { OffsetRect(s.cx, s.cy); }
  void MoveToXY(int x, int y) { OffsetRect(x - left, y - top); }
  void MoveToXY(POINT p) { MoveToXY(p.x, p.y); }
  void InflateRect(int dx, int dy) { left -= dx; top -= dy; right += dx; bottom += dy; }
  void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
  void NormalizeRect() {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
  }
  BOOL IntersectRect(const RECT* a, const RECT* b) {
    left = std::max(a->left, b->left);
    top = std::max(a->top, b->top);
    right = std::min(a->right, b->right);
    bottom = std::min(a->bottom, b->bottom);
    if (IsRectEmpty()) { SetRectEmpty(); return FALSE; }
    return TRUE;
  }
  BOOL UnionRect(const RECT* a, const RECT* b) {
    const CRect ra(a), rb(b);
    if (ra.IsRectEmpty()) { *this = rb; return !rb.IsRectEmpty(); }
    if (rb.IsRectEmpty()) { *this = ra; return TRUE; }
    SetRect(std::min(ra.left, rb.left), std::min(ra.top, rb.top), std::max(ra.right, rb.right),
            std::max(ra.bottom, rb.bottom));
    return TRUE;
  }
  bool operator==(const RECT& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const RECT& o) const { return !(*this == o); }
  operator LPRECT() { return this; }
  operator LPCRECT() const { return this; }
};

inline BOOL SetRect(RECT* r, int l, int t, int ri, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, ri, b};
  return TRUE;
}
inline BOOL PtInRect(const RECT* r, POINT p) { return r && CRect(r).PtInRect(p) ? TRUE : FALSE; }
inline BOOL OffsetRect(RECT* r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx; r->right += dx; r->top += dy; r->bottom += dy;
  return TRUE;
}
inline BOOL IntersectRect(RECT* out, const RECT* a, const RECT* b) {
  CRect r;
  const BOOL ok = r.IntersectRect(a, b);
  *out = r;
  return ok;
}
