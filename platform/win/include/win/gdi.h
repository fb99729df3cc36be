#pragma once
// The GDI subset: device contexts over window surfaces and memory bitmaps,
// bitmaps and DIB sections, brushes, pens, fonts, regions, blits, DIB
// transfers and text. Every pixel is 32-bit (in memory B, G, R, X); the
// alpha byte is carried but never shown.
#include <cstdint>

#include "win/cstring.h"
#include "win/draw_text_flags.h"
#include "win/geometry.h"
#include "win/types.h"

// Raster operations (only the ones used; others behave as SRCCOPY).
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int MM_TEXT = 1;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT IMAGE_CURSOR = 2;
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_LOADFROMFILE = 0x0010;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;

constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_NULL = 5;

// System colours.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;

// Font attributes.
constexpr int FW_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD OUT_TT_PRECIS = 4;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD NONANTIALIASED_QUALITY = 3;
constexpr DWORD ANTIALIASED_QUALITY = 4;
constexpr DWORD CLEARTYPE_QUALITY = 5;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD VARIABLE_PITCH = 2;
constexpr DWORD FF_DONTCARE = 0;
constexpr DWORD FF_SWISS = 0x20;

// Text drawing: DT_* in win/draw_text_flags.h.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
};
using TEXTMETRIC = TEXTMETRICA;

struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  char lfFaceName[32];
};
using LOGFONT = LOGFONTA;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};

// a * b / c rounded, in 64 bits; -1 when c is 0.
inline int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  const long long q = (p >= 0) == (c > 0) ? (p + (c > 0 ? c : -c) / 2) / c : (p - (c > 0 ? c : -c) / 2) / c;
  return static_cast<int>(q);
}

// Device contexts.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
HWND WindowFromDC(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
BOOL DeleteObject(HGDIOBJ obj);
HGDIOBJ GetStockObject(int which);
int GetObjectA(HGDIOBJ obj, int size, void* out);
inline int GetObject(HGDIOBJ obj, int size, void* out) { return GetObjectA(obj, size, out); }
int SaveDC(HDC hdc);
BOOL RestoreDC(HDC hdc, int saved);

COLORREF SetTextColor(HDC hdc, COLORREF c);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF c);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
UINT SetTextAlign(HDC hdc, UINT align);
int SetStretchBltMode(HDC hdc, int mode);
int SetMapMode(HDC hdc, int mode);
int GetMapMode(HDC hdc);
BOOL SetWindowOrgEx(HDC hdc, int x, int y, POINT* old);
BOOL GetWindowOrgEx(HDC hdc, POINT* out);
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* old);
BOOL GetViewportOrgEx(HDC hdc, POINT* out);
BOOL LPtoDP(HDC hdc, POINT* pts, int n);
BOOL DPtoLP(HDC hdc, POINT* pts, int n);
int GetClipBox(HDC hdc, RECT* out);
int SelectClipRgn(HDC hdc, HRGN rgn);
int IntersectClipRect(HDC hdc, int l, int t, int r, int b);
BOOL PtVisible(HDC hdc, int x, int y);
BOOL RectVisible(HDC hdc, const RECT* r);

// Bitmaps.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits);
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
HANDLE LoadImageA(HINSTANCE inst, const char* name, UINT type, int cx, int cy, UINT flags);
inline HANDLE LoadImage(HINSTANCE inst, const char* name, UINT type, int cx, int cy, UINT flags) {
  return LoadImageA(inst, name, type, cx, cy, flags);
}
#define MAKEINTRESOURCE(i) (reinterpret_cast<const char*>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define MAKEINTRESOURCEA(i) MAKEINTRESOURCE(i)
#define IS_INTRESOURCE(p) ((reinterpret_cast<std::uintptr_t>(p) >> 16) == 0)

// Pixels and blits.
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF c);
BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop);
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* bmi, UINT usage);
int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
                  int hSrc, const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop);

// Brushes, pens, filled shapes and lines.
HBRUSH CreateSolidBrush(COLORREF c);
HPEN CreatePen(int style, int width, COLORREF c);
COLORREF GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);
int FillRect(HDC hdc, const RECT* r, HBRUSH brush);
int FrameRect(HDC hdc, const RECT* r, HBRUSH brush);
BOOL Rectangle(HDC hdc, int l, int t, int r, int b);
BOOL Ellipse(HDC hdc, int l, int t, int r, int b);
BOOL MoveToEx(HDC hdc, int x, int y, POINT* old);
BOOL LineTo(HDC hdc, int x, int y);
BOOL DrawIcon(HDC hdc, int x, int y, HICON icon);
// Icons are made from a 32-bit colour bitmap whose fourth byte is alpha (the
// mask is not used); the icon keeps its own copy of the pixels.
struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};
HICON CreateIconIndirect(const ICONINFO* info);
BOOL DestroyIcon(HICON icon);

