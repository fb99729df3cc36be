#pragma once
// Text files hold numbers in the C locale whatever the process locale is
// (Qt sets it from the environment; "%lf" under de_DE writes "1,500000").
// Holding a ScopedCLocale makes this thread's formatted I/O use "C".
#include <locale.h>

namespace quorl {

class ScopedCLocale {
 public:
  ScopedCLocale();
  ~ScopedCLocale();
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace quorl
