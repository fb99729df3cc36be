#include "win/messagebox.h"

#include <cstdio>
#include <mutex>

namespace win {
namespace {
std::recursive_mutex& Lock() {
  static std::recursive_mutex m;
  return m;
}
MessageBoxHandler& Handler() {
  static MessageBoxHandler h;
  return h;
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::recursive_mutex> guard(Lock());
  MessageBoxHandler old = std::move(Handler());
  Handler() = std::move(handler);
  return old;
}

}  // namespace win

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  const std::string t = text ? text : "";
  // A box given no caption is titled "Error", as on the desktop this
  // program was written for.
  const std::string c = caption ? caption : "Error";
  std::lock_guard<std::recursive_mutex> guard(win::Lock());
  if (win::Handler()) return win::Handler()(owner, t, c, type);
  std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
  return IDOK;
}
