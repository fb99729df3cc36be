#include "quorlmfc/mem_dc.h"

CMemDC::CMemDC(CDC* dc, const CRect* rect) : dc_(dc), memory_(!dc->IsPrinting()) {
  if (rect) rect_ = *rect;
  else dc->GetClipBox(&rect_);
  if (memory_) {
    CreateCompatibleDC(dc);
    dc->LPtoDP(&rect_);
    bitmap_.CreateCompatibleBitmap(dc, rect_.Width(), rect_.Height());
    oldBitmap_ = SelectObject(&bitmap_);
    SetMapMode(dc->GetMapMode());
    SetWindowExt(dc->GetWindowExt());
    SetViewportExt(dc->GetViewportExt());
    dc->DPtoLP(&rect_);
    SetWindowOrg(rect_.left, rect_.top);
  } else {
    m_bPrinting = dc->m_bPrinting;
    m_hDC = dc->m_hDC;
    m_hAttribDC = dc->m_hAttribDC;
  }
  FillSolidRect(&rect_, dc->GetBkColor());
}

CMemDC::~CMemDC() {
  if (memory_) {
    dc_->BitBlt(rect_.left, rect_.top, rect_.Width(), rect_.Height(), this, rect_.left, rect_.top, SRCCOPY);
    SelectObject(oldBitmap_);
  } else {
    // Shared handles belong to the real device context.
    m_hDC = m_hAttribDC = nullptr;
  }
}
