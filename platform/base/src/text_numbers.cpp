#include "quorl/text_numbers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quorl {
namespace {

// The longest number token taken: far past any written value's length.
constexpr int kMaxToken = 63;

// Skips white space, then takes the characters of `alphabet`; true when at
// least one was taken and the token ends at white space or the end of the
// file. An overlong token runs into its own next character and is refused.
bool NextToken(std::FILE* file, const char* alphabet, char* token) {
  int c;
  do c = std::getc(file);
  while (c != EOF && std::isspace(c));
  int n = 0;
  while (c != EOF && n < kMaxToken && std::strchr(alphabet, c)) {
    token[n++] = static_cast<char>(c);
    c = std::getc(file);
  }
  token[n] = '\0';
  if (c != EOF) std::ungetc(c, file);
  return n > 0 && (c == EOF || std::isspace(c));
}

// from_chars takes no '+'; the C library's readers did.
const char* SkipPlus(const char* token) {
  return token[0] == '+' && token[1] != '-' && token[1] != '+' ? token + 1 : token;
}

}  // namespace

bool ReadReal(std::FILE* file, double* value) {
  char token[kMaxToken + 1];
  if (!file || !value || !NextToken(file, "+-.0123456789eE", token)) return false;
  const char* begin = SkipPlus(token);
  const char* end = token + std::strlen(token);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, v, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool ReadReal(std::FILE* file, float* value) {
  double v = 0;
  if (!value || !ReadReal(file, &v) || std::fabs(v) > std::numeric_limits<float>::max()) return false;
  *value = static_cast<float>(v);
  return true;
}

bool ReadInt(std::FILE* file, int* value) {
  char token[kMaxToken + 1];
  if (!file || !value || !NextToken(file, "+-0123456789", token)) return false;
  const char* begin = SkipPlus(token);
  const char* end = token + std::strlen(token);
  int v = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, v);
  if (ec != std::errc() || ptr != end) return false;
  *value = v;
  return true;
}

}  // namespace quorl
