#include "win/prompts.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>
#include <atomic>
#include <mutex>

#include "quorl/paths.h"
#include "win/app.h"
#include "window_internal.h"

namespace win {
namespace {

QWidget* OwnerWidget(HWND owner) {
  WindowData* d = Lookup(owner);
  return d ? d->host->window() : nullptr;
}

class QtPrompts : public Prompts {
 public:
  int MessageBox(const MessageRequest& r) override {
    EnsureApplication();
    QMessageBox box(OwnerWidget(r.owner));
    box.setWindowTitle(QString::fromLocal8Bit(r.caption.c_str()));
    box.setText(QString::fromLocal8Bit(r.text.c_str()));
    const UINT icon = r.type & 0xF0;
    box.setIcon(icon == MB_ICONERROR ? QMessageBox::Critical
                : icon == MB_ICONQUESTION ? QMessageBox::Question
                : icon == MB_ICONWARNING ? QMessageBox::Warning
                : icon == MB_ICONINFORMATION ? QMessageBox::Information
                                             : QMessageBox::NoIcon);
    struct B {
      QMessageBox::StandardButton b;
      int id;
    };
    std::vector<B> buttons;
    switch (r.type & 0x0F) {
      case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
      case MB_YESNOCANCEL: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}}; break;
      case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
      default: buttons = {{QMessageBox::Ok, IDOK}}; break;
    }
    QMessageBox::StandardButtons all;
    for (const B& b : buttons) all |= b.b;
    box.setStandardButtons(all);
    const int pressed = box.exec();
    for (const B& b : buttons)
      if (pressed == b.b) return b.id;
    return buttons.size() == 1 ? IDOK : IDCANCEL;
  }

  FileAnswer FileDialog(const FileRequest& r) override {
    EnsureApplication();
    QFileDialog dlg(OwnerWidget(r.owner), QString::fromLocal8Bit(r.title.c_str()));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setAcceptMode(r.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(r.open ? ((r.flags & OFN_ALLOWMULTISELECT) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile)
                           : QFileDialog::AnyFile);
    if (!r.open && !(r.flags & OFN_OVERWRITEPROMPT)) dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    QStringList filters;
    for (const FileFilter& f : r.filters) filters << QString::fromLocal8Bit(FilterLabel(f).c_str());
    if (!filters.isEmpty()) {
      dlg.setNameFilters(filters);
      if (r.filterIndex >= 1 && r.filterIndex <= filters.size()) dlg.selectNameFilter(filters[r.filterIndex - 1]);
      // The list of file types is at least as wide as its longest label, so
      // no label is cut short (the dialog widens with it).
      for (QComboBox* box : dlg.findChildren<QComboBox*>())
        if (box->count() == filters.size() && box->itemText(0) == filters[0]) {
          box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
          box->setMinimumWidth(box->sizeHint().width());
        }
    }
    if (!r.defaultExt.empty()) dlg.setDefaultSuffix(QString::fromLocal8Bit(r.defaultExt.c_str()));
    if (!r.initialDir.empty()) dlg.setDirectory(QString::fromStdString(quorl::MapPath(r.initialDir)));
    if (!r.initialName.empty()) dlg.selectFile(QString::fromStdString(quorl::MapPath(r.initialName)));
    FileAnswer a;
    if (dlg.exec() != QDialog::Accepted) return a;
    for (const QString& f : dlg.selectedFiles()) a.paths.push_back(f.toLocal8Bit().toStdString());
    a.ok = !a.paths.empty();
    return a;
  }
};

QtPrompts g_qt;
std::atomic<Prompts*> g_prompts{nullptr};

int ViaPrompts(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return GetPrompts().MessageBox(MessageRequest{owner, text, caption, type});
}

}  // namespace

Prompts* SetPrompts(Prompts* p) {
  Prompts* old = g_prompts.exchange(p);
  return old ? old : &g_qt;
}

Prompts& GetPrompts() {
  Prompts* p = g_prompts.load();
  return p ? *p : g_qt;
}

// Called once the Qt layer is in use: message boxes become Qt dialogs
// (through the prompts), unless a handler was installed before.
void InstallMessageBoxPrompts() {
  static std::once_flag once;
  std::call_once(once, [] {
    MessageBoxHandler prev = SetMessageBoxHandler(&ViaPrompts);
    if (prev) SetMessageBoxHandler(std::move(prev));
  });
}

std::vector<FileFilter> ParseFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  std::vector<FileFilter> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;  // "||" ends the list
    FileFilter f{parts[i], {}};
    std::string p;
    for (char c : parts[i + 1] + ";") {
      if (c == ';') {
        while (!p.empty() && p.front() == ' ') p.erase(p.begin());
        while (!p.empty() && p.back() == ' ') p.pop_back();
        if (!p.empty()) f.patterns.push_back(p);
        p.clear();
      } else {
        p += c;
      }
    }
    if (f.patterns.empty()) break;
    out.push_back(std::move(f));
  }
  return out;
}

