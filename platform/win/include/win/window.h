#pragma once
// Windows: the handle table, CWnd over a hosted QWidget, message maps,
// message sending and posting, painting, input, capture, tracking and timers.
// Every window owns a client-sized 32-bit surface that all its device
// contexts draw into; the host widget only shows it.
#include <cstddef>
#include <functional>

#include "win/cstring.h"
#include "win/gdi.h"
#include "win/geometry.h"
#include "win/messagebox.h"
#include "win/messages.h"
#include "win/types.h"
#include "win/window_services.h"

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_POPUPWINDOW = WS_POPUP | WS_BORDER | WS_SYSMENU;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT SWP_NOOWNERZORDER = 0x0200;

constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;
constexpr UINT WA_INACTIVE = 0;
constexpr UINT WA_ACTIVE = 1;
constexpr UINT WA_CLICKACTIVE = 2;

constexpr UINT RDW_INVALIDATE = 0x0001;
constexpr UINT RDW_ERASE = 0x0004;
constexpr UINT RDW_ALLCHILDREN = 0x0080;
constexpr UINT RDW_UPDATENOW = 0x0100;
constexpr UINT RDW_ERASENOW = 0x0200;
constexpr UINT RDW_FRAME = 0x0400;

constexpr UINT SPI_GETWORKAREA = 0x0030;
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;

constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

constexpr int CTLCOLOR_MSGBOX = 0;
constexpr int CTLCOLOR_EDIT = 1;
constexpr int CTLCOLOR_LISTBOX = 2;
constexpr int CTLCOLOR_BTN = 3;
constexpr int CTLCOLOR_DLG = 4;
constexpr int CTLCOLOR_SCROLLBAR = 5;
constexpr int CTLCOLOR_STATIC = 6;
constexpr UINT WM_CTLCOLOR = 0x0019;
constexpr UINT WM_PARENTNOTIFY = 0x0210;

constexpr UINT HTCLIENT = 1;
constexpr UINT HTCAPTION = 2;

// Mouse tracking.
constexpr DWORD TME_HOVER = 0x00000001;
constexpr DWORD TME_LEAVE = 0x00000002;
constexpr DWORD TME_CANCEL = 0x80000000;
constexpr DWORD HOVER_DEFAULT = 0xFFFFFFFF;
struct TRACKMOUSEEVENT {
  DWORD cbSize;
  DWORD dwFlags;
  HWND hwndTrack;
  DWORD dwHoverTime;
};
using LPTRACKMOUSEEVENT = TRACKMOUSEEVENT*;

struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};

struct CREATESTRUCT {
  void* lpCreateParams;
  HINSTANCE hInstance;
  void* hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  const char* lpszName;
  const char* lpszClass;
  DWORD dwExStyle;
};
using LPCREATESTRUCT = CREATESTRUCT*;

struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};

class CWnd;
class CDialog;

class CObject;

// Run-time class information: IsKindOf, and creation by record for the
// classes that have a factory (the others leave it null, so records written
// as {name, base} stay valid).
struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
  CObject* (*m_pfnCreateObject)() = nullptr;
  bool IsDerivedFrom(const CRuntimeClass* base) const;
  // A new object of the class, or null when the class has no factory.
  CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};
#define RUNTIME_CLASS(cls) (&cls::class##cls)
#define DECLARE_DYNAMIC(cls)                      \
 public:                                          \
  static const CRuntimeClass class##cls;          \
  const CRuntimeClass* GetRuntimeClass() const override;
#define DECLARE_DYNCREATE(cls) \
  DECLARE_DYNAMIC(cls)         \
  static CObject* CreateObject();
#define IMPLEMENT_DYNAMIC(cls, base)                                     \
  const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base)};     \
  const CRuntimeClass* cls::GetRuntimeClass() const { return RUNTIME_CLASS(cls); }
