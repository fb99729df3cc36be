#pragma once
// CString: a narrow, value-semantics string over std::string.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "win/types.h"

class CString {
 public:
  CString() = default;
  CString(const char* s) : s_(s ? s : "") {}
  CString(const std::string& s) : s_(s) {}
  CString(char c, int n = 1) : s_(n > 0 ? static_cast<size_t>(n) : 0, c) {}

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  const char* GetString() const { return s_.c_str(); }
  operator const char*() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  char GetAt(int i) const { return s_.at(static_cast<size_t>(i)); }
  char operator[](int i) const { return GetAt(i); }

  CString& operator=(const char* s) { s_ = s ? s : ""; return *this; }
  CString& operator+=(const CString& o) { s_ += o.s_; return *this; }
  CString& operator+=(const char* o) { s_ += o ? o : ""; return *this; }
  CString& operator+=(char c) { s_ += c; return *this; }
  friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
  friend CString operator+(const CString& a, const char* b) { return CString(a.s_ + (b ? b : "")); }
  friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.s_); }
  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char* b) { return a.s_ == (b ? b : ""); }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }
  int Compare(const char* o) const { return s_.compare(o ? o : ""); }
  int CompareNoCase(const char* o) const;

  int Find(char c, int start = 0) const { return Pos(s_.find(c, Start(start))); }
  int Find(const char* sub, int start = 0) const { return Pos(s_.find(sub ? sub : "", Start(start))); }
  int ReverseFind(char c) const { return Pos(s_.rfind(c)); }
  CString Left(int n) const { return CString(s_.substr(0, Clamp(n))); }
  CString Right(int n) const { const size_t k = Clamp(n); return CString(s_.substr(s_.size() - k)); }
  CString Mid(int first) const { return CString(s_.substr(Clamp(first))); }
  CString Mid(int first, int n) const {
    const size_t f = Clamp(first);
    return CString(s_.substr(f, n > 0 ? static_cast<size_t>(n) : 0));
  }
  int Replace(char from, char to);
  int Replace(const char* from, const char* to);
  CString& MakeUpper();
  CString& MakeLower();
  CString& Trim();
  CString& TrimLeft();
  CString& TrimRight();
  void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  char* GetBuffer(int minLength);
  // The string table is empty: nothing loads.
  BOOL LoadString(UINT) {
    s_.clear();
    return FALSE;
  }
  void ReleaseBuffer(int newLength = -1);

 private:
  size_t Start(int i) const { return i < 0 ? 0 : static_cast<size_t>(i); }
  size_t Clamp(int n) const { return n < 0 ? 0 : std::min(static_cast<size_t>(n), s_.size()); }
  static int Pos(size_t p) { return p == std::string::npos ? -1 : static_cast<int>(p); }
  std::string s_;
};
