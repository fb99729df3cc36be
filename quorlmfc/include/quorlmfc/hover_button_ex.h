#pragma once
// CHoverButtonEx: the owner-drawn four-state image button of the skinned
// interface (frames normal, pressed, hovered, disabled), with hover
// tracking, a tooltip, an optional window region drawn with per-pixel alpha
// over a captured or solid background, and an optional move by the user.
#include <cstdint>

#include "win/controls.h"
#include "win/window.h"

class CHoverButtonEx : public CBitmapButton {
 public:
  static const CRuntimeClass classCHoverButtonEx;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCHoverButtonEx; }

  CHoverButtonEx();
  ~CHoverButtonEx() override;

  void SetHorizontal(bool horizontal) { m_bHorizontal = horizontal; }
  void SetMoveable(BOOL moveable) { m_bMoveable = moveable; }
  BOOL IsMoveable() const { return m_bMoveable; }
  void SetBackgroundMode(UINT mode, COLORREF colour) {
    m_nBkMode = mode;
    m_crBackground = colour;
  }
  void RefreshBkgrnd() { m_bBkCaptured = false; }
  void SetRegion(HRGN region);

  // Each returns 1 (LoadRaw 0 when its resource is missing); a strip that
  // cannot be read leaves a plain button.
  BOOL LoadImageStrip(const char* path);
  BOOL LoadBitmapA(UINT resourceId);
  BOOL LoadBitmapA(const char* resourceName);
  BOOL LoadBitmapFromFile(const char* path);
  BOOL LoadRaw(UINT id, long width, long height);

  void SetToolTipText(CString text, BOOL activate = TRUE);
  void SetToolTipText(UINT stringId, BOOL activate = TRUE);
  void ActivateTooltip(BOOL activate = TRUE);
  void DeleteToolTip();

  BOOL PreTranslateMessage(MSG* msg) override;
  void DrawItem(LPDRAWITEMSTRUCT dis) override;

  // The drawing rules, for tests: strip pixel (ARGB) over background (ARGB).
  static std::uint32_t BlendPixel(std::uint32_t strip, std::uint32_t background);
  // Pressed > hovered > enabled > disabled.
  static int ChooseFrame(UINT itemState, bool hovering, bool enabled);
  // 0x00BBGGRR to opaque 0xFFRRGGBB.
  static std::uint32_t ColorrefToArgb(COLORREF c);

  // State for tests.
  int FrameWidth() const { return m_nFrameWidth; }
  int FrameHeight() const { return m_nFrameHeight; }
  bool IsHovering() const { return m_bHovering; }
  CToolTipCtrl* ToolTip() const { return m_pToolTip; }

 protected:
  void OnMouseMove(UINT flags, CPoint point);
  LRESULT OnMouseLeave(WPARAM wp, LPARAM lp);
  LRESULT OnMouseHover(WPARAM wp, LPARAM lp);
  void OnRButtonDown(UINT flags, CPoint point);
  BOOL OnEraseBkgnd(CDC* dc);
  DECLARE_MESSAGE_MAP()

 private:
  void MakeOwnerDrawn();
  void SetFrameSize(int width, int height);
  void FreeStrip();
  // Takes a loaded bitmap (or none) in place of any strip and earlier bitmap.
  BOOL AdoptBitmap(HBITMAP bitmap);
  void InitToolTip();
  void DrawTransparent(HDC dc, int frame);
  void DrawFrameCopy(HDC dc, const RECT& item, int frame);

  bool m_bHovering = false;
  int m_nFrameWidth = 0;
  int m_nFrameHeight = 0;
  CBitmap m_bitmap;
  POINT m_ptLast{0, 0};
  CRectTracker* m_pTracker = nullptr;
  BOOL m_bTracking = FALSE;
  bool m_bHorizontal = false;
  BOOL m_bMoveable = FALSE;
  BOOL m_bRegionSet = FALSE;
  CRgn m_rgn;
  bool m_bBkCaptured = false;
  UINT m_nBkMode = 0;
  COLORREF m_crBackground = 0xFF000000;
  std::uint32_t* m_pBkPixels = nullptr;
  std::uint32_t* m_pStrip = nullptr;  // R, G, B, A bytes, stripWidth per row
  bool m_bStripOwned = false;
  int m_nStripWidth = 0;
  int m_nStripHeight = 0;
  CString m_strToolTip;
  CToolTipCtrl* m_pToolTip = nullptr;
};