#define IMPLEMENT_DYNCREATE(cls, base)                                                \
  CObject* cls::CreateObject() { return new cls; }                                    \
  const CRuntimeClass cls::class##cls = {#cls, RUNTIME_CLASS(base), &cls::CreateObject}; \
  const CRuntimeClass* cls::GetRuntimeClass() const { return RUNTIME_CLASS(cls); }

class CObject {
 public:
  static const CRuntimeClass classCObject;
  virtual ~CObject() = default;
  virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
  BOOL IsKindOf(const CRuntimeClass* c) const { return GetRuntimeClass()->IsDerivedFrom(c) ? TRUE : FALSE; }
};

// Message maps: entries searched from the most derived class to CWnd.
using AFX_PMSG = LRESULT (*)(CWnd* self, WPARAM wParam, LPARAM lParam);
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  UINT nLastID;
  AFX_PMSG pfn;
};
struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                        \
 protected:                                          \
  static const AFX_MSGMAP* GetThisMessageMap();      \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }   \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                   \
    using ThisClass = theClass;                                                       \
    using TheBaseClass = baseClass;                                                   \
    static_assert(sizeof(ThisClass) > 0, "complete class");                          \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                      \
  {0, 0, 0, 0, nullptr}};                                                      \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                          \
  }

#define AFX_SELF(w) static_cast<ThisClass*>(w)
#define AFX_PT(lp) CPoint(GET_X_LPARAM(lp), GET_Y_LPARAM(lp))
#define AFX_MSG_ENTRY(msg, body) \
  {msg, 0, 0, 0, [](CWnd* w, WPARAM wParam, LPARAM lParam) -> LRESULT { (void)wParam; (void)lParam; body }},

#define ON_MESSAGE(msg, fn) AFX_MSG_ENTRY(msg, return AFX_SELF(w)->fn(wParam, lParam);)
#define ON_WM_CREATE() AFX_MSG_ENTRY(WM_CREATE, return AFX_SELF(w)->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));)
#define ON_WM_DESTROY() AFX_MSG_ENTRY(WM_DESTROY, AFX_SELF(w)->OnDestroy(); return 0;)
#define ON_WM_CLOSE() AFX_MSG_ENTRY(WM_CLOSE, AFX_SELF(w)->OnClose(); return 0;)
#define ON_WM_PAINT() AFX_MSG_ENTRY(WM_PAINT, AFX_SELF(w)->OnPaint(); return 0;)
#define ON_WM_ERASEBKGND() \
  AFX_MSG_ENTRY(WM_ERASEBKGND, return AFX_SELF(w)->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam)));)
#define ON_WM_SIZE() AFX_MSG_ENTRY(WM_SIZE, AFX_SELF(w)->OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); return 0;)
#define ON_WM_MOVE() AFX_MSG_ENTRY(WM_MOVE, AFX_SELF(w)->OnMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;)
#define ON_WM_TIMER() AFX_MSG_ENTRY(WM_TIMER, AFX_SELF(w)->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;)
#define ON_WM_SHOWWINDOW() \
  AFX_MSG_ENTRY(WM_SHOWWINDOW, AFX_SELF(w)->OnShowWindow(static_cast<BOOL>(wParam), static_cast<UINT>(lParam)); return 0;)
#define ON_WM_ACTIVATE()                                                                                 \
  AFX_MSG_ENTRY(WM_ACTIVATE, AFX_SELF(w)->OnActivate(LOWORD(wParam), CWnd::FromHandle(reinterpret_cast<HWND>(lParam)), \
                                                     HIWORD(wParam)); return 0;)
