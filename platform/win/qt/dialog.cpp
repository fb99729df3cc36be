#include "win/dialog.h"

#include <QEventLoop>
#include <QWidget>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>

#include "win/app.h"
#include "win/prompts.h"
#include "window_internal.h"

const CRuntimeClass CDialog::classCDialog = {"CDialog", &CWnd::classCWnd};

namespace win {
namespace {
struct Templates {
  std::mutex m;
  std::map<UINT, DialogTemplate> byId;
};
Templates& TT() {
  static auto* t = new Templates;
  return *t;
}
std::function<void(CDialog&)>& ModalHook() {
  static auto* h = new std::function<void(CDialog&)>;
  return *h;
}
// Thrown by a failed exchange; caught by UpdateData.
struct ExchangeFailed {};
}  // namespace

int DialogUnitsToPixelsX(int du) { return static_cast<int>(std::lround(du * 1.5)); }
int DialogUnitsToPixelsY(int du) { return static_cast<int>(std::lround(du * 13.0 / 8.0)); }

void RegisterDialogTemplate(const DialogTemplate& t) {
  std::lock_guard<std::mutex> g(TT().m);
  TT().byId[t.id] = t;
}

const DialogTemplate* FindDialogTemplate(UINT id) {
  std::lock_guard<std::mutex> g(TT().m);
  auto it = TT().byId.find(id);
  return it == TT().byId.end() ? nullptr : &it->second;
}

void SetNextModalHook(std::function<void(CDialog&)> hook) { ModalHook() = std::move(hook); }

}  // namespace win

using namespace win;

// ---- Creation -----------------------------------------------------------------

