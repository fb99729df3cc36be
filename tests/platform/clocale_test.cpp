#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quorl/clocale.h"

namespace {

// Builds a comma-decimal locale into a temporary folder (no root needed) and
// makes it the process locale; false when localedef is unavailable.
bool UseCommaLocale() {
  static std::string dir;
  if (dir.empty()) {
    char tmpl[] = "/tmp/quorl-locale-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    dir = tmpl;
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && access((dir + "/de_DE.UTF-8").c_str(), F_OK) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
  }
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(ScopedCLocale, FormatsAndParsesInCWhateverTheProcessLocale) {
  if (!UseCommaLocale()) GTEST_SKIP() << "no comma-decimal locale can be built here";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lf", 1.5);
  EXPECT_STREQ(buf, "1,500000");  // the trap the helper exists for
  {
    quorl::ScopedCLocale c;
    std::snprintf(buf, sizeof buf, "%lf", 1.5);
    EXPECT_STREQ(buf, "1.500000");
    double v = 0;
    ASSERT_EQ(std::sscanf("2.250000", "%lf", &v), 1);
    EXPECT_EQ(v, 2.25);
  }
  std::snprintf(buf, sizeof buf, "%lf", 1.5);
  EXPECT_STREQ(buf, "1,500000");
  std::setlocale(LC_ALL, "C");
}

}  // namespace
