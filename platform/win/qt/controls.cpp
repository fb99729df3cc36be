#include "win/controls.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolTip>
#include <algorithm>
#include <cstring>

#include "window_internal.h"

const CRuntimeClass CButton::classCButton = {"CButton", &CWnd::classCWnd};
const CRuntimeClass CBitmapButton::classCBitmapButton = {"CBitmapButton", &CButton::classCButton};
const CRuntimeClass CStatic::classCStatic = {"CStatic", &CWnd::classCWnd};
const CRuntimeClass CEdit::classCEdit = {"CEdit", &CWnd::classCWnd};
const CRuntimeClass CComboBox::classCComboBox = {"CComboBox", &CWnd::classCWnd};
const CRuntimeClass CToolTipCtrl::classCToolTipCtrl = {"CToolTipCtrl", &CWnd::classCWnd};

namespace win {
namespace {

bool Is(const WindowData* d, const char* cls) { return QString::fromStdString(d->className).compare(QLatin1String(cls), Qt::CaseInsensitive) == 0; }

void Notify(HWND h, UINT code) {
  WindowData* d = Lookup(h);
  if (!d || !d->parent) return;
  ::SendMessage(d->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(d->id), static_cast<WORD>(code)), reinterpret_cast<LPARAM>(h));
}

// ---- Buttons ----------------------------------------------------------------

struct ButtonState {
  bool pressed = false;
  bool inside = false;
  bool pushed = false;  // BM_SETSTATE
  int check = 0;
};

bool OwnerDraw(const WindowData* d) { return (d->style & BS_TYPEMASK) == BS_OWNERDRAW; }

void ApplyButtonMode(WindowData* d) {
  if (!d->native) return;
  d->native->setVisible(!OwnerDraw(d));
  if (auto* b = qobject_cast<QPushButton*>(d->native)) b->setDefault((d->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
}

std::map<std::uintptr_t, ButtonState>& Buttons() {
  static auto* m = new std::map<std::uintptr_t, ButtonState>;
  return *m;
}

void PaintOwnerDraw(HWND h, HDC dc) {
  WindowData* d = Lookup(h);
  if (!d) return;
  const ButtonState& s = Buttons()[reinterpret_cast<std::uintptr_t>(h)];
  DRAWITEMSTRUCT dis{};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = d->id;
  dis.itemAction = ODA_DRAWENTIRE;
  if ((s.pressed && s.inside) || s.pushed) dis.itemState |= ODS_SELECTED;
  if (d->style & WS_DISABLED) dis.itemState |= ODS_DISABLED;
  if (::GetFocus() == h) dis.itemState |= ODS_FOCUS;
  dis.hwndItem = h;
  dis.hDC = dc;
  dis.rcItem = RECT{0, 0, d->surface.width(), d->surface.height()};
  // Through the parent, whose default handling reflects it to the control.
  if (d->parent && Lookup(d->parent)) ::SendMessage(d->parent, WM_DRAWITEM, d->id, reinterpret_cast<LPARAM>(&dis));
  else d->wnd->DrawItem(&dis);
}

void MakeButton(WindowData* d) {
  auto* b = new QPushButton(QString::fromLocal8Bit(d->text.c_str()), d->host);
  b->setFocusPolicy(Qt::StrongFocus);
  const HWND h = d->hwnd;
  QObject::connect(b, &QPushButton::clicked, [h] { Notify(h, BN_CLICKED); });
  d->native = b;
  d->ctlColorMsg = WM_CTLCOLORBTN;
  Buttons()[reinterpret_cast<std::uintptr_t>(h)] = ButtonState{};
  d->defaultPaint = [h](HDC dc) {
    WindowData* w = Lookup(h);
    if (w && OwnerDraw(w)) PaintOwnerDraw(h, dc);
  };
  ApplyButtonMode(d);
}

// ---- Statics ----------------------------------------------------------------

void PaintStatic(HWND h, HDC dc) {
  WindowData* d = Lookup(h);
  if (!d) return;
  const DWORD type = d->style & SS_TYPEMASK;
  const RECT rc{0, 0, d->surface.width(), d->surface.height()};
  if (type == SS_OWNERDRAW) {
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_STATIC;
    dis.CtlID = d->id;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.hwndItem = h;
    dis.hDC = dc;
    dis.rcItem = rc;
    if (d->parent) ::SendMessage(d->parent, WM_DRAWITEM, d->id, reinterpret_cast<LPARAM>(&dis));
    return;
  }
  HBRUSH brush = d->parent ? reinterpret_cast<HBRUSH>(::SendMessage(d->parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(h))) : nullptr;
  if (!brush) brush = GetSysColorBrush(COLOR_BTNFACE);
  switch (type) {
    case SS_BLACKRECT: FillRect(dc, &rc, GetStockObject(BLACK_BRUSH)); return;
    case SS_GRAYRECT: FillRect(dc, &rc, GetStockObject(GRAY_BRUSH)); return;
    case SS_WHITERECT: FillRect(dc, &rc, GetStockObject(WHITE_BRUSH)); return;
    case SS_BLACKFRAME: FrameRect(dc, &rc, GetStockObject(BLACK_BRUSH)); return;
    case SS_GRAYFRAME:
    case SS_ETCHEDFRAME: FrameRect(dc, &rc, GetSysColorBrush(COLOR_BTNSHADOW)); return;
    case SS_WHITEFRAME: FrameRect(dc, &rc, GetStockObject(WHITE_BRUSH)); return;
    default: break;
  }
  FillRect(dc, &rc, brush);
  if (d->text.empty() || type == SS_BITMAP || type == SS_ICON) return;
  HGDIOBJ oldFont = d->font ? SelectObject(dc, d->font) : nullptr;
  UINT f = (type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT);
  if (d->style & SS_CENTERIMAGE) f |= DT_VCENTER | DT_SINGLELINE;
  else if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) f |= DT_SINGLELINE;
  else f |= DT_WORDBREAK;
  if (d->style & SS_NOPREFIX) f |= DT_NOPREFIX;
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  RECT r = rc;
  DrawTextA(dc, d->text.c_str(), -1, &r, f);
  SetBkMode(dc, oldMode);
  if (oldFont) SelectObject(dc, oldFont);
}

void MakeStatic(WindowData* d) {
  const HWND h = d->hwnd;
  d->passMouse = !(d->style & SS_NOTIFY);
  d->ctlColorMsg = WM_CTLCOLORSTATIC;
  d->defaultPaint = [h](HDC dc) { PaintStatic(h, dc); };
}

// ---- Edits and combo boxes -------------------------------------------------

// A multi-line edit: the text keeps its line ends (CR LF or LF) and wraps
// at the width unless the edit scrolls sideways.
void MakeMultiLineEdit(WindowData* d) {
  auto* e = new QPlainTextEdit(QString::fromLocal8Bit(d->text.c_str()), d->host);
  e->setReadOnly(d->style & ES_READONLY);
  e->setLineWrapMode((d->style & ES_AUTOHSCROLL) ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  const HWND h = d->hwnd;
  QObject::connect(e, &QPlainTextEdit::textChanged, [h] { Notify(h, EN_CHANGE); });
  d->native = e;
  d->ctlColorMsg = WM_CTLCOLOREDIT;
}

void MakeEdit(WindowData* d) {
  if (d->style & ES_MULTILINE) {
    MakeMultiLineEdit(d);
    return;
  }
  auto* e = new QLineEdit(QString::fromLocal8Bit(d->text.c_str()), d->host);
  const DWORD a = d->style & 3;
  e->setAlignment(a == ES_CENTER ? Qt::AlignCenter : a == ES_RIGHT ? (Qt::AlignRight | Qt::AlignVCenter) : (Qt::AlignLeft | Qt::AlignVCenter));
  e->setReadOnly(d->style & ES_READONLY);
  const HWND h = d->hwnd;
  QObject::connect(e, &QLineEdit::textEdited, [h](const QString&) { Notify(h, EN_CHANGE); });
  d->native = e;
  d->ctlColorMsg = WM_CTLCOLOREDIT;
}

void MakeCombo(WindowData* d) {
  auto* c = new QComboBox(d->host);
  c->setEditable((d->style & 3) == CBS_DROPDOWN);
  const HWND h = d->hwnd;
  QObject::connect(c, QOverload<int>::of(&QComboBox::activated), [h](int) { Notify(h, CBN_SELCHANGE); });
  d->native = c;
}

}  // namespace

namespace {
constexpr int kClosedComboHeight = 24;
}

void FitControl(WindowData* d) {
  if (!d->native) return;
  // A drop-down list shows its closed box only; the list opens below it.
  const bool combo = qobject_cast<QComboBox*>(d->native) != nullptr;
  d->native->setGeometry(0, 0, d->surface.width(),
                         combo ? std::min(d->surface.height(), kClosedComboHeight) : d->surface.height());
}

int CreatedControlHeight(const std::string& className, DWORD style, int asked) {
  const bool combo = QString::fromStdString(className).compare(QLatin1String("COMBOBOX"), Qt::CaseInsensitive) == 0;
  if (!combo || (style & 3) == CBS_SIMPLE) return asked;
  return std::min(asked, kClosedComboHeight);
}

void CreateControl(WindowData* d) {
  if (Is(d, "BUTTON")) MakeButton(d);
  else if (Is(d, "STATIC")) MakeStatic(d);
  else if (Is(d, "EDIT")) MakeEdit(d);
  else if (Is(d, "COMBOBOX")) MakeCombo(d);
  else if (Is(d, "tooltips_class32")) d->passMouse = true;
  if (d->native) {
    FitControl(d);
    d->native->setFont(FontOf(d->font));
    d->native->show();
    if (Is(d, "BUTTON")) ApplyButtonMode(d);
  }
}

// Messages every control handles before its message map's defaults; true
// when handled.
bool ControlMessage(WindowData* d, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
  const HWND h = d->hwnd;
  if (Is(d, "BUTTON")) {
    ButtonState& s = Buttons()[reinterpret_cast<std::uintptr_t>(h)];
    auto redraw = [&] {
      ::InvalidateRect(h, nullptr, FALSE);
      ::UpdateWindow(h);
    };
    const CPoint pt(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    const bool inside = pt.x >= 0 && pt.y >= 0 && pt.x < d->surface.width() && pt.y < d->surface.height() &&
                        (!d->hasRegion || d->region.contains(QPoint(pt.x, pt.y)));
    switch (msg) {
      case BM_SETSTYLE:
        d->style = (d->style & ~0xFFFFu) | (static_cast<DWORD>(wp) & 0xFFFF);
        ApplyButtonMode(d);
        // Redrawn at the next paint, as the platform does.
        if (lp) ::InvalidateRect(h, nullptr, TRUE);
        *r = 0;
        return true;
      case BM_GETCHECK: *r = s.check; return true;
      case BM_SETCHECK:
        s.check = static_cast<int>(wp);
        if (auto* b = qobject_cast<QPushButton*>(d->native); b && b->isCheckable()) b->setChecked(wp != 0);
        *r = 0;
        return true;
      case BM_GETSTATE: *r = (s.check ? BST_CHECKED : 0) | ((s.pushed || (s.pressed && s.inside)) ? BST_PUSHED : 0); return true;
      case BM_SETSTATE: s.pushed = wp != 0; redraw(); *r = 0; return true;
      case BM_CLICK: Notify(h, BN_CLICKED); *r = 0; return true;
      case WM_SETTEXT:
        if (auto* b = qobject_cast<QPushButton*>(d->native)) b->setText(QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : ""));
        return false;
      default: break;
    }
    if (!OwnerDraw(d)) return false;
    switch (msg) {
      case WM_LBUTTONDOWN:
        s.pressed = true;
        s.inside = inside;
        ::SetCapture(h);
        redraw();
        return false;
      case WM_MOUSEMOVE:
        if (s.pressed && inside != s.inside) {
          s.inside = inside;
          redraw();
        }
        return false;
      case WM_LBUTTONUP:
        if (s.pressed) {
          const bool click = inside;
          s.pressed = false;
          if (::GetCapture() == h) ::ReleaseCapture();
          redraw();
          if (click) Notify(h, BN_CLICKED);
        }
        return false;
      case WM_LBUTTONDBLCLK:
        if (inside) Notify(h, BN_DOUBLECLICKED);
        return false;
      case WM_CAPTURECHANGED:
        if (s.pressed) {
          s.pressed = false;
          redraw();
        }
        return false;
      default: return false;
    }
  }
  if (Is(d, "STATIC")) {
    if ((d->style & SS_NOTIFY) && msg == WM_LBUTTONDOWN) Notify(h, STN_CLICKED);
    if ((d->style & SS_NOTIFY) && msg == WM_LBUTTONDBLCLK) Notify(h, STN_DBLCLK);
    if (msg == WM_SETTEXT) {
      d->text = lp ? reinterpret_cast<const char*>(lp) : "";
      ::InvalidateRect(h, nullptr, TRUE);
      *r = TRUE;
      return true;
    }
    return false;
  }
  if (auto* e = qobject_cast<QLineEdit*>(d->native)) {
    switch (msg) {
      case WM_SETTEXT: {
        const QSignalBlocker block(e);
        e->setText(QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : ""));
        d->text = e->text().toStdString();
        *r = TRUE;
        Notify(h, EN_CHANGE);
        return true;
      }
      case WM_GETTEXT:
        d->text = e->text().toLocal8Bit().toStdString();
        return false;
      case EM_SETSEL:
        if (static_cast<int>(wp) == 0 && static_cast<int>(lp) == -1) e->selectAll();
        else if (static_cast<int>(wp) >= 0) e->setSelection(static_cast<int>(wp), static_cast<int>(lp) - static_cast<int>(wp));
        *r = 0;
        return true;
      case EM_SETREADONLY: e->setReadOnly(wp != 0); *r = TRUE; return true;
      default: return false;
    }
  }
  if (auto* e = qobject_cast<QPlainTextEdit*>(d->native)) {
    switch (msg) {
      case WM_SETTEXT: {
        {
          const QSignalBlocker block(e);
          // CR LF is one line end, as the edit control reads it.
          e->setPlainText(QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : "").replace("\r\n", "\n"));
        }
        d->text = lp ? reinterpret_cast<const char*>(lp) : "";
        *r = TRUE;
        Notify(h, EN_CHANGE);
        return true;
      }
      case WM_GETTEXT: {
        // Text set through the window comes back as it was set; typed text
        // comes back with LF line ends.
        const std::string typed = e->toPlainText().toLocal8Bit().toStdString();
        if (QString::fromLocal8Bit(d->text.c_str()).replace("\r\n", "\n").toLocal8Bit().toStdString() != typed)
          d->text = typed;
        return false;
      }
      case EM_SETSEL:
        if (static_cast<int>(wp) == 0 && static_cast<int>(lp) == -1) e->selectAll();
        *r = 0;
        return true;
      case EM_SETREADONLY: e->setReadOnly(wp != 0); *r = TRUE; return true;
      default: return false;
    }
  }
  if (auto* c = qobject_cast<QComboBox*>(d->native)) {
    const int n = c->count();
    const int i = static_cast<int>(static_cast<std::intptr_t>(wp));
    switch (msg) {
      case CB_ADDSTRING: {
        const QString s = QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : "");
        int at = n;
        if (d->style & CBS_SORT)
          for (at = 0; at < n && QString::compare(c->itemText(at), s, Qt::CaseInsensitive) <= 0; ++at) {}
        c->insertItem(at, s);
        *r = at;
        return true;
      }
      case CB_INSERTSTRING: {
        const int at = i < 0 || i > n ? n : i;
        c->insertItem(at, QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : ""));
        *r = at;
        return true;
      }
      case CB_DELETESTRING:
        if (i < 0 || i >= n) { *r = CB_ERR; return true; }
        c->removeItem(i);
        *r = c->count();
        return true;
      case CB_RESETCONTENT: c->clear(); *r = 0; return true;
      case CB_GETCOUNT: *r = n; return true;
      case CB_GETCURSEL: *r = c->currentIndex(); return true;
      case CB_SETCURSEL: {
        const QSignalBlocker block(c);
        c->setCurrentIndex(i >= 0 && i < n ? i : -1);
        *r = i >= 0 && i < n ? i : CB_ERR;
        return true;
      }
      case CB_GETLBTEXTLEN: *r = i >= 0 && i < n ? c->itemText(i).toLocal8Bit().size() : CB_ERR; return true;
      case CB_GETLBTEXT: {
        if (i < 0 || i >= n || !lp) { *r = CB_ERR; return true; }
        const QByteArray t = c->itemText(i).toLocal8Bit();
        std::memcpy(reinterpret_cast<char*>(lp), t.constData(), static_cast<size_t>(t.size()) + 1);
        *r = t.size();
        return true;
      }
      case CB_SETITEMDATA:
        if (i < 0 || i >= n) { *r = CB_ERR; return true; }
        c->setItemData(i, QVariant::fromValue<qlonglong>(static_cast<qlonglong>(lp)));
        *r = 0;
        return true;
      case CB_GETITEMDATA: *r = i >= 0 && i < n ? static_cast<LRESULT>(c->itemData(i).toLongLong()) : CB_ERR; return true;
      case CB_FINDSTRINGEXACT: {
        const QString s = QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : "");
        *r = CB_ERR;
        for (int k = std::max(0, i + 1); k < n; ++k)
          if (QString::compare(c->itemText(k), s, Qt::CaseInsensitive) == 0) { *r = k; break; }
        if (*r == CB_ERR)
          for (int k = 0; k < std::min(n, std::max(0, i + 1)); ++k)
            if (QString::compare(c->itemText(k), s, Qt::CaseInsensitive) == 0) { *r = k; break; }
        return true;
      }
      case WM_SETTEXT:
        if (c->isEditable()) c->setEditText(QString::fromLocal8Bit(lp ? reinterpret_cast<const char*>(lp) : ""));
        return false;
      case WM_GETTEXT: d->text = c->currentText().toLocal8Bit().toStdString(); return false;
      default: return false;
    }
  }
  return false;
}

