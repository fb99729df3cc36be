#include "quorlmfc/hover_button_ex.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "MVG/gdi_image_files.h"
#include "quorlmfc/win_dib.h"
#include "win/app.h"

const CRuntimeClass CHoverButtonEx::classCHoverButtonEx = {"CHoverButtonEx", &CBitmapButton::classCBitmapButton};

BEGIN_MESSAGE_MAP(CHoverButtonEx, CBitmapButton)
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_MESSAGE(WM_MOUSEHOVER, OnMouseHover)
ON_WM_RBUTTONDOWN()
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

namespace {
std::uint32_t SwapRedBlue(std::uint32_t p) { return (p & 0xFF00FF00u) | ((p >> 16) & 0xFF) | ((p & 0xFF) << 16); }
}  // namespace

CHoverButtonEx::CHoverButtonEx() = default;

CHoverButtonEx::~CHoverButtonEx() {
  DeleteToolTip();
  delete[] m_pBkPixels;
  FreeStrip();
  delete m_pTracker;
  // The window goes before the region and bitmaps it uses.
  if (m_hWnd) DestroyWindow();
}

std::uint32_t CHoverButtonEx::BlendPixel(std::uint32_t s, std::uint32_t bg) {
  const std::uint32_t a = s >> 24;
  if (a == 0) return bg;
  const std::uint32_t b = 255 - a;
  const std::uint32_t rb = (((bg & 0xFF00FF) * b + (s & 0xFF00FF) * a) >> 8) & 0xFF00FF;
  const std::uint32_t g = (((bg & 0x00FF00) * b + (s & 0x00FF00) * a) >> 8) & 0x00FF00;
  return (a << 24) | rb | g;
}

int CHoverButtonEx::ChooseFrame(UINT state, bool hovering, bool enabled) {
  if (state & ODS_SELECTED) return 1;
  if (hovering) return 2;
  return enabled ? 0 : 3;
}

std::uint32_t CHoverButtonEx::ColorrefToArgb(COLORREF c) {
  return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}

void CHoverButtonEx::SetRegion(HRGN region) {
  if (!m_rgn.m_hObject) m_rgn.CreateRectRgn(0, 0, 0, 0);
  m_bRegionSet = TRUE;
  if (!region) {
    // Nothing to clip to: the whole button shows, its strip still drawn
    // with alpha over the background. (An empty copy would hide it.)
    SetWindowRgn(nullptr, FALSE);
    return;
  }
  m_rgn.CopyRgn(CRgn::FromHandle(region));
  // The window gets its own copy: it owns and frees what it is given.
  HRGN copy = CreateRectRgn(0, 0, 0, 0);
  CombineRgn(copy, m_rgn, nullptr, RGN_COPY);
  SetWindowRgn(copy, FALSE);
}

void CHoverButtonEx::MakeOwnerDrawn() {
  const UINT style = GetButtonStyle();
  if (!(style & 0x0B)) SendMessage(BM_SETSTYLE, (style & 0xFF) | 0x0B, TRUE);
}

void CHoverButtonEx::SetFrameSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    m_nFrameWidth = m_nFrameHeight = 0;
    return;
  }
  m_nFrameWidth = m_bHorizontal ? width / 4 : width;
  m_nFrameHeight = m_bHorizontal ? height : height / 4;
  SetWindowPos(nullptr, 0, 0, m_nFrameWidth, m_nFrameHeight, SWP_NOMOVE | SWP_NOOWNERZORDER);
}

void CHoverButtonEx::FreeStrip() {
  if (m_bStripOwned) delete[] m_pStrip;
  m_pStrip = nullptr;
  m_bStripOwned = false;
  m_nStripWidth = m_nStripHeight = 0;
}

BOOL CHoverButtonEx::LoadImageStrip(const char* path) {
  MakeOwnerDrawn();
  // The latest image wins: a strip replaces any bitmap and earlier strip.
  FreeStrip();
  m_bitmap.DeleteObject();
  m_bBkCaptured = false;
  unsigned char* pixels = nullptr;
  int width = 0, height = 0, stride = 0;
  Gdiplus::Bitmap* bitmap = GDI::LoadBitmapA(path, &pixels, width, height, stride);
  const Gdiplus::PixelFormat format = bitmap ? bitmap->GetPixelFormat() : Gdiplus::PixelFormatUndefined;
  if (bitmap && pixels && width > 0 && height > 0 &&
      (format == Gdiplus::PixelFormat32bppARGB || format == Gdiplus::PixelFormat24bppRGB)) {
    // Every strip becomes 32-bit ARGB rows of its own width, then R and B
    // swap places, whatever format and stride the loader gave.
    m_pStrip = new std::uint32_t[static_cast<size_t>(width) * height];
    m_bStripOwned = true;
    for (int y = 0; y < height; ++y) {
      const unsigned char* row = pixels + static_cast<size_t>(y) * stride;
      std::uint32_t* out = m_pStrip + static_cast<size_t>(y) * width;
      for (int x = 0; x < width; ++x) {
        std::uint32_t argb;
        if (format == Gdiplus::PixelFormat32bppARGB) std::memcpy(&argb, row + x * 4, 4);
        else argb = 0xFF000000u | (row[x * 3 + 2] << 16) | (row[x * 3 + 1] << 8) | row[x * 3];
        out[x] = SwapRedBlue(argb);
      }
    }
    m_nStripWidth = width;
    m_nStripHeight = height;
  }
  delete bitmap;
  delete[] pixels;
  SetFrameSize(m_nStripWidth, m_nStripHeight);
  return 1;
}

