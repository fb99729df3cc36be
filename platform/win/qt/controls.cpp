#include "window_internal.h"

namespace win {

// Plain windows have no native control; the control classes add theirs.
void CreateControl(WindowData*) {}

}  // namespace win