void ForgetControl(HWND h) { Buttons().erase(reinterpret_cast<std::uintptr_t>(h)); }

}  // namespace win

using namespace win;

BOOL CButton::Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create("BUTTON", caption, style, rect, parent, id);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CBitmapButton::LoadBitmaps(UINT, UINT, UINT, UINT) { return FALSE; }  // no resource bitmaps here

BOOL CBitmapButton::LoadBitmaps(const char*, const char*, const char*, const char*) { return FALSE; }

void CBitmapButton::SizeToContent() {
  BITMAP bm{};
  if (!m_bitmap.m_hObject || !m_bitmap.GetBitmap(&bm)) return;
  SetWindowPos(nullptr, 0, 0, bm.bmWidth, bm.bmHeight, SWP_NOMOVE | SWP_NOZORDER);
}

void CBitmapButton::DrawItem(LPDRAWITEMSTRUCT dis) {
  CBitmap* b = &m_bitmap;
  if ((dis->itemState & ODS_SELECTED) && m_bitmapSel.m_hObject) b = &m_bitmapSel;
  else if ((dis->itemState & ODS_FOCUS) && m_bitmapFocus.m_hObject) b = &m_bitmapFocus;
  else if ((dis->itemState & ODS_DISABLED) && m_bitmapDisabled.m_hObject) b = &m_bitmapDisabled;
  if (!b->m_hObject) return;
  HDC mem = CreateCompatibleDC(dis->hDC);
  HGDIOBJ old = SelectObject(mem, b->m_hObject);
  const CRect r(dis->rcItem);
  BitBlt(dis->hDC, r.left, r.top, r.Width(), r.Height(), mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

BOOL CStatic::Create(const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create("STATIC", text, style, rect, parent, id);
}

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create("EDIT", "", style, rect, parent, id);
}

BOOL CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create("COMBOBOX", "", style, rect, parent, id);
}

