#pragma once
// Basic Win32 types with the platform's sizes. long is 64-bit on Linux, so the
// 32-bit types are spelled with fixed-width integers.
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = int;
using BOOL = int;
using COLORREF = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LPCSTR = const char*;
using LPSTR = char*;
using LPCTSTR = const char*;
using LPTSTR = char*;
using LPVOID = void*;
using HANDLE = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Handles are opaque: a window handle names an entry in the window table.
struct HWND__;
using HWND = HWND__*;

// GDI objects and device contexts name entries of the GDI object table.
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HDC = HGDIOBJ;
using HRGN = HGDIOBJ;
using HBITMAP = HGDIOBJ;
using HFONT = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HPEN = HGDIOBJ;
using HICON = HGDIOBJ;
using HCURSOR = HGDIOBJ;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct POINT {
  LONG x;
  LONG y;
};

struct SIZE {
  LONG cx;
  LONG cy;
};

using LPRECT = RECT*;
using LPCRECT = const RECT*;
using LPPOINT = POINT*;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

#define RGB(r, g, b) \
  (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<COLORREF>(static_cast<BYTE>(g)) << 8) | (static_cast<COLORREF>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>((c) & 0xFF))
#define GetGValue(c) (static_cast<BYTE>(((c) >> 8) & 0xFF))
#define GetBValue(c) (static_cast<BYTE>(((c) >> 16) & 0xFF))
