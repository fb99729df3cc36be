#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "comma_locale/comma_locale.h"
#include "quorl/clocale.h"

namespace {

TEST(ScopedCLocale, FormatsAndParsesInCWhateverTheProcessLocale) {
  if (!quorl_test::UseCommaLocale()) GTEST_SKIP() << "no comma-decimal locale can be built here";
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
