#pragma once
// A comma-decimal locale for tests of C-locale text I/O. Debian's base image
// ships no de_DE, so it is compiled with localedef into a temporary folder
// (no root needed) and reached through LOCPATH.
#include <string>

namespace quorl_test {

// The folder holding de_DE.UTF-8, compiled once per process; empty when it
// cannot be built here. localedef may exit non-zero on warnings while still
// writing the locale, so the result is judged by the files.
std::string CommaLocaleFolder();

// Makes de_DE.UTF-8 the process locale (LC_ALL), setting LOCPATH; false when
// no comma-decimal locale can be had.
bool UseCommaLocale();

// Holds the comma locale for a scope and restores "C" when it ends.
class CommaLocaleScope {
 public:
  CommaLocaleScope();
  ~CommaLocaleScope();
  CommaLocaleScope(const CommaLocaleScope&) = delete;
  CommaLocaleScope& operator=(const CommaLocaleScope&) = delete;
  const bool active;
};

}  // namespace quorl_test
