#include "d3d9/debug_output.h"

#include <cstdio>
#include <cstdlib>

namespace d3d9 {

void OutputDebugText(const char* text) {
  static const bool enabled = std::getenv("QUORL_DEBUG_OUTPUT") != nullptr;
  if (enabled && text) std::fputs(text, stderr);
}

}  // namespace d3d9
