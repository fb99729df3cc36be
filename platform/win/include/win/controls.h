#pragma once
// Standard controls on Qt's own widgets (push buttons, line edits, combo
// boxes); statics and owner-drawn buttons paint through GDI on their surface.
#include <string>
#include <vector>

#include "win/window.h"

// Button styles and messages.
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_RADIOBUTTON = 0x0004;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_OWNERDRAW = 0x000B;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD BS_BITMAP = 0x0080;
constexpr DWORD BS_NOTIFY = 0x4000;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr UINT BST_PUSHED = 0x0004;

// Static styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_ICON = 0x0003;
constexpr DWORD SS_BLACKRECT = 0x0004;
constexpr DWORD SS_GRAYRECT = 0x0005;
constexpr DWORD SS_WHITERECT = 0x0006;
constexpr DWORD SS_BLACKFRAME = 0x0007;
constexpr DWORD SS_GRAYFRAME = 0x0008;
constexpr DWORD SS_WHITEFRAME = 0x0009;
constexpr DWORD SS_SIMPLE = 0x000B;
constexpr DWORD SS_LEFTNOWORDWRAP = 0x000C;
constexpr DWORD SS_OWNERDRAW = 0x000D;
constexpr DWORD SS_BITMAP = 0x000E;
constexpr DWORD SS_ETCHEDFRAME = 0x0012;
constexpr DWORD SS_TYPEMASK = 0x001F;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_NOTIFY = 0x0100;
constexpr DWORD SS_CENTERIMAGE = 0x0200;
constexpr DWORD SS_SUNKEN = 0x1000;

// Edit styles.
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_SETREADONLY = 0x00CF;

// Combo box styles and messages.
constexpr DWORD CBS_SIMPLE = 0x0001;
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr DWORD CBS_SORT = 0x0100;
constexpr DWORD CBS_HASSTRINGS = 0x0200;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr int CB_ERR = -1;

// Tooltips.
constexpr UINT TTM_ACTIVATE = WM_USER + 1;
constexpr UINT TTM_SETDELAYTIME = WM_USER + 3;
constexpr UINT TTM_ADDTOOL = WM_USER + 4;
constexpr UINT TTM_DELTOOL = WM_USER + 5;
constexpr UINT TTM_RELAYEVENT = WM_USER + 7;
constexpr UINT TTM_UPDATETIPTEXT = WM_USER + 12;
constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;
constexpr UINT TTM_POP = WM_USER + 28;
constexpr UINT TTM_UPDATE = WM_USER + 29;
constexpr DWORD TTDT_AUTOMATIC = 0;
constexpr DWORD TTDT_RESHOW = 1;
constexpr DWORD TTDT_AUTOPOP = 2;
constexpr DWORD TTDT_INITIAL = 3;
constexpr UINT TTF_IDISHWND = 0x0001;
constexpr UINT TTF_SUBCLASS = 0x0010;
constexpr DWORD TTS_ALWAYSTIP = 0x01;
constexpr DWORD TTS_NOPREFIX = 0x02;
struct TOOLINFOA {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  const char* lpszText;
  LPARAM lParam;
};
using TOOLINFO = TOOLINFOA;

class CButton : public CWnd {
 public:
  static const CRuntimeClass classCButton;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCButton; }
  BOOL Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  UINT GetButtonStyle() const { return GetStyle() & 0xFFFF; }
  void SetButtonStyle(UINT style, BOOL redraw = TRUE) { SendMessage(BM_SETSTYLE, style, redraw); }
  int GetCheck() const { return static_cast<int>(const_cast<CButton*>(this)->SendMessage(BM_GETCHECK)); }
  void SetCheck(int c) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(c)); }
  UINT GetState() const { return static_cast<UINT>(const_cast<CButton*>(this)->SendMessage(BM_GETSTATE)); }
  void SetState(BOOL pushed) { SendMessage(BM_SETSTATE, pushed); }
  void DrawItem(LPDRAWITEMSTRUCT dis) override;

 protected:
  // A button is made with the Create above, never with CWnd's generic one:
  // named here, protected, the generic one stays out of callers' reach on
  // purpose rather than hidden by the overload, and a derived control may
  // still pass the whole set on with using.
  using CWnd::Create;
};

class CBitmapButton : public CButton {
 public:
  static const CRuntimeClass classCBitmapButton;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCBitmapButton; }
  BOOL LoadBitmaps(UINT idUp, UINT idDown = 0, UINT idFocus = 0, UINT idDisabled = 0);
  BOOL LoadBitmaps(const char* up, const char* down = nullptr, const char* focus = nullptr, const char* disabled = nullptr);
  void SizeToContent();
  void DrawItem(LPDRAWITEMSTRUCT dis) override;
  CBitmap m_bitmap, m_bitmapSel, m_bitmapFocus, m_bitmapDisabled;
};

