#pragma once
// GdiplusStartup makes sure a Qt application object exists: painting, fonts
// and window surfaces need one (image files do not). With no display it runs
// Qt offscreen. Calls nest; an application made here lives until the last
// GdiplusShutdown.
#include "gdiplus/types.h"

namespace Gdiplus {

struct GdiplusStartupInput {
  UINT32 GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  BOOL SuppressBackgroundThread = FALSE;
  BOOL SuppressExternalCodecs = FALSE;
};

struct GdiplusStartupOutput {
  void* NotificationHook = nullptr;
  void* NotificationUnhook = nullptr;
};

// Call on the thread that is to run the user interface.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                      GdiplusStartupOutput* output);
void GdiplusShutdown(ULONG_PTR token);

// Test seam: the next GdiplusStartup returns status (anything but Ok)
// without starting anything; later calls run normally again.
void FailNextStartupForTesting(Status status = GenericError);

}  // namespace Gdiplus
