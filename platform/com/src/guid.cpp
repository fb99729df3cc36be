#include <cctype>
#include <cstdio>

#include "com/guid.h"

std::string GuidToString(const GUID& g) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return buf;
}

bool GuidFromString(const std::string& text, GUID* out) {
  if (!out) return false;
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  static const int dashes[] = {8, 13, 18, 23};
  for (int i = 0; i < 36; ++i) {
    const bool dash = i == dashes[0] || i == dashes[1] || i == dashes[2] || i == dashes[3];
    if (dash ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  auto hex = [&](int pos, int len) { return std::stoul(s.substr(pos, len), nullptr, 16); };
  GUID g;
  g.Data1 = static_cast<std::uint32_t>(hex(0, 8));
  g.Data2 = static_cast<std::uint16_t>(hex(9, 4));
  g.Data3 = static_cast<std::uint16_t>(hex(14, 4));
  g.Data4[0] = static_cast<std::uint8_t>(hex(19, 2));
  g.Data4[1] = static_cast<std::uint8_t>(hex(21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<std::uint8_t>(hex(24 + 2 * i, 2));
  *out = g;
  return true;
}

int StringFromGUID2(const GUID& g, wchar_t* buffer, int capacity) {
  const std::string s = GuidToString(g);
  const int need = static_cast<int>(s.size()) + 1;
  if (!buffer || capacity < need) return 0;
  for (size_t i = 0; i < s.size(); ++i) buffer[i] = static_cast<wchar_t>(s[i]);
  buffer[s.size()] = L'\0';
  return need;
}
