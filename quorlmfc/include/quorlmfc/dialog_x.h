#pragma once
// CDialogX: the base of every skinned dialog. No system caption: a
// CTitleBar across the top 29 pixels of the client area carries the title
// and the exit and minimize buttons, and dragging it moves the window. Grey
// background, a default "Verdana" font, and one way to close:
// TerminateWindow ends a modal dialog and hides a modeless one.
// CDialogXMsgBox: a confirmation box on the library's template 1008.
#include "quorlmfc/static_ex.h"
#include "quorlmfc/title_bar.h"
#include "win/dialog.h"

class CDialogX : public CDialog {
  DECLARE_DYNCREATE(CDialogX)

 public:
  static constexpr UINT kTitleBarId = 1999;
  static constexpr int kTitleBarHeight = 29;

  // Type 1 is the one a dialog made by its runtime class gets, so that it
  // can be closed.
  CDialogX() : CDialogX(0, nullptr, nullptr, 1, nullptr) {}
  // A null title gives "DialogX Window". The font is used, never freed.
  CDialogX(UINT templateId, CWnd* parent, const char* title, int titleBarType, CFont* font);
  ~CDialogX() override;

  void SetParentDialog(CDialog* parent) { m_pParentDialog = parent; }
  CDialog* GetParentDialog() const { return m_pParentDialog; }
  // An explicit folder is used as given; none is then derived.
  void SetAppPath(CString folder);
  const CString& GetAppPath() const { return m_strAppPath; }
  // With use, OnInitDialog moves the window there (MoveWindow's coordinates:
  // the parent's client area for a child, the screen for a popup) before the
  // title bar is built.
  void SetInitialWindowRect(RECT rect, bool use);
  void SetModeless(bool modeless) { m_bModeless = modeless; }

  void InitializeButton(CHoverButtonEx* button, CRect rect, HRGN region, const char* imagePath, const char* tooltip,
                        UINT id, int backgroundMode, COLORREF colour);

  BOOL OnInitDialog() override;
  // Modal: Cleanup, then OnCancel (IDCANCEL). Modeless: hides the window.
  virtual void TerminateWindow();
  virtual void MinimizeWindow();
  // Releases an owned font and the title bar; safe to call again. The title
  // bar is destroyed once the message being handled has returned, since an
  // exit click inside it may be what called this.
  virtual void Cleanup();

  // State for tests and derived dialogs.
  CTitleBar* GetTitleBar() const { return m_pTitleBar; }
  const CString& GetTitle() const { return m_strTitle; }
  CFont* GetDialogFont() const { return m_pFont; }
  bool OwnsFont() const { return m_bOwnsFont; }
  bool IsInitialized() const { return m_bInitialized; }
  bool IsDragging() const { return m_bDragging; }
  const CRect& DragRect() const { return m_rcDrag; }

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM lp) override { return CDialog::OnCommand(wp, lp); }
  void DoDataExchange(CDataExchange*) override {}
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT type);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnMouseMove(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnParentNotify(UINT message, LPARAM lp) { CDialog::OnParentNotify(message, lp); }
  void OnShowWindow(BOOL show, UINT status);
  DECLARE_MESSAGE_MAP()

 private:
  bool m_bInitialized = false;
  bool m_bModeless = false;
  CDialog* m_pParentDialog = nullptr;
  bool m_bAppPathSet = false;
  CString m_strAppPath;
  int m_nTitleBarType = 1;
  CTitleBar* m_pTitleBar = nullptr;
  CRect m_rcDrag;
  CPoint m_ptDragStart;
  bool m_bDragging = false;
  CString m_strTitle;
  CBrush m_brush;
  bool m_bOwnsFont = false;
  CFont* m_pFont = nullptr;
  bool m_bUseInitialRect = false;
  CRect m_rcInitial;
};

class CDialogXMsgBox : public CDialogX {
  DECLARE_DYNAMIC(CDialogXMsgBox)

 public:
  static constexpr UINT kTemplateId = 1008;
  static constexpr UINT kLabelId = 255;

  CDialogXMsgBox(CWnd* parent, const char* text, const char* caption);
  ~CDialogXMsgBox() override;

  BOOL OnInitDialog() override;
  CStaticEx& Label() { return m_label; }

 protected:
  void DoDataExchange(CDataExchange*) override {}
  DECLARE_MESSAGE_MAP()

 private:
  CString m_strText;
  CStaticEx m_label;
};