BOOL CHoverButtonEx::AdoptBitmap(HBITMAP bitmap) {
  MakeOwnerDrawn();
  FreeStrip();
  m_bitmap.DeleteObject();
  m_bitmap.Attach(bitmap);
  BITMAP bm{};
  if (m_bitmap.m_hObject && m_bitmap.GetBitmap(&bm)) SetFrameSize(bm.bmWidth, bm.bmHeight);
  else SetFrameSize(0, 0);
  return 1;
}

BOOL CHoverButtonEx::LoadBitmapA(UINT id) {
  return AdoptBitmap(static_cast<HBITMAP>(LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCE(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
}

BOOL CHoverButtonEx::LoadBitmapA(const char* name) {
  return AdoptBitmap(static_cast<HBITMAP>(LoadImageA(AfxGetResourceHandle(), name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
}

BOOL CHoverButtonEx::LoadBitmapFromFile(const char* path) {
  return AdoptBitmap(static_cast<HBITMAP>(LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_LOADFROMFILE)));
}

BOOL CHoverButtonEx::LoadRaw(UINT, long, long) {
  MakeOwnerDrawn();
  // The module's resource table holds no "RAW" resources.
  return 0;
}

void CHoverButtonEx::InitToolTip() {
  if (m_pToolTip) return;
  m_pToolTip = new CToolTipCtrl;
  m_pToolTip->Create(this);
  m_pToolTip->Activate(TRUE);
}

void CHoverButtonEx::SetToolTipText(CString text, BOOL activate) {
  if (text.IsEmpty()) return;
  InitToolTip();
  m_strToolTip = text;
  if (m_pToolTip->GetToolCount() == 0) {
    CRect rc;
    GetClientRect(&rc);
    m_pToolTip->AddTool(this, m_strToolTip, &rc, 1);
  }
  m_pToolTip->UpdateTipText(m_strToolTip, this, 1);
  m_pToolTip->SetDelayTime(TTDT_AUTOMATIC, 2000);
  m_pToolTip->Activate(activate);
}

void CHoverButtonEx::SetToolTipText(UINT, BOOL) {
  // The string table is empty: nothing to show.
}

void CHoverButtonEx::ActivateTooltip(BOOL activate) {
  if (m_pToolTip && m_pToolTip->GetToolCount() > 0) m_pToolTip->Activate(activate);
}

void CHoverButtonEx::DeleteToolTip() {
  delete m_pToolTip;
  m_pToolTip = nullptr;
}

BOOL CHoverButtonEx::PreTranslateMessage(MSG* msg) {
  if (m_pToolTip && m_pToolTip->m_hWnd) m_pToolTip->RelayEvent(msg);
  return CBitmapButton::PreTranslateMessage(msg);
}

void CHoverButtonEx::OnMouseMove(UINT flags, CPoint point) {
  if (!m_bTracking) {
    TRACKMOUSEEVENT tme{sizeof(TRACKMOUSEEVENT), TME_HOVER | TME_LEAVE, m_hWnd, 1};
    m_bTracking = _TrackMouseEvent(&tme);
    m_ptLast = point;
  }
  CBitmapButton::OnMouseMove(flags, point);
}

LRESULT CHoverButtonEx::OnMouseHover(WPARAM, LPARAM) {
  m_bHovering = true;
  InvalidateRect(nullptr, TRUE);
  DeleteToolTip();
  SetToolTipText(CString(m_strToolTip), TRUE);
  if (m_pToolTip && m_pToolTip->m_hWnd) m_pToolTip->Update();
  return 0;
}

LRESULT CHoverButtonEx::OnMouseLeave(WPARAM, LPARAM) {
  m_bTracking = FALSE;
  m_bHovering = false;
  InvalidateRect(nullptr, TRUE);
  return 0;
}

BOOL CHoverButtonEx::OnEraseBkgnd(CDC*) { return TRUE; }

void CHoverButtonEx::OnRButtonDown(UINT flags, CPoint point) {
  CWnd* parent = GetParent();
  if (m_bMoveable == 1 && parent) {
    m_ptLast = point;
    // Both roads work in the parent's client coordinates.
    CRect rc;
    GetWindowRect(&rc);
    parent->ScreenToClient(&rc);
    m_pTracker = new CRectTracker(&rc, CRectTracker::dottedLine | CRectTracker::hatchedBorder | CRectTracker::resizeInside);
    if (flags & MK_CONTROL) {
      m_pTracker->TrackRubberBand(parent, rc.TopLeft(), TRUE);
      m_pTracker->NormalizeRect();
    } else {
      CPoint p = point;
      MapWindowPoints(parent, &p, 1);
      m_pTracker->Track(parent, p, FALSE, nullptr);
    }
    if (m_hWnd) MoveWindow(&m_pTracker->m_rect, TRUE);
    delete m_pTracker;
    m_pTracker = nullptr;
  }
  CBitmapButton::OnRButtonDown(flags, point);
}

void CHoverButtonEx::DrawFrameCopy(HDC dc, const RECT& item, int frame) {
  // A strip without a region: the frame copied as it is, alpha ignored.
  const int ox = m_bHorizontal ? frame * m_nFrameWidth : 0;
  const int oy = m_bHorizontal ? 0 : frame * m_nFrameHeight;
  std::unique_ptr<std::uint32_t[]> buf(new std::uint32_t[static_cast<size_t>(m_nFrameWidth) * m_nFrameHeight]);
  for (int y = 0; y < m_nFrameHeight; ++y)
    for (int x = 0; x < m_nFrameWidth; ++x)
      buf[static_cast<size_t>(y) * m_nFrameWidth + x] =
          SwapRedBlue(m_pStrip[static_cast<size_t>(oy + y) * m_nStripWidth + ox + x]);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = m_nFrameWidth;
  bi.bmiHeader.biHeight = -m_nFrameHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  const CRect r(item);
  StretchDIBits(dc, 0, 0, r.Width(), r.Height(), 0, 0, m_nFrameWidth, m_nFrameHeight, buf.get(), &bi, DIB_RGB_COLORS, SRCCOPY);
}

void CHoverButtonEx::DrawTransparent(HDC dc, int frame) {
  if (!m_bBkCaptured || !m_pBkPixels) return;
  const int ox = m_bHorizontal ? frame * m_nFrameWidth : 0;
  const int oy = m_bHorizontal ? 0 : frame * m_nFrameHeight;
  std::unique_ptr<std::uint32_t[]> buf(new std::uint32_t[static_cast<size_t>(m_nFrameWidth) * m_nFrameHeight]);
  for (int y = 0; y < m_nFrameHeight; ++y)
    for (int x = 0; x < m_nFrameWidth; ++x) {
      const size_t i = static_cast<size_t>(y) * m_nFrameWidth + x;
      const std::uint32_t s = SwapRedBlue(m_pStrip[static_cast<size_t>(oy + y) * m_nStripWidth + ox + x]);
      buf[i] = BlendPixel(s, m_pBkPixels[i]);
    }
  CDC* target = CDC::FromHandle(dc);
  winDIB dib(*target);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(buf.get()), nullptr, m_nFrameWidth, m_nFrameHeight, 32);
  dib.srcRect() = CRect(0, 0, m_nFrameWidth, m_nFrameHeight);
  dib.dstRect() = CRect(0, 0, m_nFrameWidth, m_nFrameHeight);
  dib.copyToDisplay();
}

void CHoverButtonEx::DrawItem(LPDRAWITEMSTRUCT dis) {
  if (m_nFrameWidth == 0 || m_nFrameHeight == 0) {
    SendMessage(BM_SETSTYLE, GetButtonStyle() & 0xF4, TRUE);
    return;
  }
  CDC* itemDC = CDC::FromHandle(dis->hDC);
  CDC mem;
  mem.CreateCompatibleDC(itemDC);
  if (m_pStrip && m_nStripWidth && m_nStripHeight && !m_bBkCaptured) {
    delete[] m_pBkPixels;
    const size_t n = static_cast<size_t>(m_nFrameWidth) * m_nFrameHeight;
    m_pBkPixels = new std::uint32_t[n]();
    if (m_nBkMode == 0) {
      for (int y = 0; y < m_nFrameHeight; ++y)
        for (int x = 0; x < m_nFrameWidth; ++x)
          m_pBkPixels[static_cast<size_t>(y) * m_nFrameWidth + x] = ColorrefToArgb(itemDC->GetPixel(x, y));
    } else if (m_nBkMode == 1) {
      std::fill(m_pBkPixels, m_pBkPixels + n, ColorrefToArgb(m_crBackground));
    }
    m_bBkCaptured = true;
  }
  CBitmap* old = m_bitmap.m_hObject ? mem.SelectObject(&m_bitmap) : nullptr;
  const int frame = ChooseFrame(dis->itemState, m_bHovering, IsWindowEnabled() != FALSE);
  const CRect item(dis->rcItem);
  if (m_bitmap.m_hObject) {
    // A bitmap is copied; with a region the paint DC clips it.
    const int sx = m_bHorizontal ? frame * m_nFrameWidth : 0;
    const int sy = m_bHorizontal ? 0 : frame * m_nFrameHeight;
    itemDC->StretchBlt(0, 0, item.Width(), item.Height(), &mem, sx, sy, m_nFrameWidth, m_nFrameHeight, SRCCOPY);
  } else if (m_pStrip) {
    if (m_bRegionSet) DrawTransparent(dis->hDC, frame);
    else DrawFrameCopy(dis->hDC, dis->rcItem, frame);
  }
  if (old) mem.SelectObject(old);
  mem.DeleteDC();
}
