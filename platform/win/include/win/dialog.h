#pragma once
// Dialogs from templates held as C++ data, modal (nested loop) and modeless,
// with data exchange and validation.
#include <functional>
#include <string>
#include <vector>

#include "win/controls.h"
#include "win/window.h"

constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD DS_CONTROL = 0x0400;
constexpr DWORD DS_FIXEDSYS = 0x0008;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr WORD DC_HASDEFID = 0x534B;

namespace win {

// Every field starts at zero, so a template filled in field by field and
// leaving its position out opens centred over its owner (x = y = 0), not at
// whatever the stack held.
struct DialogItemTemplate {
  std::string className;  // "BUTTON", "STATIC", "EDIT", "COMBOBOX"
  UINT id = 0;
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  DWORD style = 0;
  DWORD exStyle = 0;
};

struct DialogTemplate {
  UINT id = 0;
  DWORD style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string caption;
  std::string fontFace;
  int fontPoints = 8;
  std::vector<DialogItemTemplate> items;
};

// Dialog units to pixels with the fixed base units of the classic 8-point
// dialog font (x 1.5, y 13/8, rounded), so layout does not depend on fonts.
int DialogUnitsToPixelsX(int du);
int DialogUnitsToPixelsY(int du);

// The template table of the module (the program and its libraries share
// one). Registering an id again replaces the template.
void RegisterDialogTemplate(const DialogTemplate& t);
const DialogTemplate* FindDialogTemplate(UINT id);

// Runs once, right after the next modal dialog is initialised (tests).
void SetNextModalHook(std::function<void(CDialog&)> hook);

}  // namespace win

class CDataExchange {
 public:
  CDataExchange(CWnd* dlg, BOOL save) : m_bSaveAndValidate(save), m_pDlgWnd(dlg) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  UINT m_idLastControl = 0;
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id) { return PrepareCtrl(id); }
  // Gives focus back to the last control and ends the exchange as failed.
  [[noreturn]] void Fail();
};

class CDialog : public CWnd {
 public:
  static const CRuntimeClass classCDialog;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDialog; }
  CDialog() = default;
  explicit CDialog(UINT idTemplate, CWnd* parent = nullptr) : m_nIDTemplate(idTemplate), m_pParentWnd(parent) {}

  // The EndDialog code, or -1 when the template is unknown.
  virtual INT_PTR DoModal();
  virtual BOOL Create(UINT idTemplate, CWnd* parent = nullptr);
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  void EndDialog(int result);
  BOOL UpdateData(BOOL save = TRUE);
  virtual void DoDataExchange(CDataExchange*) {}
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnCommand(WPARAM wp, LPARAM lp) override;
  void SetDefID(UINT id);
  DWORD GetDefID() const;
  void GotoDlgCtrl(CWnd* ctl);
  void NextDlgCtrl() const {}
  void PrevDlgCtrl() const {}

  UINT m_nIDTemplate = 0;
  CWnd* m_pParentWnd = nullptr;

 protected:
  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void PostNcDestroy() override;
  // A dialog is made from its template, never with CWnd's generic Create:
  // named here, protected, that one stays out of callers' reach on purpose
  // rather than hidden by the overload.
  using CWnd::Create;

 private:
  BOOL CreateFromTemplate(const win::DialogTemplate& t, CWnd* parent);
  std::vector<CWnd*> m_controls;  // windows made from the template
  HFONT m_font = nullptr;
  int m_result = 0;
  bool m_ended = false;
  void* m_loop = nullptr;
  UINT m_defId = IDOK;

  friend class CDataExchange;
  friend void DDX_Control(CDataExchange*, int, CWnd&);
};

void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Text(CDataExchange* dx, int id, double& value);
void DDX_Text(CDataExchange* dx, int id, float& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_Check(CDataExchange* dx, int id, int& value);
// Attaches a control object to the dialog's control with that id.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max);
void DDV_MinMaxDouble(CDataExchange* dx, const double& value, double min, double max);
void DDV_MaxChars(CDataExchange* dx, const CString& value, int max);
