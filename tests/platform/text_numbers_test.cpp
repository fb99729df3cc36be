// Number tokens of the text files: decimal only, finite, in range, and ending
// at white space or the end of the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "quorl/text_numbers.h"

namespace {

// The file holding text, read from its start.
std::FILE* TextFile(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fputs(text.c_str(), f);
  std::rewind(f);
  return f;
}

TEST(TextNumbers, RealTokens) {
  struct Case {
    const char* text;
    bool read;
    double value;
  } cases[] = {
      {"1.5", true, 1.5},          {"  -2.25\n", true, -2.25}, {"+3", true, 3},       {"1e3 7", true, 1000},
      {"\r\n.5\r\n", true, 0.5},   {"533.090000", true, 533.09},
      {"0x1p3", false, 0},         {"nan", false, 0},          {"inf", false, 0},     {"-infinity", false, 0},
      {"1.5abc", false, 0},        {"1,5", false, 0},          {"1e999", false, 0},   {"--1", false, 0},
      {"+-1", false, 0},           {"", false, 0},             {"   ", false, 0},     {"e5", false, 0},
      {"1.5.5", false, 0},         {"1e", false, 0},
  };
  for (const Case& c : cases) {
    std::FILE* f = TextFile(c.text);
    double value = -7;
    EXPECT_EQ(quorl::ReadReal(f, &value), c.read) << c.text;
    EXPECT_EQ(value, c.read ? c.value : -7) << c.text;  // a refusal writes nothing
    std::fclose(f);
  }
  // An overlong token is refused, not split in two.
  std::FILE* f = TextFile("1" + std::string(100, '0'));
  double value = 0;
  EXPECT_FALSE(quorl::ReadReal(f, &value));
  std::fclose(f);
}

TEST(TextNumbers, FloatsAndIntsInRange) {
  std::FILE* f = TextFile("3.0e38 1e39 -12 +7 2147483648 0x10 12.0");
  float single = 0;
  EXPECT_TRUE(quorl::ReadReal(f, &single));
  EXPECT_FLOAT_EQ(single, 3.0e38f);
  EXPECT_FALSE(quorl::ReadReal(f, &single));  // past float's range
  int n = 0;
  EXPECT_TRUE(quorl::ReadInt(f, &n));
  EXPECT_EQ(n, -12);
  EXPECT_TRUE(quorl::ReadInt(f, &n));
  EXPECT_EQ(n, 7);
  EXPECT_FALSE(quorl::ReadInt(f, &n));  // past int's range
  EXPECT_FALSE(quorl::ReadInt(f, &n));  // hex
  std::fclose(f);
  f = TextFile("12.0");
  EXPECT_FALSE(quorl::ReadInt(f, &n));  // a real is not a count
  std::fclose(f);
}

}  // namespace
