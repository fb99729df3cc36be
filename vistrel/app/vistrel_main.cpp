// The workbench program's one application object; main comes from the
// window stand-in (win::RunApplication).
#include "vistrel_app.h"

CVistrelApp theApp;
