#include <unistd.h>

#include <cstdio>
#include <cctype>
#include <cstring>
#include <string>

#include "win/window.h"

void OutputDebugStringA(const char* s) {
  if (s) std::fputs(s, stderr);
}

DWORD GetModuleFileNameA(HMODULE, char* buf, DWORD size) {
  if (!buf || size == 0) return 0;
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return 0;
  const size_t len = static_cast<size_t>(n);
  // Truncated to the buffer, terminated, and the buffer size returned.
  if (len >= size) {
    std::memcpy(buf, path, size - 1);
    buf[size - 1] = 0;
    return size;
  }
  std::memcpy(buf, path, len);
  buf[len] = 0;
  return static_cast<DWORD>(len);
}

HMODULE GetModuleHandleA(const char*) { return nullptr; }

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  std::string d;
  if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
    d = p.substr(0, 2);
    p = p.substr(2);
  }
  const size_t slash = p.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? p : p.substr(slash + 1);
  const size_t dot = file.rfind('.');
  const std::string base = dot == std::string::npos ? file : file.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : file.substr(dot);
  auto put = [](char* out, const std::string& s, size_t cap) {
    if (!out) return;
    const size_t n = std::min(s.size(), cap - 1);
    std::memcpy(out, s.data(), n);
    out[n] = 0;
  };
  put(drive, d, _MAX_DRIVE);
  put(dir, directory, _MAX_DIR);
  put(fname, base, _MAX_FNAME);
  put(ext, extension, _MAX_EXT);
}
