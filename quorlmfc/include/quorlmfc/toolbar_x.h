#pragma once
// CToolbarX: a strip of skinned image buttons in a row or a column. The
// toolbar is a static control painting a flat background; its buttons are
// children of its parent (or of the window given to SetParent), placed over
// its area, and their clicks reach that window as WM_COMMAND from their ids.
#include <vector>

#include "quorlmfc/hover_button_ex.h"
#include "win/controls.h"

class CToolbarX : public CStatic {
 public:
  static const CRuntimeClass classCToolbarX;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCToolbarX; }

  explicit CToolbarX(COLORREF background = 0x646464);
  ~CToolbarX() override;

  // Set by the owner before buttons are added: false lays them in a row.
  bool m_bVertical = false;

  // The window that owns the buttons; without it, the toolbar's own parent.
  // Hides CWnd::SetParent: the toolbar's window keeps its parent.
  void SetParent(CWnd* parent) { m_pParent = parent; }
  void SetAppPath(CString folder);
  const CString& GetAppPath() const { return m_strAppPath; }
  // Button size and region of later AddButton calls.
  void SetRegionSize(int width, int height);
  // Both arguments are ignored. Once, after the window exists and before
  // AddButton.
  void Initialize(int, int);
  void AddButton(CString imagePath, CString tooltip, UINT id);
  // The region argument is not used: every button gets the toolbar's.
  void InitializeButton(CHoverButtonEx* button, CRect rect, HRGN region, const char* imagePath, const char* tooltip,
                        UINT id, int backgroundMode, COLORREF colour);
  void DrawItem(LPDRAWITEMSTRUCT) override {}

  // State for tests.
  const std::vector<CHoverButtonEx*>& Buttons() const { return m_buttons; }
  const CRect& OriginRect() const { return m_rcOrigin; }
  HRGN ButtonRegion() const { return m_hRegion; }

 protected:
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT type) { return CStatic::OnCtlColor(dc, wnd, type); }
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  CWnd* ButtonParent() const;

  CWnd* m_pParent = nullptr;
  bool m_bInitialized = false;
  bool m_bAppPathSet = false;
  CString m_strAppPath;
  std::vector<CHoverButtonEx*> m_buttons;
  CRect m_rcClient;
  CRect m_rcOrigin;
  COLORREF m_crBackground;
  CBrush* m_pBrush = nullptr;
  int m_nButtonWidth = 36;
  int m_nButtonHeight = 36;
  HRGN m_hRegion = nullptr;
};
