// Shows one skinned dialog modally, for a look on a real display (for
// example through an X screenshot): "msgbox" (the control library's message
// box), "objprops" (the board properties dialog) or "calib3d" (the 3D
// results dialog with three views of a board). Lives beside Graphics/, so
// the title bars load the shipped strips. Prints the dialog's result.
#include <opencv2/core/core_c.h>

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calib_3d_scene.h"
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
  if (std::strcmp(which, "calib3d") == 0) {
    // A 640 x 480 camera and three views of a 9 x 6 board of 25 mm squares.
    const double K[9] = {800, 0, 320, 0, 800, 240, 0, 0, 1}, d[4] = {}, I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
                 t0[3] = {};
    std::vector<double> R, T;
    std::vector<IplImage*> images;
    for (int i = 0; i < 3; ++i) {
      const double a = 0.3 * (i - 1);
      const double r[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
      const double t[3] = {-100.0 + 20 * i, -60.0, 600.0 + 50 * i};
      R.insert(R.end(), r, r + 9);
      T.insert(T.end(), t, t + 3);
      IplImage* image = cvCreateImage(cvSize(160, 120), IPL_DEPTH_8U, 3);
      cvSet(image, cvScalar(80 * i, 160, 255 - 80 * i));
      images.push_back(image);
    }
    CCalib3DScene dialog;
    win::SetNextModalHook([&](CDialog&) {
      dialog.AddScene(0, CCamera(K, d, I, t0, 640, 480), R.data(), T.data(), 3, 9, 6, 25.0, images);
    });
    result = dialog.DoModal();
    for (IplImage*& image : images) cvReleaseImage(&image);
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