#define ON_WM_SETFOCUS() AFX_MSG_ENTRY(WM_SETFOCUS, AFX_SELF(w)->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam))); return 0;)
#define ON_WM_KILLFOCUS() AFX_MSG_ENTRY(WM_KILLFOCUS, AFX_SELF(w)->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam))); return 0;)
#define AFX_MOUSE_ENTRY(msg, fn) AFX_MSG_ENTRY(msg, AFX_SELF(w)->fn(static_cast<UINT>(wParam), AFX_PT(lParam)); return 0;)
#define ON_WM_MOUSEMOVE() AFX_MOUSE_ENTRY(WM_MOUSEMOVE, OnMouseMove)
#define ON_WM_LBUTTONDOWN() AFX_MOUSE_ENTRY(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_MOUSE_ENTRY(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_MOUSE_ENTRY(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_MOUSE_ENTRY(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_RBUTTONUP() AFX_MOUSE_ENTRY(WM_RBUTTONUP, OnRButtonUp)
#define ON_WM_RBUTTONDBLCLK() AFX_MOUSE_ENTRY(WM_RBUTTONDBLCLK, OnRButtonDblClk)
#define ON_WM_MBUTTONDOWN() AFX_MOUSE_ENTRY(WM_MBUTTONDOWN, OnMButtonDown)
#define ON_WM_MBUTTONUP() AFX_MOUSE_ENTRY(WM_MBUTTONUP, OnMButtonUp)
#define ON_WM_MBUTTONDBLCLK() AFX_MOUSE_ENTRY(WM_MBUTTONDBLCLK, OnMButtonDblClk)
#define ON_WM_MOUSEHOVER() AFX_MOUSE_ENTRY(WM_MOUSEHOVER, OnMouseHover)
#define ON_WM_MOUSELEAVE() AFX_MSG_ENTRY(WM_MOUSELEAVE, AFX_SELF(w)->OnMouseLeave(); return 0;)
#define ON_WM_MOUSEWHEEL()                                                                      \
  AFX_MSG_ENTRY(WM_MOUSEWHEEL, return AFX_SELF(w)->OnMouseWheel(GET_KEYSTATE_WPARAM(wParam),   \
                                                                GET_WHEEL_DELTA_WPARAM(wParam), AFX_PT(lParam));)
#define AFX_KEY_ENTRY(msg, fn)                                                                      \
  AFX_MSG_ENTRY(msg, AFX_SELF(w)->fn(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); return 0;)
#define ON_WM_KEYDOWN() AFX_KEY_ENTRY(WM_KEYDOWN, OnKeyDown)
#define ON_WM_KEYUP() AFX_KEY_ENTRY(WM_KEYUP, OnKeyUp)
#define ON_WM_CHAR() AFX_KEY_ENTRY(WM_CHAR, OnChar)
#define ON_WM_SETCURSOR()                                                                                \
  AFX_MSG_ENTRY(WM_SETCURSOR, return AFX_SELF(w)->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)), \
                                                              LOWORD(lParam), HIWORD(lParam));)
#define ON_WM_CTLCOLOR()                                                                                   \
  AFX_MSG_ENTRY(WM_CTLCOLOR, return reinterpret_cast<LRESULT>(AFX_SELF(w)->OnCtlColor(                    \
                                 CDC::FromHandle(reinterpret_cast<HDC>(wParam)),                          \
                                 CWnd::FromHandle(reinterpret_cast<HWND>(lParam)), CWnd::CurrentCtlColor()));)
#define ON_WM_CAPTURECHANGED() \
  AFX_MSG_ENTRY(WM_CAPTURECHANGED, AFX_SELF(w)->OnCaptureChanged(CWnd::FromHandle(reinterpret_cast<HWND>(lParam))); return 0;)
#define ON_WM_PARENTNOTIFY() AFX_MSG_ENTRY(WM_PARENTNOTIFY, AFX_SELF(w)->OnParentNotify(static_cast<UINT>(wParam), lParam); return 0;)
#define ON_WM_DRAWITEM() \
  AFX_MSG_ENTRY(WM_DRAWITEM, AFX_SELF(w)->OnDrawItem(static_cast<int>(wParam), reinterpret_cast<LPDRAWITEMSTRUCT>(lParam)); return TRUE;)
