#include "quorl/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quorl {
namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/tmp";
}

std::string DriveFolder(char letter) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  const std::string var = std::string("QUORL_DRIVE_") + upper;
  if (const char* v = std::getenv(var.c_str()); v && *v) return v;
  if (upper == 'C') return HomeFolder();
  return HomeFolder() + "/drive_" + lower;
}

std::string Slashes(std::string_view in) {
  std::string out(in);
  for (char& ch : out)
    if (ch == '\\') ch = '/';
  return out;
}

}  // namespace

std::string MapPath(std::string_view path) {
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    std::string rest = Slashes(path.substr(2));
    std::string folder = DriveFolder(path[0]);
    if (!rest.empty() && rest[0] != '/') rest.insert(rest.begin(), '/');
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + rest;
  }
  return Slashes(path);
}

FILE* OpenFile(const char* path, const char* mode) {
  if (!path || !mode) return nullptr;
  const std::string native = MapPath(path);
  const bool readOnly = mode[0] == 'r' && !std::strchr(mode, '+');
  if (!readOnly) return std::fopen(native.c_str(), mode);
  // Opened without blocking (a named pipe with no writer would wait here
  // forever), then kept only when it is a regular file: a pipe, a device or
  // a folder never ends a read the way a file does.
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = ::fdopen(fd, mode);
  if (!file) ::close(fd);
  return file;
}

bool IsReadableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ProgramFolder() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return "./";
  std::string exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

std::string JoinPath(std::string_view folder, std::string_view relative) {
  std::string a = MapPath(folder);
  std::string b = Slashes(relative);
  if (a.empty()) return b;
  if (a.back() == '/' && !b.empty() && b.front() == '/') b.erase(b.begin());
  else if (a.back() != '/' && (b.empty() || b.front() != '/')) a.push_back('/');
  return a + b;
}

}  // namespace quorl
