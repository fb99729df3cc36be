#include "win/cstring.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

int CString::CompareNoCase(const char* o) const { return strcasecmp(s_.c_str(), o ? o : ""); }

int CString::Replace(char from, char to) {
  int n = 0;
  for (char& c : s_)
    if (c == from) { c = to; ++n; }
  return n;
}

int CString::Replace(const char* from, const char* to) {
  const std::string f = from ? from : "", t = to ? to : "";
  if (f.empty()) return 0;
  int n = 0;
  for (size_t p = s_.find(f); p != std::string::npos; p = s_.find(f, p + t.size())) {
    s_.replace(p, f.size(), t);
    ++n;
  }
  return n;
}

CString& CString::MakeUpper() {
  for (char& c : s_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : s_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::TrimLeft() {
  const size_t p = s_.find_first_not_of(" \t\r\n");
  s_.erase(0, p == std::string::npos ? s_.size() : p);
  return *this;
}

CString& CString::TrimRight() {
  const size_t p = s_.find_last_not_of(" \t\r\n");
  s_.erase(p == std::string::npos ? 0 : p + 1);
  return *this;
}

CString& CString::Trim() { return TrimLeft().TrimRight(); }

namespace {
std::string VFormat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, ap);
  return std::string(buf.data(), static_cast<size_t>(n));
}
}  // namespace

void CString::Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  s_ = VFormat(fmt ? fmt : "", ap);
  va_end(ap);
}

void CString::AppendFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  s_ += VFormat(fmt ? fmt : "", ap);
  va_end(ap);
}

char* CString::GetBuffer(int minLength) {
  if (minLength > 0 && s_.size() < static_cast<size_t>(minLength)) s_.resize(static_cast<size_t>(minLength));
  return s_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) s_.resize(std::strlen(s_.c_str()));
  else s_.resize(std::min(static_cast<size_t>(newLength), s_.size()));
}