void CComboBox::GetLBText(int i, CString& out) const {
  const int n = GetLBTextLen(i);
  if (n < 0) {
    out.Empty();
    return;
  }
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  const_cast<CComboBox*>(this)->SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.data()));
  out = buf.data();
}

// ---- Tooltip ----------------------------------------------------------------

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
  // A popup of its own so it never takes part in its owner's composition.
  return CreateEx(0, "tooltips_class32", "", WS_POPUP | style, CRect(0, 0, 0, 0), parent, 0);
}

BOOL CToolTipCtrl::AddTool(CWnd* wnd, const char* text, LPCRECT rect, UINT_PTR id) {
  if (!wnd) return FALSE;
  TOOLINFOA ti{sizeof(TOOLINFOA), 0, wnd->m_hWnd, id, rect ? *rect : RECT{0, 0, 0, 0}, nullptr, text, 0};
  if (!rect) {
    ti.uFlags |= TTF_IDISHWND;
    wnd->GetClientRect(&ti.rect);
  }
  return static_cast<BOOL>(SendMessage(TTM_ADDTOOL, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::UpdateTipText(const char* text, CWnd* wnd, UINT_PTR id) {
  if (!wnd) return;
  TOOLINFOA ti{sizeof(TOOLINFOA), 0, wnd->m_hWnd, id, RECT{0, 0, 0, 0}, nullptr, text, 0};
  SendMessage(TTM_UPDATETIPTEXT, 0, reinterpret_cast<LPARAM>(&ti));
}

bool CToolTipCtrl::IsActive() const { return active_; }
bool CToolTipCtrl::IsShown() const { return shown_; }
std::string CToolTipCtrl::ShownText() const { return shown_ ? shownText_ : std::string(); }
int CToolTipCtrl::InitialDelay() const { return initial_; }
int CToolTipCtrl::AutoPopDelay() const { return autoPop_; }

void CToolTipCtrl::Show(const Tool& t) {
  shown_ = true;
  shownText_ = t.text;
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) QToolTip::showText(QCursor::pos(), QString::fromLocal8Bit(t.text.c_str()));
  Unschedule(popEvent_);
  const HWND self = m_hWnd;
  popEvent_ = Schedule(timeGetTime() + static_cast<DWORD>(autoPop_), [self] {
    if (auto* tip = dynamic_cast<CToolTipCtrl*>(CWnd::FromHandle(self))) {
      tip->popEvent_ = 0;
      tip->Hide();
    }
  });
}

void CToolTipCtrl::Hide() {
  if (shown_ && QGuiApplication::platformName() != QLatin1String("offscreen")) QToolTip::hideText();
  shown_ = false;
  Unschedule(showEvent_);
  Unschedule(popEvent_);
  showEvent_ = popEvent_ = 0;
  pendingTool_ = -1;
}

LRESULT CToolTipCtrl::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case TTM_ACTIVATE:
      active_ = wp != 0;
      if (!active_) Hide();
      return 0;
    case TTM_SETDELAYTIME: {
      const int v = static_cast<int>(lp);
      if (wp == TTDT_AUTOMATIC) {
        // The automatic delay sets the others from it.
        initial_ = v < 0 ? 500 : v;
        autoPop_ = initial_ * 10;
        reshow_ = initial_ / 5;
      } else if (wp == TTDT_INITIAL) initial_ = v;
      else if (wp == TTDT_AUTOPOP) autoPop_ = v;
      else if (wp == TTDT_RESHOW) reshow_ = v;
      return 0;
    }
    case TTM_ADDTOOL: {
      const auto* ti = reinterpret_cast<const TOOLINFOA*>(lp);
      if (!ti) return FALSE;
      tools_.push_back({ti->hwnd, ti->uId, ti->rect, ti->lpszText ? ti->lpszText : ""});
      return TRUE;
    }
    case TTM_DELTOOL: {
      const auto* ti = reinterpret_cast<const TOOLINFOA*>(lp);
      if (!ti) return 0;
      tools_.erase(std::remove_if(tools_.begin(), tools_.end(), [&](const Tool& t) { return t.hwnd == ti->hwnd && t.id == ti->uId; }), tools_.end());
      Hide();
      return 0;
    }
    case TTM_UPDATETIPTEXT: {
      const auto* ti = reinterpret_cast<const TOOLINFOA*>(lp);
      if (!ti) return 0;
      for (Tool& t : tools_)
        if (t.hwnd == ti->hwnd && t.id == ti->uId) {
          t.text = ti->lpszText ? ti->lpszText : "";
          if (shown_) shownText_ = t.text;
        }
      return 0;
    }
    case TTM_GETTOOLCOUNT: return static_cast<LRESULT>(tools_.size());
    case TTM_POP: Hide(); return 0;
    case TTM_UPDATE: return 0;
    case TTM_RELAYEVENT: {
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      if (!m || !active_) return 0;
      if (m->message == WM_LBUTTONDOWN || m->message == WM_RBUTTONDOWN || m->message == WM_MBUTTONDOWN) {
        Hide();
        return 0;
      }
      if (m->message != WM_MOUSEMOVE) return 0;
      const POINT pt{GET_X_LPARAM(m->lParam), GET_Y_LPARAM(m->lParam)};
      int hit = -1;
      for (size_t i = 0; i < tools_.size(); ++i)
        if (tools_[i].hwnd == m->hwnd && CRect(tools_[i].rect).PtInRect(pt)) hit = static_cast<int>(i);
      if (hit < 0) {
        Hide();
        return 0;
      }
      if (shown_ || (pendingTool_ == hit && pt.x == lastPt_.x && pt.y == lastPt_.y)) return 0;
      // Each move restarts the wait: the tip shows after the pointer rests.
      lastPt_ = pt;
      pendingTool_ = hit;
      Unschedule(showEvent_);
      const HWND self = m_hWnd;
      showEvent_ = Schedule(timeGetTime() + static_cast<DWORD>(initial_), [self, hit] {
        auto* tip = dynamic_cast<CToolTipCtrl*>(CWnd::FromHandle(self));
        if (!tip || tip->pendingTool_ != hit || hit >= static_cast<int>(tip->tools_.size())) return;
        tip->showEvent_ = 0;
        tip->Show(tip->tools_[static_cast<size_t>(hit)]);
      });
      return 0;
    }
    case WM_DESTROY:
      Hide();
      break;
    default: break;
  }
  return CWnd::WindowProc(msg, wp, lp);
}

