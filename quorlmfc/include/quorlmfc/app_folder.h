#pragma once
// The control library's application folder: where skin images are looked
// up, unless an owner names a folder of its own.
#include "win/cstring.h"

namespace QuorlMFC {

// The running program's drive and directory, ending in a separator ("/"
// here), so that a literal such as "\Graphics\button_power.png" appended to
// it names a file beside the program.
CString ApplicationFolder();

}  // namespace QuorlMFC