#define ON_WM_SYSCOMMAND() AFX_MSG_ENTRY(WM_SYSCOMMAND, AFX_SELF(w)->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0;)
#define ON_WM_QUERYDRAGICON() AFX_MSG_ENTRY(WM_QUERYDRAGICON, return reinterpret_cast<LRESULT>(AFX_SELF(w)->OnQueryDragIcon());)
#define ON_WM_NCHITTEST() AFX_MSG_ENTRY(WM_NCHITTEST, return AFX_SELF(w)->OnNcHitTest(AFX_PT(lParam));)
#define ON_WM_HSCROLL() AFX_MSG_ENTRY(WM_HSCROLL, AFX_SELF(w)->OnHScroll(LOWORD(wParam), HIWORD(wParam), CWnd::FromHandle(reinterpret_cast<HWND>(lParam))); return 0;)
#define ON_WM_VSCROLL() AFX_MSG_ENTRY(WM_VSCROLL, AFX_SELF(w)->OnVScroll(LOWORD(wParam), HIWORD(wParam), CWnd::FromHandle(reinterpret_cast<HWND>(lParam))); return 0;)

// WM_COMMAND entries: nCode is the notification code, nID..nLastID the ids.
#define ON_CONTROL(code, id, fn) \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), [](CWnd* w, WPARAM, LPARAM) -> LRESULT { AFX_SELF(w)->fn(); return 0; }},
#define ON_COMMAND(id, fn) ON_CONTROL(0, id, fn)
#define ON_COMMAND_RANGE(first, last, fn)                                                       \
  {WM_COMMAND, 0, static_cast<UINT>(first), static_cast<UINT>(last),                            \
   [](CWnd* w, WPARAM wParam, LPARAM) -> LRESULT { AFX_SELF(w)->fn(LOWORD(wParam)); return 0; }},
#define ON_CONTROL_RANGE(code, first, last, fn)                                                 \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(first), static_cast<UINT>(last),      \
   [](CWnd* w, WPARAM wParam, LPARAM) -> LRESULT { AFX_SELF(w)->fn(LOWORD(wParam)); return 0; }},
#define ON_NOTIFY(code, id, fn)                                                                  \
  {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),             \
   [](CWnd* w, WPARAM, LPARAM lParam) -> LRESULT { LRESULT r = 0; AFX_SELF(w)->fn(reinterpret_cast<NMHDR*>(lParam), &r); return r; }},

// Button and control notifications.
constexpr UINT BN_CLICKED = 0;
constexpr UINT BN_DOUBLECLICKED = 5;
constexpr UINT BN_DBLCLK = BN_DOUBLECLICKED;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_DBLCLK = 2;
constexpr UINT CBN_SETFOCUS = 3;
constexpr UINT CBN_KILLFOCUS = 4;
constexpr UINT CBN_EDITCHANGE = 5;
constexpr UINT CBN_DROPDOWN = 7;
constexpr UINT CBN_CLOSEUP = 8;
constexpr UINT CBN_SELENDOK = 9;
constexpr UINT EN_SETFOCUS = 0x0100;
constexpr UINT EN_KILLFOCUS = 0x0200;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT EN_UPDATE = 0x0400;
constexpr UINT STN_CLICKED = 0;
constexpr UINT STN_DBLCLK = 1;
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_BN_DOUBLECLICKED(id, fn) ON_CONTROL(BN_DOUBLECLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_STN_CLICKED(id, fn) ON_CONTROL(STN_CLICKED, id, fn)

// Owner drawing.
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODT_STATIC = 5;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODA_FOCUS = 0x0004;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_FOCUS = 0x0010;
struct DRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  std::uintptr_t itemData;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

class CCmdTarget : public CObject {
 public:
  static const CRuntimeClass classCCmdTarget;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCCmdTarget; }
};

namespace win {
struct WindowData;
}

