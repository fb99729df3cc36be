// Shows one skinned dialog modally, for a look on a real display (for
// example through an X screenshot): "msgbox" (the control library's message
// box), "objprops" (the board properties dialog), "capsettings" (the
// capture settings dialog) or "videopanel" (a video panel on the first
// capture device, e.g. one of QUORL_FAKE_VIDEO_DEVICES, or on the video file
// given next; it stays up for 30 seconds). Lives beside Graphics/, so the
// title bars and buttons load the shipped strips. Prints the result.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "gdiplus/startup.h"
#include "capture_settings_dlg.h"
#include "object_properties.h"
#include "video_capture_control.h"
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
  if (std::strcmp(which, "videopanel") == 0) {
    char module[_MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, module, _MAX_PATH);
    std::string folder = module;
    folder = folder.substr(0, folder.rfind('/'));
    {
      CWnd host;
      host.CreateEx(0, nullptr, "Video panel", WS_POPUP | WS_VISIBLE, CRect(20, 20, 420, 380), nullptr, 0);
      CVideoCaptureControl panel;
      panel.Create("", WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 360), &host, 3000);
      panel.SetApplicationFolder(folder.c_str());
      panel.Initialise();
      result = argc > 2 ? panel.OpenFile(argv[2]) : panel.OpenDevice(1);
      if (argc > 2) panel.Capture().Run();
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (std::chrono::steady_clock::now() < end && host.m_hWnd) {
        QApplication::processEvents();
        win::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  } else if (std::strcmp(which, "capsettings") == 0) {
    CCaptureSettingsDlg dialog;
    result = dialog.DoModal();
  } else if (std::strcmp(which, "objprops") == 0) {
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
