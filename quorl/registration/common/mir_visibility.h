#pragma once
// The registration engines are internal to the library: every namespace of
// MIR is declared through this macro so that its classes, and the template
// instantiations made in the exported front's own sources, stay hidden in
// libQuorl.so.
#define MIR_HIDDEN __attribute__((visibility("hidden")))
