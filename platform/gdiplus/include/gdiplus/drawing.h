#pragma once
// Drawing tools of the GDI+ stand-in: colours, pens, brushes, fonts and
// string formats, painted through QPainter.
#include <memory>
#include <string>

#include "gdiplus/types.h"

namespace Gdiplus {

class Graphics;

using ARGB = std::uint32_t;

class Color {
 public:
  Color() = default;
  Color(BYTE r, BYTE g, BYTE b) : argb_(MakeARGB(255, r, g, b)) {}
  Color(BYTE a, BYTE r, BYTE g, BYTE b) : argb_(MakeARGB(a, r, g, b)) {}
  Color(ARGB argb) : argb_(argb) {}  // NOLINT: the platform converts implicitly
  BYTE GetA() const { return static_cast<BYTE>(argb_ >> 24); }
  BYTE GetR() const { return static_cast<BYTE>(argb_ >> 16); }
  BYTE GetG() const { return static_cast<BYTE>(argb_ >> 8); }
  BYTE GetB() const { return static_cast<BYTE>(argb_); }
  ARGB GetValue() const { return argb_; }
  void SetValue(ARGB argb) { argb_ = argb; }
  void SetFromCOLORREF(COLORREF c) { argb_ = MakeARGB(255, GetRValue(c), GetGValue(c), GetBValue(c)); }
  COLORREF ToCOLORREF() const { return RGB(GetR(), GetG(), GetB()); }
  static ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b) {
    return (static_cast<ARGB>(a) << 24) | (static_cast<ARGB>(r) << 16) | (static_cast<ARGB>(g) << 8) | b;
  }
  enum : ARGB { Black = 0xFF000000, White = 0xFFFFFFFF, Red = 0xFFFF0000, Green = 0xFF008000, Blue = 0xFF0000FF, Transparent = 0x00FFFFFF };

 private:
  ARGB argb_ = 0xFF000000;
};

enum Unit { UnitWorld = 0, UnitDisplay = 1, UnitPixel = 2, UnitPoint = 3, UnitInch = 4, UnitDocument = 5, UnitMillimeter = 6 };

enum FontStyle {
  FontStyleRegular = 0,
  FontStyleBold = 1,
  FontStyleItalic = 2,
  FontStyleBoldItalic = 3,
  FontStyleUnderline = 4,
  FontStyleStrikeout = 8
};

enum StringAlignment { StringAlignmentNear = 0, StringAlignmentCenter = 1, StringAlignmentFar = 2 };

enum StringFormatFlags {
  StringFormatFlagsDirectionRightToLeft = 0x0001,
  StringFormatFlagsDirectionVertical = 0x0002,
  StringFormatFlagsNoWrap = 0x1000,
  StringFormatFlagsNoClip = 0x4000,
};

class Brush {
 public:
  virtual ~Brush() = default;
  Color GetColor() const { return colour_; }

 protected:
  explicit Brush(const Color& c) : colour_(c) {}
  Color colour_;
};

class SolidBrush : public Brush {
 public:
  explicit SolidBrush(const Color& c) : Brush(c) {}
  Status SetColor(const Color& c) {
    colour_ = c;
    return Ok;
  }
  Status GetColor(Color* c) const {
    if (!c) return InvalidParameter;
    *c = colour_;
    return Ok;
  }
};

class Pen {
 public:
  explicit Pen(const Color& c, REAL width = 1.0f) : colour_(c), width_(width) {}
  Status SetColor(const Color& c) {
    colour_ = c;
    return Ok;
  }
  Status SetWidth(REAL w) {
    width_ = w;
    return Ok;
  }
  Color GetColor() const { return colour_; }
  REAL GetWidth() const { return width_; }

 private:
  Color colour_;
  REAL width_;
};

// A family name with a style word ("Verdana Bold") names the family and
// adds the style.
class Font {
 public:
  Font(const WCHAR* family, REAL emSize, INT style = FontStyleRegular, Unit unit = UnitPoint);
  Font(const char* family, REAL emSize, INT style = FontStyleRegular, Unit unit = UnitPoint);
  const std::string& Family() const { return family_; }
  INT GetStyle() const { return style_; }
  REAL GetSize() const { return size_; }
  Unit GetUnit() const { return unit_; }
  // The em size in pixels at 96 dpi.
  REAL PixelSize() const;
  // The line spacing in pixels: how far apart the lines of a text drawn in
  // this font stand (the graphics draws at 96 dpi).
  REAL GetHeight(const Graphics* graphics) const;
  REAL GetHeight(REAL dpi) const;
  BOOL IsAvailable() const { return TRUE; }
  Status GetLastStatus() const { return Ok; }

 private:
  void Init(std::string family, REAL emSize, INT style, Unit unit);
  std::string family_;
  REAL size_ = 0;
  INT style_ = 0;
  Unit unit_ = UnitPoint;
};

class StringFormat {
 public:
  explicit StringFormat(INT flags = 0) : flags_(flags) {}
  Status SetAlignment(StringAlignment a) {
    align_ = a;
    return Ok;
  }
  Status SetLineAlignment(StringAlignment a) {
    lineAlign_ = a;
    return Ok;
  }
  Status SetFormatFlags(INT flags) {
    flags_ = flags;
    return Ok;
  }
  StringAlignment GetAlignment() const { return align_; }
  StringAlignment GetLineAlignment() const { return lineAlign_; }
  INT GetFormatFlags() const { return flags_; }

 private:
  INT flags_;
  StringAlignment align_ = StringAlignmentNear;
  StringAlignment lineAlign_ = StringAlignmentNear;
};

}  // namespace Gdiplus