BOOL CDialog::CreateFromTemplate(const DialogTemplate& t, CWnd* parent) {
  const int w = DialogUnitsToPixelsX(t.cx), h = DialogUnitsToPixelsY(t.cy);
  int x = DialogUnitsToPixelsX(t.x), y = DialogUnitsToPixelsY(t.y);
  const bool child = (t.style & WS_CHILD) != 0;
  CWnd* owner = parent ? parent : (child ? nullptr : AfxGetMainWnd());
  if (!child && owner && owner->m_hWnd) {
    CWnd* top = owner->GetTopLevelParent();
    CRect r;
    top->GetWindowRect(&r);
    if ((t.style & DS_CENTER) || (t.x == 0 && t.y == 0)) {
      x = r.left + (r.Width() - w) / 2;
      y = r.top + (r.Height() - h) / 2;
    } else {
      x += r.left;
      y += r.top;
    }
    owner = top;
  }
  if (!CreateEx(0, "#32770", t.caption.c_str(), t.style & ~WS_VISIBLE, CRect(x, y, x + w, y + h),
                owner && owner->m_hWnd ? owner : nullptr, 0))
    return FALSE;
  WindowData* d = Lookup(m_hWnd);
  d->ctlColorMsg = WM_CTLCOLORDLG;
  if (!t.fontFace.empty() || (t.style & DS_SETFONT)) {
    m_font = CreateFontA(-MulDiv(t.fontPoints, 96, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                         t.fontFace.empty() ? "MS Shell Dlg" : t.fontFace.c_str());
    d->font = m_font;
  }
  for (const DialogItemTemplate& it : t.items) {
    auto* c = new CWnd;
    const int cx = DialogUnitsToPixelsX(it.x), cy = DialogUnitsToPixelsY(it.y);
    const CRect r(cx, cy, cx + DialogUnitsToPixelsX(it.cx), cy + DialogUnitsToPixelsY(it.cy));
    if (!c->CreateEx(it.exStyle, it.className.c_str(), it.text.c_str(), it.style | WS_CHILD, r, this, it.id)) {
      delete c;
      continue;
    }
    if (m_font) c->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    if ((it.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && it.className == "BUTTON") m_defId = it.id;
    m_controls.push_back(c);
  }
  const LRESULT focus = SendMessage(WM_INITDIALOG, 0, 0);
  if (m_hWnd && focus)
    for (size_t i = 0; i < t.items.size(); ++i)
      if (t.items[i].style & WS_TABSTOP) {
        if (CWnd* c = GetDlgItem(static_cast<int>(t.items[i].id))) c->SetFocus();
        break;
      }
  return m_hWnd ? TRUE : FALSE;
}

BOOL CDialog::Create(UINT idTemplate, CWnd* parent) {
  const DialogTemplate* t = FindDialogTemplate(idTemplate);
  if (!t) return FALSE;
  m_nIDTemplate = idTemplate;
  if (parent) m_pParentWnd = parent;
  m_ended = false;
  if (!CreateFromTemplate(*t, m_pParentWnd)) return FALSE;
  if (t->style & WS_VISIBLE) ShowWindow(SW_SHOW);
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  const DialogTemplate* t = FindDialogTemplate(m_nIDTemplate);
  if (!t) return -1;
  m_ended = false;
  m_result = 0;
  const DialogTemplate copy = *t;
  CWnd* parent = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
  CWnd* owner = parent && parent->m_hWnd ? parent->GetTopLevelParent() : nullptr;
  const bool reenable = owner && owner->IsWindowEnabled();
  if (owner) owner->EnableWindow(FALSE);
  if (!CreateFromTemplate(copy, parent && parent->m_hWnd ? parent : nullptr)) {
    if (reenable) owner->EnableWindow(TRUE);
    return -1;
  }
  if (!m_ended) {
    ShowWindow(SW_SHOW);
    if (auto* w = static_cast<QWidget*>(GetHostWidget())) w->setWindowModality(Qt::ApplicationModal);
  }
  if (ModalHook() && !m_ended && m_hWnd) {
    auto hook = std::move(ModalHook());
    ModalHook() = nullptr;
    hook(*this);
  }
  if (!m_ended && m_hWnd) {
    QEventLoop loop;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
  }
  if (reenable && owner->m_hWnd) owner->EnableWindow(TRUE);
  if (m_hWnd) {
    ShowWindow(SW_HIDE);
    DestroyWindow();
  }
  return m_result;
}

void CDialog::PostNcDestroy() {
  for (CWnd* c : m_controls) delete c;
  m_controls.clear();
  if (m_font) DeleteObject(m_font);
  m_font = nullptr;
  if (m_loop) static_cast<QEventLoop*>(m_loop)->quit();
}

void CDialog::EndDialog(int result) {
  m_result = result;
  m_ended = true;
  if (m_loop) static_cast<QEventLoop*>(m_loop)->quit();
  else if (m_hWnd && !(GetStyle() & WS_CHILD)) ShowWindow(SW_HIDE);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::UpdateData(BOOL save) {
  CDataExchange dx(this, save);
  try {
    DoDataExchange(&dx);
  } catch (const ExchangeFailed&) {
    return FALSE;
  }
  return TRUE;
}

BOOL CDialog::OnCommand(WPARAM wp, LPARAM lp) {
  if (CWnd::OnCommand(wp, lp)) return TRUE;
  const UINT id = LOWORD(wp), code = HIWORD(wp);
  if (code != BN_CLICKED) return FALSE;
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message != WM_KEYDOWN) return FALSE;
  // Enter is the default button, Escape is IDCANCEL, as the dialog manager does.
  if (msg->wParam == VK_RETURN) {
    const UINT id = m_defId;
    CWnd* b = GetDlgItem(static_cast<int>(id));
    if (b && !b->IsWindowEnabled()) return TRUE;
    SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(b ? b->m_hWnd : nullptr));
    return TRUE;
  }
  if (msg->wParam == VK_ESCAPE) {
    CWnd* b = GetDlgItem(IDCANCEL);
    SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(b ? b->m_hWnd : nullptr));
    return TRUE;
  }
  return FALSE;
}

LRESULT CDialog::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_CLOSE:
      SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return 0;
    case DM_GETDEFID: return MAKELONG(static_cast<WORD>(m_defId), DC_HASDEFID);
    case DM_SETDEFID: m_defId = static_cast<UINT>(wp); return TRUE;
    default: return CWnd::DefWindowProc(msg, wp, lp);
  }
}

void CDialog::SetDefID(UINT id) { m_defId = id; }
DWORD CDialog::GetDefID() const { return MAKELONG(static_cast<WORD>(m_defId), DC_HASDEFID); }
void CDialog::GotoDlgCtrl(CWnd* ctl) {
  if (ctl) ctl->SetFocus();
}

// ---- Data exchange ----------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) {
  m_idLastControl = static_cast<UINT>(id);
  return ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
}

void CDataExchange::Fail() {
  if (CWnd* c = m_pDlgWnd->GetDlgItem(static_cast<int>(m_idLastControl))) {
    c->SetFocus();
    ::SendMessage(c->m_hWnd, EM_SETSEL, 0, -1);
  }
  throw ExchangeFailed{};
}

