#pragma once
// CMemDC: double buffering. Drawing goes to an off-screen bitmap that is
// copied onto the real device context when the object is destroyed; on a
// printing device context it draws directly.
#include "win/gdi.h"

class CMemDC : public CDC {
 public:
  explicit CMemDC(CDC* dc, const CRect* rect = nullptr);
  ~CMemDC() override;
  CMemDC* operator->() { return this; }
  operator CMemDC*() { return this; }

 private:
  CBitmap bitmap_;
  CBitmap* oldBitmap_ = nullptr;
  CDC* dc_;
  CRect rect_;
  BOOL memory_;
};