class CWnd : public CCmdTarget {
 public:
  static const CRuntimeClass classCWnd;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCWnd; }

  CWnd();
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  // The window object of a handle, or null for an unknown or destroyed one.
  static CWnd* FromHandle(HWND hwnd);
  static CWnd* FromHandlePermanent(HWND hwnd) { return FromHandle(hwnd); }

  // className selects the kind of native control for the control classes
  // ("BUTTON", "STATIC", "EDIT", "COMBOBOX"); anything else is a plain window.
  virtual BOOL Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id, void* context = nullptr);
  BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                const RECT& rect, CWnd* parent, UINT id, void* param = nullptr);
  BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                int y, int w, int h, HWND parent, void* menu, void* param = nullptr);
  virtual BOOL DestroyWindow();

  // Messages.
  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0);
  BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0);
  LRESULT Default();
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp);
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual BOOL OnCommand(WPARAM wp, LPARAM lp);
  virtual BOOL OnNotify(WPARAM wp, LPARAM lp, LRESULT* result);
  virtual BOOL OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  // The control colour kind (CTLCOLOR_*) of the WM_CTLCOLOR being handled.
  static UINT CurrentCtlColor();

  // Geometry and state.
  BOOL ShowWindow(int cmd);
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT r, BOOL repaint = TRUE) { MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, repaint); }
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  void GetClientRect(LPRECT r) const;
  void GetWindowRect(LPRECT r) const;
  BOOL GetWindowPlacement(WINDOWPLACEMENT* wp) const;
  BOOL SetWindowPlacement(const WINDOWPLACEMENT* wp);
  void MapWindowPoints(CWnd* to, LPRECT r) const;
  void MapWindowPoints(CWnd* to, LPPOINT p, UINT n) const;
  void ClientToScreen(LPPOINT p) const;
  void ClientToScreen(LPRECT r) const;
  void ScreenToClient(LPPOINT p) const;
  void ScreenToClient(LPRECT r) const;
  CWnd* GetParent() const;
  // Not virtual, as in MFC: a derived class's own SetParent hides it.
  CWnd* SetParent(CWnd* newParent);
  CWnd* GetOwner() const { return GetParent(); }
  CWnd* GetTopLevelParent() const;
  BOOL IsChild(const CWnd* w) const;
  CWnd* GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  int SetDlgCtrlID(int id);
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  void SetWindowText(const char* text);
  void GetWindowText(CString& out) const;
  int GetWindowText(char* buf, int max) const;
  int GetWindowTextLength() const;
  void SetDlgItemText(int id, const char* text);
  UINT GetDlgItemText(int id, CString& out) const;
  void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE);
  // 0 with *ok FALSE when the text is not a number.
  UINT GetDlgItemInt(int id, BOOL* ok = nullptr, BOOL isSigned = TRUE) const;
  void SetFont(CFont* font, BOOL redraw = TRUE);
  CFont* GetFont() const;
  HICON SetIcon(HICON icon, BOOL big);
  int SetWindowRgn(HRGN rgn, BOOL redraw);
  void CenterWindow(CWnd* alternateOwner = nullptr);
  void BringWindowToTop();
  CWnd* SetFocus();
  static CWnd* GetFocus();
  void SetForegroundWindow() {}

  // Painting.
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT r, BOOL erase = TRUE);
  void ValidateRect(LPCRECT r);
  void UpdateWindow();
  BOOL RedrawWindow(LPCRECT r = nullptr, CRgn* rgn = nullptr, UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  CDC* GetDC();
  int ReleaseDC(CDC* dc);

  // Timers, capture and focus.
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, void (*proc)(HWND, UINT, UINT_PTR, DWORD) = nullptr);
  BOOL KillTimer(UINT_PTR id);
  CWnd* SetCapture();
  static CWnd* GetCapture();

  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

  // Owner drawing (buttons call it on their own surface DC).
  virtual void DrawItem(LPDRAWITEMSTRUCT dis);

  // The host widget (a QWidget*), for code that must reach Qt directly.
  void* GetHostWidget() const;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
  virtual void PostNcDestroy() {}
  virtual BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

  // Default handlers derived classes call as the base.
  int OnCreate(LPCREATESTRUCT) { return 0; }
  void OnDestroy() { Default(); }
  void OnClose() { Default(); }
  void OnPaint() { Default(); }
  BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
  void OnSize(UINT, int, int) { Default(); }
  void OnMove(int, int) { Default(); }
  void OnTimer(UINT_PTR) { Default(); }
  void OnShowWindow(BOOL, UINT) { Default(); }
  void OnActivate(UINT, CWnd*, BOOL) { Default(); }
  void OnSetFocus(CWnd*) { Default(); }
  void OnKillFocus(CWnd*) { Default(); }
  void OnMouseMove(UINT, CPoint) { Default(); }
  void OnLButtonDown(UINT, CPoint) { Default(); }
  void OnLButtonUp(UINT, CPoint) { Default(); }
  void OnLButtonDblClk(UINT, CPoint) { Default(); }
  void OnRButtonDown(UINT, CPoint) { Default(); }
  void OnRButtonUp(UINT, CPoint) { Default(); }
  void OnRButtonDblClk(UINT, CPoint) { Default(); }
  void OnMButtonDown(UINT, CPoint) { Default(); }
  void OnMButtonUp(UINT, CPoint) { Default(); }
  void OnMButtonDblClk(UINT, CPoint) { Default(); }
  void OnMouseHover(UINT, CPoint) { Default(); }
  void OnMouseLeave() { Default(); }
  BOOL OnMouseWheel(UINT, short, CPoint) { return static_cast<BOOL>(Default()); }
  void OnKeyDown(UINT, UINT, UINT) { Default(); }
  void OnKeyUp(UINT, UINT, UINT) { Default(); }
  void OnChar(UINT, UINT, UINT) { Default(); }
  BOOL OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
  HBRUSH OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
  void OnCaptureChanged(CWnd*) { Default(); }
  void OnParentNotify(UINT, LPARAM) { Default(); }
  void OnDrawItem(int, LPDRAWITEMSTRUCT) { Default(); }
  void OnSysCommand(UINT, LPARAM) { Default(); }
  LRESULT OnNcHitTest(CPoint) { return Default(); }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
  void OnHScroll(UINT, UINT, CWnd*) { Default(); }
  void OnVScroll(UINT, UINT, CWnd*) { Default(); }

 public:
  // Internal state of the stand-in; not for callers.
  win::WindowData* m_pData = nullptr;
};