namespace {
CString TextOf(CDataExchange* dx, int id) {
  CString s;
  if (HWND h = dx->PrepareCtrl(id))
    if (CWnd* w = CWnd::FromHandle(h)) w->GetWindowText(s);
  return s;
}
void SetTextOf(CDataExchange* dx, int id, const char* s) {
  if (HWND h = dx->PrepareCtrl(id)) ::SetWindowTextA(h, s);
}
[[noreturn]] void Refuse(CDataExchange* dx, const char* text) {
  AfxMessageBox(text, MB_ICONEXCLAMATION);
  dx->Fail();
}
bool ParseLong(const CString& s, long long* out) {
  CString t = s;
  t.Trim();
  if (t.IsEmpty()) return false;
  errno = 0;
  char* end = nullptr;
  *out = std::strtoll(t.GetString(), &end, 10);
  return errno == 0 && end && *end == 0;
}
bool ParseDouble(const CString& s, double* out) {
  CString t = s;
  t.Trim();
  if (t.IsEmpty()) return false;
  errno = 0;
  char* end = nullptr;
  *out = std::strtod(t.GetString(), &end);
  return errno == 0 && end && *end == 0 && std::isfinite(*out);
}
CString FormatDouble(double v, int digits) {
  CString s;
  s.Format("%.*g", digits, v);
  return s;
}
// A field of an integer type: the text must parse and fit the type.
template <class T>
void ExchangeInteger(CDataExchange* dx, int id, T& value, const char* format, const char* refusal) {
  if (dx->m_bSaveAndValidate) {
    long long v = 0;
    if (!ParseLong(TextOf(dx, id), &v) || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
      Refuse(dx, refusal);
    value = static_cast<T>(v);
  } else {
    CString s;
    s.Format(format, value);
    SetTextOf(dx, id, s);
  }
}
// A field of a floating type, shown with the type's own significant digits.
template <class T>
void ExchangeReal(CDataExchange* dx, int id, T& value, int digits) {
  if (dx->m_bSaveAndValidate) {
    double v = 0;
    if (!ParseDouble(TextOf(dx, id), &v) || std::fabs(v) > std::numeric_limits<T>::max())
      Refuse(dx, "Please enter a number.");
    value = static_cast<T>(v);
  } else {
    SetTextOf(dx, id, FormatDouble(value, digits));
  }
}
}  // namespace

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  if (dx->m_bSaveAndValidate) value = TextOf(dx, id);
  else SetTextOf(dx, id, value);
}

void DDX_Text(CDataExchange* dx, int id, int& value) { ExchangeInteger(dx, id, value, "%d", "Please enter an integer."); }

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  ExchangeInteger(dx, id, value, "%u", "Please enter a positive integer.");
}

void DDX_Text(CDataExchange* dx, int id, double& value) { ExchangeReal(dx, id, value, DBL_DIG); }

void DDX_Text(CDataExchange* dx, int id, float& value) { ExchangeReal(dx, id, value, FLT_DIG); }

void DDX_CBIndex(CDataExchange* dx, int id, int& index) {
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) index = static_cast<int>(::SendMessage(h, CB_GETCURSEL, 0, 0));
  else ::SendMessage(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) value = static_cast<int>(::SendMessage(h, BM_GETCHECK, 0, 0));
  else ::SendMessage(h, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd) return;
  HWND h = dx->PrepareCtrl(id);
  WindowData* d = Lookup(h);
  if (!d) return;
  // The control object takes over the window made from the template.
  CWnd* placeholder = d->wnd;
  d->wnd = &control;
  control.m_hWnd = h;
  control.m_pData = d;
  if (placeholder && placeholder != &control) {
    placeholder->m_hWnd = nullptr;
    placeholder->m_pData = nullptr;
  }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max) {
  if (!dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
  CString s;
  s.Format("Please enter an integer between %d and %d.", min, max);
  Refuse(dx, s);
}

void DDV_MinMaxDouble(CDataExchange* dx, const double& value, double min, double max) {
  if (!dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
  CString s;
  s.Format("Please enter a number between %s and %s.", FormatDouble(min, DBL_DIG).GetString(),
           FormatDouble(max, DBL_DIG).GetString());
  Refuse(dx, s);
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int max) {
  if (!dx->m_bSaveAndValidate || value.GetLength() <= max) return;
  CString s;
  s.Format("Enter no more than %d characters.", max);
  Refuse(dx, s);
}