// Regions.
HRGN CreateRectRgn(int l, int t, int r, int b);
HRGN CreateEllipticRgn(int l, int t, int r, int b);
HRGN CreateRoundRectRgn(int l, int t, int r, int b, int w, int h);
int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode);
BOOL PtInRegion(HRGN rgn, int x, int y);
int GetRgnBox(HRGN rgn, RECT* out);
int OffsetRgn(HRGN rgn, int dx, int dy);
BOOL EqualRgn(HRGN a, HRGN b);

// Fonts and text.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* face);
inline HFONT CreateFont(int h, int w, int e, int o, int weight, DWORD i, DWORD u, DWORD s, DWORD cs,
                        DWORD op, DWORD cp, DWORD q, DWORD pf, const char* face) {
  return CreateFontA(h, w, e, o, weight, i, u, s, cs, op, cp, q, pf, face);
}
HFONT CreateFontIndirectA(const LOGFONTA* lf);
BOOL TextOutA(HDC hdc, int x, int y, const char* s, int n);
BOOL ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* r, const char* s, UINT n, const int* dx);
int DrawTextA(HDC hdc, const char* s, int n, RECT* r, UINT format);
BOOL GetTextExtentPoint32A(HDC hdc, const char* s, int n, SIZE* out);
BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* out);
inline BOOL TextOut(HDC hdc, int x, int y, const char* s, int n) { return TextOutA(hdc, x, y, s, n); }
inline int DrawText(HDC hdc, const char* s, int n, RECT* r, UINT f) { return DrawTextA(hdc, s, n, r, f); }
inline BOOL GetTextExtentPoint32(HDC hdc, const char* s, int n, SIZE* o) {
  return GetTextExtentPoint32A(hdc, s, n, o);
}

namespace win {
// Live GDI objects made by the program: bitmaps, brushes, pens, fonts and
// regions, stock objects and device contexts not counted. The table keeps a
// leaked object reachable, so tests compare this count instead.
int LiveGdiObjectCount();
// Marks a device context as a printer's; none made here is one.
void SetPrinting(HDC hdc, bool printing);
bool IsPrinting(HDC hdc);
}  // namespace win

// MFC wrappers.
class CWnd;

class CGdiObject {
 public:
  CGdiObject() = default;
  virtual ~CGdiObject();
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  HGDIOBJ m_hObject = nullptr;
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HGDIOBJ() const { return m_hObject; }
  BOOL Attach(HGDIOBJ h);
  HGDIOBJ Detach();
  BOOL DeleteObject();
  int GetObject(int size, void* out) const { return ::GetObjectA(m_hObject, size, out); }
  // A wrapper for a handle this object does not own; valid until the handle is deleted.
  static CGdiObject* FromHandle(HGDIOBJ h);
};

class CBitmap : public CGdiObject {
 public:
  static CBitmap* FromHandle(HBITMAP h) { return static_cast<CBitmap*>(CGdiObject::FromHandle(h)); }
  BOOL CreateCompatibleBitmap(class CDC* dc, int w, int h);
  BOOL CreateBitmap(int w, int h, UINT planes, UINT bits, const void* data);
  int GetBitmap(BITMAP* bm) const { return GetObject(sizeof(BITMAP), bm); }
  operator HBITMAP() const { return m_hObject; }
};

class CBrush : public CGdiObject {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
  BOOL CreateSolidBrush(COLORREF c);
  static CBrush* FromHandle(HBRUSH h) { return static_cast<CBrush*>(CGdiObject::FromHandle(h)); }
  operator HBRUSH() const { return m_hObject; }
};

class CPen : public CGdiObject {
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF c) { CreatePen(style, width, c); }
  BOOL CreatePen(int style, int width, COLORREF c);
  operator HPEN() const { return m_hObject; }
};

class CFont : public CGdiObject {
 public:
  BOOL CreateFont(int h, int w, int e, int o, int weight, BYTE i, BYTE u, BYTE s, BYTE cs, BYTE op,
                  BYTE cp, BYTE q, BYTE pf, const char* face);
  BOOL CreateFontIndirect(const LOGFONTA* lf);
  BOOL CreatePointFont(int tenthsOfPoint, const char* face, class CDC* dc = nullptr);
  static CFont* FromHandle(HFONT h) { return static_cast<CFont*>(CGdiObject::FromHandle(h)); }
  operator HFONT() const { return m_hObject; }
};

