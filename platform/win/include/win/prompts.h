#pragma once
// File dialogs and message boxes go through one interface: by default
// non-native Qt dialogs; tests install a scripted answerer that records
// every request.
#include <deque>
#include <string>
#include <vector>

#include "win/window.h"

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_CREATEPROMPT = 0x00002000;
constexpr DWORD OFN_EXPLORER = 0x00080000;
constexpr DWORD OFN_ENABLESIZING = 0x00800000;

namespace win {

struct FileFilter {
  std::string description;
  std::vector<std::string> patterns;  // "*.bmp"
};
// "desc|pat1;pat2|desc2|pat|" ending in "||" (or "|"); malformed tails are dropped.
std::vector<FileFilter> ParseFilter(const std::string& filter);
// The label a file dialog lists for a filter: its description with its
// patterns in parentheses once, space-separated (the form Qt reads them
// from). A description that already ends in a pattern list, as
// "Images (*.bmp;*.jpg)" does, gives that list up for the filter's own.
std::string FilterLabel(const FileFilter& filter);

struct FileRequest {
  bool open = true;
  HWND owner = nullptr;
  std::string title;
  std::string defaultExt;
  std::string initialName;
  std::string initialDir;
  DWORD flags = 0;
  std::vector<FileFilter> filters;
  int filterIndex = 1;  // 1-based
};

struct FileAnswer {
  bool ok = false;
  std::vector<std::string> paths;
};

struct MessageRequest {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual int MessageBox(const MessageRequest& request) = 0;
  virtual FileAnswer FileDialog(const FileRequest& request) = 0;
};

// Installs prompts (null restores the Qt ones) and returns the previous.
Prompts* SetPrompts(Prompts* prompts);
Prompts& GetPrompts();

// Answers from scripts, recording each request; without a scripted answer
// a message box answers IDOK (IDYES for yes/no boxes) and a file dialog is
// cancelled.
class ScriptedPrompts : public Prompts {
 public:
  ScriptedPrompts();
  ~ScriptedPrompts() override;
  int MessageBox(const MessageRequest& request) override;
  FileAnswer FileDialog(const FileRequest& request) override;
  std::deque<int> boxAnswers;
  std::deque<FileAnswer> fileAnswers;
  std::vector<MessageRequest> boxes;
  std::vector<FileRequest> files;

 private:
  Prompts* previous_;
  MessageBoxHandler previousHandler_;
};

}  // namespace win

class CFileDialog {
 public:
  CFileDialog(BOOL open, const char* defExt = nullptr, const char* fileName = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
              CWnd* parent = nullptr);
  virtual ~CFileDialog() = default;
  virtual INT_PTR DoModal();
  CString GetPathName() const;
  CString GetFileName() const;
  CString GetFileExt() const;
  CString GetFileTitle() const;
  CString GetFolderPath() const;
  // Multi-select iteration: a position of 0 ends.
  using POSITION = std::uintptr_t;
  POSITION GetStartPosition() const { return paths_.empty() ? 0 : 1; }
  CString GetNextPathName(POSITION& pos) const;

  struct {
    DWORD Flags;
    const char* lpstrInitialDir;
    const char* lpstrTitle;
    DWORD nFilterIndex;
    const char* lpstrDefExt;
  } m_ofn{};

 private:
  bool open_;
  std::string defExt_, fileName_, filter_;
  CWnd* parent_;
  std::vector<std::string> paths_;
};

int AfxMessageBox(const char* text, UINT type = MB_OK, UINT help = 0);
int AfxMessageBox(UINT idPrompt, UINT type = MB_OK, UINT help = UINT(-1));