std::string FilterLabel(const FileFilter& filter) {
  std::string description = filter.description;
  while (!description.empty() && description.back() == ' ') description.pop_back();
  if (!description.empty() && description.back() == ')') {
    const size_t open = description.rfind('(');
    if (open != std::string::npos &&
        description.find_first_of("*?", open) != std::string::npos) {
      description.erase(open);
      while (!description.empty() && description.back() == ' ') description.pop_back();
    }
  }
  std::string patterns;
  for (const std::string& p : filter.patterns) patterns += (patterns.empty() ? "" : " ") + p;
  return description.empty() ? "(" + patterns + ")" : description + " (" + patterns + ")";
}

ScriptedPrompts::ScriptedPrompts() {
  previous_ = SetPrompts(this);
  // Message boxes reach this answerer whatever handler was installed.
  previousHandler_ = SetMessageBoxHandler(&ViaPrompts);
}

ScriptedPrompts::~ScriptedPrompts() {
  SetPrompts(previous_ == &g_qt ? nullptr : previous_);
  SetMessageBoxHandler(std::move(previousHandler_));
}

int ScriptedPrompts::MessageBox(const MessageRequest& r) {
  boxes.push_back(r);
  if (!boxAnswers.empty()) {
    const int a = boxAnswers.front();
    boxAnswers.pop_front();
    return a;
  }
  const UINT kind = r.type & 0x0F;
  return kind == MB_YESNO || kind == MB_YESNOCANCEL ? IDYES : IDOK;
}

FileAnswer ScriptedPrompts::FileDialog(const FileRequest& r) {
  files.push_back(r);
  if (fileAnswers.empty()) return FileAnswer{};
  FileAnswer a = fileAnswers.front();
  fileAnswers.pop_front();
  return a;
}

}  // namespace win

using namespace win;

CFileDialog::CFileDialog(BOOL open, const char* defExt, const char* fileName, DWORD flags, const char* filter,
                         CWnd* parent)
    : open_(open != FALSE), defExt_(defExt ? defExt : ""), fileName_(fileName ? fileName : ""),
      filter_(filter ? filter : ""), parent_(parent) {
  m_ofn.Flags = flags;
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrDefExt = defExt;
}

INT_PTR CFileDialog::DoModal() {
  FileRequest r;
  r.open = open_;
  r.owner = parent_ ? parent_->m_hWnd : (AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr);
  r.title = m_ofn.lpstrTitle ? m_ofn.lpstrTitle : "";
  r.defaultExt = defExt_;
  r.initialName = fileName_;
  r.initialDir = m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : "";
  r.flags = m_ofn.Flags;
  r.filters = ParseFilter(filter_);
  r.filterIndex = static_cast<int>(m_ofn.nFilterIndex ? m_ofn.nFilterIndex : 1);
  const FileAnswer a = GetPrompts().FileDialog(r);
  paths_.clear();
  if (!a.ok || a.paths.empty()) return IDCANCEL;
  for (std::string p : a.paths) {
    // A saved name without an extension gets the default one.
    if (!open_ && !defExt_.empty()) {
      const size_t slash = p.find_last_of("/\\");
      const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
      // ".txt" and "txt" both name the extension (as Qt's default suffix).
      const std::string ext = defExt_[0] == '.' ? defExt_.substr(1) : defExt_;
      if (name.find('.') == std::string::npos && !ext.empty()) p += "." + ext;
    }
    paths_.push_back(p);
  }
  return IDOK;
}

CString CFileDialog::GetPathName() const { return paths_.empty() ? CString() : CString(paths_.front()); }

CString CFileDialog::GetFileName() const {
  const std::string p = paths_.empty() ? std::string() : paths_.front();
  const size_t slash = p.find_last_of("/\\");
  return CString(slash == std::string::npos ? p : p.substr(slash + 1));
}

CString CFileDialog::GetFileExt() const {
  const std::string n = GetFileName().str();
  const size_t dot = n.rfind('.');
  return CString(dot == std::string::npos ? std::string() : n.substr(dot + 1));
}

CString CFileDialog::GetFileTitle() const {
  const std::string n = GetFileName().str();
  const size_t dot = n.rfind('.');
  return CString(dot == std::string::npos ? n : n.substr(0, dot));
}

CString CFileDialog::GetFolderPath() const {
  const std::string p = paths_.empty() ? std::string() : paths_.front();
  const size_t slash = p.find_last_of("/\\");
  return CString(slash == std::string::npos ? std::string() : p.substr(0, slash));
}

CString CFileDialog::GetNextPathName(POSITION& pos) const {
  if (pos == 0 || pos > paths_.size()) {
    pos = 0;
    return CString();
  }
  CString s(paths_[pos - 1]);
  pos = pos < paths_.size() ? pos + 1 : 0;
  return s;
}

int AfxMessageBox(const char* text, UINT type, UINT) {
  CWinApp* app = AfxGetApp();
  CWnd* main = AfxGetMainWnd();
  // The application's name is the title; without one the box has no
  // caption of its own.
  const char* name = app && app->m_pszAppName && *app->m_pszAppName ? app->m_pszAppName : nullptr;
  return ::MessageBox(main ? main->m_hWnd : nullptr, text, name, type);
}

int AfxMessageBox(UINT, UINT type, UINT help) {
  // The string table is empty: the prompt is shown without text.
  return AfxMessageBox("", type, help);
}
