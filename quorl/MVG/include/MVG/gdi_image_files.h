#pragma once
// Image files through the GDI+ stand-in: load into a pixel buffer with a
// bitmap over it, save by extension, capture a window, and hit tests.
// Paths may be old-form ("C:\dir\a.png"); they are mapped.
#include "gdiplus/bitmap.h"
#include "gdiplus/types.h"
#include "win/types.h"

namespace GDI {

Gdiplus::RectF GetRectF(RECT* r);

// Both edges inclusive.
bool IsPointInRect(int x, int y, RECT* r);
bool IsPointInRect(int x, int y, Gdiplus::RectF* r);

// Loads an image file as 24bppRGB (bytes B, G, R) or, when the file has alpha
// or a transparent colour, 32bppARGB (not premultiplied); stride is a
// multiple of 4. With *pixels null the buffer is made here with new[]; the
// caller frees it with delete[] after deleting the bitmap, which lies over
// it and does not own it. With *pixels set, width, height and stride
// describe that buffer; an image larger than it is refused and the buffer is
// left untouched. On any failure: width, height and stride 0, *pixels null
// when it was null, and a bitmap whose last status is the error.
Gdiplus::Bitmap* LoadBitmapA(const char* path, unsigned char** pixels, int& width, int& height,
                             int& stride);

// "tif", "jpg", "bmp", "png", "gif" (exact, case-sensitive); else null.
const char* GetEncoderMime(const char* extension);

// Index in GetImageEncoders' list and its class id in *clsid; -1 (and *clsid
// unchanged) when none matches or mime is null.
int GetEncoderClsid(const char* mime, GUID* clsid);

// 0 when written; else the non-zero status, also kept as the bitmap's last
// status. An extension without an encoder writes no file.
int SaveImage(const char* path, Gdiplus::Bitmap* bitmap, const char* extension);

// Saves the window's client area; width < 1 at the client size, else
// stretched (filtered) to width x height. True when written; false for an
// unknown window, no window-surface source, a height < 1 with width >= 1, or
// a failed save.
bool SaveWindowAsImage(HWND window, int ignored, const char* path, const char* extension,
                       int width, int height);

}  // namespace GDI
