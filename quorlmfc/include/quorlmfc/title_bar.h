#pragma once
// CTitleBar: the caption strip across the top of every skinned dialog:
// background, border, optional icon, the title, and circular exit (1124)
// and minimize (1125) buttons that call back into the owning dialog.
#include <memory>

#include "quorlmfc/hover_button_ex.h"
#include "quorlmfc/static_ex.h"

class CTitleBar : public CStaticEx {
 public:
  static const CRuntimeClass classCTitleBar;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCTitleBar; }

  static constexpr UINT kExitId = 1124;
  static constexpr UINT kMinimizeId = 1125;

  explicit CTitleBar(CWnd* owner = nullptr);
  ~CTitleBar() override;

  // The owner, a CDialogX whose TerminateWindow and MinimizeWindow the
  // buttons call. Hides CWnd::SetParent: the window's parent is unchanged.
  void SetParent(CWnd* owner) { m_pOwner = owner; }
  CWnd* GetOwnerDialog() const { return m_pOwner; }
  // An explicit folder is used as given; none is then derived.
  void SetAppPath(CString folder);
  const CString& GetAppPath() const { return m_strAppPath; }

  // Type 1: exit button; 2: minimize and exit; any other: none. Runs once;
  // a second call does nothing. The first argument is not used.
  void Initialize(int unused, int type);
  void InitializeButton(CHoverButtonEx* button, CRect rect, HRGN region, const char* imagePath, const char* tooltip,
                        UINT id, int backgroundMode, COLORREF colour);
  void PaintBackBuffer() override;

  // Replaces the icon; a file that cannot be read leaves none.
  void SetIconImage(CString path);
  // Moves the text right by the icon's right edge plus 5, on every call.
  void SetIconRect(Gdiplus::RectF& rect);

  BOOL PreTranslateMessage(MSG* msg) override { return CStaticEx::PreTranslateMessage(msg); }

  // State for tests.
  bool IsInitialized() const { return m_bInitialized; }
  CHoverButtonEx& ExitButton() { return m_btnExit; }
  CHoverButtonEx& MinimizeButton() { return m_btnMini; }
  bool HasIcon() const { return m_pIcon != nullptr; }
  const CRect& SizeRect() const { return m_rcSize; }

 protected:
  void OnPaint();
  void OnBnClickedExit();
  void OnBnClickedMini();
  void OnParentNotify(UINT message, LPARAM lp) { CStaticEx::OnParentNotify(message, lp); }
  DECLARE_MESSAGE_MAP()
  // A title bar is set up by the two-argument Initialize, which makes its
  // buttons; the static's own one would leave them out. Named here,
  // protected, it stays out of callers' reach on purpose rather than
  // hidden by the overload.
  using CStaticEx::Initialize;

 private:
  bool m_bInitialized = false;
  bool m_bAppPathSet = false;
  CString m_strAppPath;
  CWnd* m_pOwner = nullptr;
  CRect m_rcSize;
  std::unique_ptr<Gdiplus::Pen> m_pBorderPen;
  Gdiplus::Color m_borderColour{0xFF646464};
  std::unique_ptr<Gdiplus::Bitmap> m_pIcon;
  Gdiplus::RectF m_rcIcon;
  CHoverButtonEx m_btnExit;
  CHoverButtonEx m_btnMini;
};
