#pragma once
// The 3-D code's debugger output: standard error when QUORL_DEBUG_OUTPUT is
// set, so tests and normal runs stay quiet. (Not named OutputDebugStringA:
// the window layer owns that name.)
namespace d3d9 {
void OutputDebugText(const char* text);
}
