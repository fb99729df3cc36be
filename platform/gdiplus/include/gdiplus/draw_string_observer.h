#pragma once
// A test seam: an observer told of every string a Graphics draws, so tests
// read texts and where they were laid out instead of comparing glyph pixels
// (the fonts the program names may be missing here and are substituted).
#include <string>

#include "gdiplus/drawing.h"
#include "gdiplus/types.h"

namespace gdiplus {

struct DrawStringCall {
  std::wstring text;
  // The layout rectangle as given; a point origin has width and height 0.
  Gdiplus::RectF layout;
  INT formatFlags = 0;
  Gdiplus::StringAlignment alignment = Gdiplus::StringAlignmentNear;
  Gdiplus::StringAlignment lineAlignment = Gdiplus::StringAlignmentNear;
};

class DrawStringObserver {
 public:
  virtual ~DrawStringObserver() = default;
  // Called on the drawing thread for each string actually drawn (valid
  // arguments, a usable target), before its pixels are painted.
  virtual void OnDrawString(const DrawStringCall& call) = 0;
};

// Installs the observer (null removes it) and returns the previous one. Safe
// from any thread; the observer must outlive its registration.
DrawStringObserver* SetDrawStringObserver(DrawStringObserver* observer);
DrawStringObserver* GetDrawStringObserver();

}  // namespace gdiplus