// The Win32 functions over window handles. All fail cleanly (FALSE, 0,
// null) for an unknown or destroyed handle.
BOOL DestroyWindow(HWND hwnd);
HWND SetParent(HWND child, HWND newParent);
BOOL ShowWindow(HWND hwnd, int cmd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
BOOL MoveWindow(HWND hwnd, int x, int y, int w, int h, BOOL repaint);
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL GetClientRect(HWND hwnd, RECT* r);
BOOL GetWindowRect(HWND hwnd, RECT* r);
BOOL ClientToScreen(HWND hwnd, POINT* p);
BOOL ScreenToClient(HWND hwnd, POINT* p);
int MapWindowPoints(HWND from, HWND to, POINT* pts, UINT n);
HWND GetParent(HWND hwnd);
HWND GetDlgItem(HWND hwnd, int id);
int GetDlgCtrlID(HWND hwnd);
BOOL SetWindowTextA(HWND hwnd, const char* text);
int GetWindowTextA(HWND hwnd, char* buf, int max);
inline BOOL SetWindowText(HWND h, const char* t) { return SetWindowTextA(h, t); }
BOOL InvalidateRect(HWND hwnd, const RECT* r, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* r);
BOOL UpdateWindow(HWND hwnd);
int SetWindowRgn(HWND hwnd, HRGN rgn, BOOL redraw);
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, void (*proc)(HWND, UINT, UINT_PTR, DWORD));
BOOL KillTimer(HWND hwnd, UINT_PTR id);
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();
HWND SetFocus(HWND hwnd);
HWND GetFocus();
BOOL TrackMouseEvent(TRACKMOUSEEVENT* tme);
BOOL _TrackMouseEvent(TRACKMOUSEEVENT* tme);
UINT GetDoubleClickTime();
BOOL SystemParametersInfoA(UINT action, UINT param, void* out, UINT winIni);
inline BOOL SystemParametersInfo(UINT a, UINT p, void* o, UINT w) { return SystemParametersInfoA(a, p, o, w); }
int GetSystemMetrics(int index);
HCURSOR SetCursor(HCURSOR c);
// With a module handle, LoadCursorA looks the id up among the program's
// cursor resources (win::RegisterCursorResource); without one, a system
// cursor (IDC_...).
HCURSOR LoadCursorA(HINSTANCE inst, const char* name);
// The cursor last set with SetCursor.
HCURSOR GetCursor();
inline HCURSOR LoadCursor(HINSTANCE i, const char* n) { return LoadCursorA(i, n); }
#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_IBEAM MAKEINTRESOURCE(32513)
#define IDC_WAIT MAKEINTRESOURCE(32514)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDC_SIZEALL MAKEINTRESOURCE(32646)
#define IDC_HAND MAKEINTRESOURCE(32649)
namespace win {
// The program's cursor resources: resource id -> the system cursor it
// shows (an IDC_ value). Registering an id again replaces it.
void RegisterCursorResource(UINT resourceId, const char* systemCursor);
}  // namespace win
inline constexpr HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(1);
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);