class CStatic : public CWnd {
 public:
  static const CRuntimeClass classCStatic;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCStatic; }
  BOOL Create(const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF);

 protected:
  // As in CButton: only the Create above is for callers.
  using CWnd::Create;
};

class CEdit : public CWnd {
 public:
  static const CRuntimeClass classCEdit;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCEdit; }
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetSel(int start, int end) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
  BOOL SetReadOnly(BOOL ro = TRUE) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, ro)); }

 protected:
  // As in CButton: only the Create above is for callers.
  using CWnd::Create;
};

class CComboBox : public CWnd {
 public:
  static const CRuntimeClass classCComboBox;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCComboBox; }
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(const char* s) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s))); }
  int InsertString(int i, const char* s) {
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s)));
  }
  int DeleteString(UINT i) { return static_cast<int>(SendMessage(CB_DELETESTRING, i)); }
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(const_cast<CComboBox*>(this)->SendMessage(CB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(const_cast<CComboBox*>(this)->SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int i) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(i))); }
  void GetLBText(int i, CString& out) const;
  int GetLBTextLen(int i) const {
    return static_cast<int>(const_cast<CComboBox*>(this)->SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(i)));
  }
  int SetItemData(int i, DWORD_PTR data) { return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(data))); }
  DWORD_PTR GetItemData(int i) const {
    return static_cast<DWORD_PTR>(const_cast<CComboBox*>(this)->SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(i)));
  }
  int FindStringExact(int start, const char* s) const {
    return static_cast<int>(const_cast<CComboBox*>(this)->SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s)));
  }

 protected:
  // As in CButton: only the Create above is for callers.
  using CWnd::Create;
};

// The tooltip keeps its state where tests can read it; while shown it
// displays a Qt tooltip.
class CToolTipCtrl : public CWnd {
 public:
  static const CRuntimeClass classCToolTipCtrl;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCToolTipCtrl; }
  BOOL Create(CWnd* parent, DWORD style = 0);
  BOOL AddTool(CWnd* wnd, const char* text, LPCRECT rect = nullptr, UINT_PTR id = 0);
  void UpdateTipText(const char* text, CWnd* wnd, UINT_PTR id = 0);
  void Activate(BOOL activate) { SendMessage(TTM_ACTIVATE, activate); }
  void SetDelayTime(UINT delay) { SendMessage(TTM_SETDELAYTIME, TTDT_AUTOMATIC, static_cast<LPARAM>(delay)); }
  void SetDelayTime(DWORD which, int delay) { SendMessage(TTM_SETDELAYTIME, which, delay); }
  void RelayEvent(MSG* msg) { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg)); }
  int GetToolCount() const { return static_cast<int>(const_cast<CToolTipCtrl*>(this)->SendMessage(TTM_GETTOOLCOUNT)); }
  void Update() { SendMessage(TTM_UPDATE); }
  void Pop() { SendMessage(TTM_POP); }

  // State for tests.
  bool IsActive() const;
  bool IsShown() const;
  std::string ShownText() const;
  int InitialDelay() const;
  int AutoPopDelay() const;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  struct Tool {
    HWND hwnd;
    UINT_PTR id;
    RECT rect;
    std::string text;
  };
  void Show(const Tool& t);
  void Hide();
  std::vector<Tool> tools_;
  bool active_ = true;
  bool shown_ = false;
  std::string shownText_;
  int initial_ = 500;
  int autoPop_ = 5000;
  int reshow_ = 100;
  win::ScheduleId showEvent_ = 0;
  win::ScheduleId popEvent_ = 0;
  int pendingTool_ = -1;
  POINT lastPt_{-1000000, -1000000};

 protected:
  // As in CButton: only the Create above is for callers.
  using CWnd::Create;
};

// A drag of a rectangle with the mouse captured: Track moves it, and
// TrackRubberBand draws a new one from a point.
class CRectTracker {
 public:
  enum StyleFlags {
    solidLine = 1,
    dottedLine = 2,
    hatchedBorder = 4,
    resizeInside = 8,
    resizeOutside = 16,
    hatchInside = 32
  };
  CRectTracker() = default;
  CRectTracker(LPCRECT rect, UINT style) : m_rect(rect), m_nStyle(style) {}
  virtual ~CRectTracker() = default;
  BOOL Track(CWnd* wnd, CPoint point, BOOL allowInvert = FALSE, CWnd* clipTo = nullptr);
  BOOL TrackRubberBand(CWnd* wnd, CPoint point, BOOL allowInvert = TRUE);
  void NormalizeRect() { m_rect.NormalizeRect(); }
  CRect m_rect;
  UINT m_nStyle = 0;

 private:
  BOOL Run(CWnd* wnd, CPoint point, bool rubber, bool allowInvert);
};
