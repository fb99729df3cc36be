// Shows one skinned dialog modally, for a look on a real display (for
// example through an X screenshot): "msgbox" (the control library's message
// box) or "objprops" (the board properties dialog). Lives beside Graphics/,
// so the title bars load the shipped strips. Prints the dialog's result.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "gdiplus/startup.h"
#include "object_properties.h"
#include "quorlmfc/dialog_x.h"
#include "win/window.h"

int main(int argc, char** argv) {
  const char* which = argc > 1 ? argv[1] : "msgbox";
  win::ChooseQtPlatform();
  QApplication app(argc, argv);
  win::EnsureApplication();
  Gdiplus::GdiplusStartupInput in;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &in, nullptr);
  INT_PTR result = -1;
  if (std::strcmp(which, "objprops") == 0) {
    CObjectProperties dialog;
    dialog.SetValues(25.0, 25.0, 9, 7, 5, 5);
    result = dialog.DoModal();
  } else {
    CDialogXMsgBox box(nullptr, "Delete the selected images from the camera?", "Confirm");
    result = box.DoModal();
  }
  std::printf("result %d\n", static_cast<int>(result));
  win::RunDeferredDestruction();
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
