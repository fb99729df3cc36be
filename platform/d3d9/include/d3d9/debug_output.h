#pragma once
// The debugger's output channel: here, standard error when
// QUORL_DEBUG_OUTPUT is set, so tests and normal runs stay quiet.
void OutputDebugStringA(const char* text);