class CRgn : public CGdiObject {
 public:
  BOOL CreateRectRgn(int l, int t, int r, int b);
  BOOL CreateRectRgnIndirect(const RECT* r) { return CreateRectRgn(r->left, r->top, r->right, r->bottom); }
  BOOL CreateEllipticRgn(int l, int t, int r, int b);
  BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h);
  int CombineRgn(const CRgn* a, const CRgn* b, int mode);
  int CopyRgn(const CRgn* src);
  BOOL PtInRegion(int x, int y) const { return ::PtInRegion(m_hObject, x, y); }
  BOOL PtInRegion(POINT p) const { return PtInRegion(p.x, p.y); }
  int GetRgnBox(RECT* r) const { return ::GetRgnBox(m_hObject, r); }
  int OffsetRgn(int dx, int dy) { return ::OffsetRgn(m_hObject, dx, dy); }
  static CRgn* FromHandle(HRGN h) { return static_cast<CRgn*>(CGdiObject::FromHandle(h)); }
  operator HRGN() const { return m_hObject; }
};

class CDC {
 public:
  CDC() = default;
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;
  BOOL m_bPrinting = FALSE;

  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  BOOL Attach(HDC h);
  HDC Detach();
  virtual BOOL DeleteDC();
  BOOL CreateCompatibleDC(CDC* dc);
  // A wrapper for a handle this object does not own.
  static CDC* FromHandle(HDC h);
  BOOL IsPrinting() const { return m_bPrinting; }
  int GetDeviceCaps(int i) const { return ::GetDeviceCaps(m_hDC, i); }
  CWnd* GetWindow() const;

  CGdiObject* SelectObject(CGdiObject* obj);
  CBitmap* SelectObject(CBitmap* b) { return static_cast<CBitmap*>(SelectObject(static_cast<CGdiObject*>(b))); }
  CFont* SelectObject(CFont* f) { return static_cast<CFont*>(SelectObject(static_cast<CGdiObject*>(f))); }
  CBrush* SelectObject(CBrush* b) { return static_cast<CBrush*>(SelectObject(static_cast<CGdiObject*>(b))); }
  CPen* SelectObject(CPen* p) { return static_cast<CPen*>(SelectObject(static_cast<CGdiObject*>(p))); }
  CGdiObject* SelectStockObject(int which);
  CFont* GetCurrentFont() const;
  int SaveDC() { return ::SaveDC(m_hDC); }
  BOOL RestoreDC(int s) { return ::RestoreDC(m_hDC, s); }

  COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
  COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
  COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
  COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
  int SetBkMode(int m) { return ::SetBkMode(m_hDC, m); }
  int GetBkMode() const { return ::GetBkMode(m_hDC); }
  UINT SetTextAlign(UINT a) { return ::SetTextAlign(m_hDC, a); }
  int SetStretchBltMode(int m) { return ::SetStretchBltMode(m_hDC, m); }

  int SetMapMode(int m) { return ::SetMapMode(m_hDC, m); }
  int GetMapMode() const { return ::GetMapMode(m_hDC); }
  CPoint SetWindowOrg(int x, int y) { POINT p{}; ::SetWindowOrgEx(m_hDC, x, y, &p); return p; }
  CPoint SetWindowOrg(POINT p) { return SetWindowOrg(p.x, p.y); }
  CPoint GetWindowOrg() const { POINT p{}; ::GetWindowOrgEx(m_hDC, &p); return p; }
  CPoint SetViewportOrg(int x, int y) { POINT p{}; ::SetViewportOrgEx(m_hDC, x, y, &p); return p; }
  CPoint GetViewportOrg() const { POINT p{}; ::GetViewportOrgEx(m_hDC, &p); return p; }
  // Only MM_TEXT exists here: extents are always 1:1.
  CSize SetWindowExt(int, int) { return CSize(1, 1); }
  CSize SetWindowExt(SIZE) { return CSize(1, 1); }
  CSize GetWindowExt() const { return CSize(1, 1); }
  CSize SetViewportExt(int, int) { return CSize(1, 1); }
  CSize SetViewportExt(SIZE) { return CSize(1, 1); }
  CSize GetViewportExt() const { return CSize(1, 1); }
  void LPtoDP(LPRECT r) const { ::LPtoDP(m_hDC, reinterpret_cast<POINT*>(r), 2); }
  void DPtoLP(LPRECT r) const { ::DPtoLP(m_hDC, reinterpret_cast<POINT*>(r), 2); }
  void LPtoDP(LPPOINT p, int n = 1) const { ::LPtoDP(m_hDC, p, n); }
  void DPtoLP(LPPOINT p, int n = 1) const { ::DPtoLP(m_hDC, p, n); }
  int GetClipBox(LPRECT r) const { return ::GetClipBox(m_hDC, r); }
  int SelectClipRgn(CRgn* r) { return ::SelectClipRgn(m_hDC, r ? r->m_hObject : nullptr); }
  int IntersectClipRect(int l, int t, int r, int b) { return ::IntersectClipRect(m_hDC, l, t, r, b); }
  int IntersectClipRect(LPCRECT r) { return IntersectClipRect(r->left, r->top, r->right, r->bottom); }
  virtual BOOL PtVisible(int x, int y) const { return ::PtVisible(m_hDC, x, y); }
  BOOL PtVisible(POINT p) const { return PtVisible(p.x, p.y); }
  virtual BOOL RectVisible(LPCRECT r) const { return ::RectVisible(m_hDC, r); }

  COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
  COLORREF GetPixel(POINT p) const { return GetPixel(p.x, p.y); }
  COLORREF SetPixel(int x, int y, COLORREF c) { return ::SetPixel(m_hDC, x, y, c); }
  COLORREF SetPixel(POINT p, COLORREF c) { return SetPixel(p.x, p.y, c); }
  BOOL SetPixelV(int x, int y, COLORREF c) { ::SetPixel(m_hDC, x, y, c); return TRUE; }
  BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, rop);
  }
  BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
    return ::StretchBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, sw, sh, rop);
  }
  void FillRect(LPCRECT r, CBrush* b) { ::FillRect(m_hDC, r, b ? b->m_hObject : nullptr); }
  void FrameRect(LPCRECT r, CBrush* b) { ::FrameRect(m_hDC, r, b ? b->m_hObject : nullptr); }
  void FillSolidRect(LPCRECT r, COLORREF c);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF c) {
    const CRect r(x, y, x + cx, y + cy);
    FillSolidRect(&r, c);
  }
  void Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight);
  void Draw3dRect(int x, int y, int cx, int cy, COLORREF tl, COLORREF br) {
    const CRect r(x, y, x + cx, y + cy);
    Draw3dRect(&r, tl, br);
  }
  void DrawFocusRect(LPCRECT r);
  BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
  BOOL Rectangle(LPCRECT r) { return Rectangle(r->left, r->top, r->right, r->bottom); }
  BOOL Ellipse(int l, int t, int r, int b) { return ::Ellipse(m_hDC, l, t, r, b); }
  BOOL Ellipse(LPCRECT r) { return Ellipse(r->left, r->top, r->right, r->bottom); }
  CPoint MoveTo(int x, int y) { POINT p{}; ::MoveToEx(m_hDC, x, y, &p); return p; }
  CPoint MoveTo(POINT p) { return MoveTo(p.x, p.y); }
  BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
  BOOL LineTo(POINT p) { return LineTo(p.x, p.y); }
  BOOL DrawIcon(int x, int y, HICON i) { return ::DrawIcon(m_hDC, x, y, i); }

  virtual BOOL TextOut(int x, int y, const char* s, int n);
  BOOL TextOut(int x, int y, const CString& s) { return TextOut(x, y, s.GetString(), s.GetLength()); }
  virtual BOOL ExtTextOut(int x, int y, UINT options, LPCRECT r, const char* s, UINT n, const int* dx);
  BOOL ExtTextOut(int x, int y, UINT options, LPCRECT r, const CString& s, const int* dx) {
    return ExtTextOut(x, y, options, r, s.GetString(), static_cast<UINT>(s.GetLength()), dx);
  }
  virtual CSize TabbedTextOut(int x, int y, const char* s, int n, int tabs, const int* tabStops, int origin);
  virtual int DrawText(const char* s, int n, LPRECT r, UINT format);
  int DrawText(const CString& s, LPRECT r, UINT format) { return DrawText(s.GetString(), s.GetLength(), r, format); }
  virtual int DrawTextEx(char* s, int n, LPRECT r, UINT format, void* params);
  virtual BOOL GrayString(CBrush* brush, BOOL (*output)(HDC, LPARAM, int), LPARAM data, int n, int x,
                          int y, int w, int h);
  virtual int Escape(int escape, int count, const char* in, void* out);
  CSize GetTextExtent(const char* s, int n) const;
  CSize GetTextExtent(const CString& s) const { return GetTextExtent(s.GetString(), s.GetLength()); }
  CSize GetOutputTextExtent(const CString& s) const { return GetTextExtent(s); }
  BOOL GetTextMetrics(TEXTMETRICA* tm) const { return ::GetTextMetricsA(m_hDC, tm); }

 protected:
  bool m_bOwnsHandle = false;
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(class CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};

 protected:
  HWND m_hWnd = nullptr;
};

class CClientDC : public CDC {
 public:
  explicit CClientDC(class CWnd* wnd);
  ~CClientDC() override;

 protected:
  HWND m_hWnd = nullptr;
};

using CWindowDC = CClientDC;