// The one clock (steady milliseconds) behind timers, hover and tooltip
// delays and timeGetTime.
DWORD timeGetTime();
DWORD GetTickCount();
UINT timeBeginPeriod(UINT);
UINT timeEndPeriod(UINT);
void Sleep(DWORD ms);

void OutputDebugStringA(const char* s);
inline void OutputDebugString(const char* s) { OutputDebugStringA(s); }
DWORD GetModuleFileNameA(HMODULE module, char* buf, DWORD size);
inline DWORD GetModuleFileName(HMODULE m, char* b, DWORD s) { return GetModuleFileNameA(m, b, s); }
HMODULE GetModuleHandleA(const char* name);
constexpr int _MAX_PATH = 260;
constexpr int MAX_PATH = 260;
constexpr int _MAX_DRIVE = 3;
constexpr int _MAX_DIR = 256;
constexpr int _MAX_FNAME = 256;
constexpr int _MAX_EXT = 256;
// Splits at the last "/" or "\"; the directory keeps its trailing separator
// (as "/"), the drive is empty unless the path starts with a letter and ":".
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

namespace win {

// Runs posted messages and pending paints until none is left. Returns the
// number of messages dispatched.
int PumpMessages();
// Makes sure a QApplication exists (offscreen when there is no display);
// made by CWinApp or the test main otherwise.
void EnsureApplication();
// The platform list used when QT_QPA_PLATFORM is unset: X11 (or XWayland)
// first, since only there may a program move its own top-level windows;
// offscreen without any display. Sets the variable; leaves a set one alone.
void ChooseQtPlatform();

// Destroys the window and deletes the object once the message being handled
// has returned: from PumpMessages at the outermost level, and before the
// program or test run exits. For an object whose own handler (or a child's)
// may still be on the stack. The object must come from new; nothing else of
// it, its owner included, is touched. User-interface thread only.
void DestroyWindowLater(CWnd* wnd);
// Runs the pending deferred destructions now (at exit).
void RunDeferredDestruction();
bool IsUiThread();

// Test clock: while one exists, timers, hover, tooltip delays and
// timeGetTime read it. Advance fires due events in time order on the calling
// (UI) thread, then pumps messages; each timer keeps at most one WM_TIMER
// pending.
class ManualClock {
 public:
  explicit ManualClock(DWORD startMs = 1000);
  ~ManualClock();
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;
  void Advance(DWORD ms);
  DWORD Now() const;
};

// Internal scheduler of the clock: callbacks at a time, on the UI thread.
using ScheduleId = std::uint64_t;
ScheduleId Schedule(DWORD dueMs, std::function<void()> fn);
void Unschedule(ScheduleId id);

}  // namespace win
