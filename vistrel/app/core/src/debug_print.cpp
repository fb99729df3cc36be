#include "app_core/debug_print.h"

#include <cstdio>
#include <string>

#include "win/window.h"

void PrintMatrix4x4(const float* m) {
  if (!m) return;
  std::string line;
  char value[64];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(value, sizeof value, "%f ", static_cast<double>(m[i]));
    line += value;
  }
  line += '\n';
  OutputDebugStringA(line.c_str());
}