// ---- Rectangle tracker ------------------------------------------------------

namespace {
class TrackFilter : public QObject {
 public:
  TrackFilter(QWidget* on, QEventLoop* loop, CRect* rect, CPoint start, bool rubber)
      : on_(on), loop_(loop), rect_(rect), start_(start), orig_(*rect), rubber_(rubber) {}
  bool accepted = false;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    switch (e->type()) {
      case QEvent::MouseMove: {
        const QPoint p = on_->mapFromGlobal(static_cast<QMouseEvent*>(e)->globalPosition().toPoint());
        if (rubber_) {
          *rect_ = CRect(start_.x, start_.y, p.x(), p.y());
        } else {
          *rect_ = orig_;
          rect_->OffsetRect(p.x() - start_.x, p.y() - start_.y);
        }
        return true;
      }
      case QEvent::MouseButtonRelease:
        accepted = true;
        loop_->quit();
        return true;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: return true;
      case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
          *rect_ = orig_;
          loop_->quit();
        }
        return true;
      default: return false;
    }
  }

 private:
  QWidget* on_;
  QEventLoop* loop_;
  CRect* rect_;
  CPoint start_;
  CRect orig_;
  bool rubber_;
};
}  // namespace

BOOL CRectTracker::Run(CWnd* wnd, CPoint point, bool rubber, bool allowInvert) {
  auto* host = wnd ? static_cast<QWidget*>(wnd->GetHostWidget()) : nullptr;
  if (!host) return FALSE;
  if (rubber) m_rect = CRect(point.x, point.y, point.x, point.y);
  QEventLoop loop;
  TrackFilter filter(host, &loop, &m_rect, point, rubber);
  qApp->installEventFilter(&filter);
  const HWND h = wnd->m_hWnd;
  ::SetCapture(h);
  loop.exec();
  qApp->removeEventFilter(&filter);
  if (::GetCapture() == h) ::ReleaseCapture();
  if (!allowInvert) m_rect.NormalizeRect();
  return filter.accepted && !m_rect.IsRectEmpty() ? TRUE : (filter.accepted && rubber ? FALSE : filter.accepted ? TRUE : FALSE);
}

BOOL CRectTracker::Track(CWnd* wnd, CPoint point, BOOL allowInvert, CWnd*) { return Run(wnd, point, false, allowInvert != FALSE); }

BOOL CRectTracker::TrackRubberBand(CWnd* wnd, CPoint point, BOOL allowInvert) {
  return Run(wnd, point, true, allowInvert != FALSE);
}
