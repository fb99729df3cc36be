#include "comma_locale/comma_locale.h"

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <mutex>

namespace quorl_test {

std::string CommaLocaleFolder() {
  static std::once_flag once;
  static std::string folder;
  std::call_once(once, [] {
    char tmpl[] = "/tmp/quorl-locale-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    const std::string dir = tmpl;
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1";
    (void)std::system(cmd.c_str());
    if (access((dir + "/de_DE.UTF-8/LC_NUMERIC").c_str(), R_OK) == 0) folder = dir;
  });
  return folder;
}

bool UseCommaLocale() {
  const std::string folder = CommaLocaleFolder();
  if (!folder.empty()) setenv("LOCPATH", folder.c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

CommaLocaleScope::CommaLocaleScope() : active(UseCommaLocale()) {}

CommaLocaleScope::~CommaLocaleScope() { std::setlocale(LC_ALL, "C"); }

}  // namespace quorl_test
