// Shows one skinned dialog modally, for a look on a real display (for
// example through an X screenshot): "msgbox" (the control library's message
// box), "objprops" (the board properties dialog), "objedit" (the object
// editor on a drawn board; "objedit-detect" also clicks its four corners, in
// select mode, through the window's messages), "imagelist" (the image list
// panel with six images, one disabled, one selected), "capsettings" (the
// capture settings dialog), "videopanel" (a video panel on the first
// capture device, e.g. one of QUORL_FAKE_VIDEO_DEVICES, or on the video file
// given next; it stays up for 30 seconds), "calib3d" (the 3D results
// dialog with three views of a board), "srcsetup" (the stream set-up
// dialog of a live source, quad and fields chosen), "srcremove" (the
// remove-source question), "sourcesview" (the sources view with the first
// capture device and, when a path follows, that video file, the first
// source selected; it stays up for 30 seconds), "options" (the options
// dialog), "relorient" (the relative orientation calculator after a
// Calculate), "syncplayer" (the synchronised player; given the server
// video and log and the client video and log next, it opens them and
// presses Go for server frame 1) or "dataview" (the data view with two
// cameras of board images and their rig, the first camera calibrated and
// selected). Lives beside
// Graphics/, so the title bars and buttons load the shipped strips. Prints
// the result.
#include <opencv2/core/core_c.h>

#include <QApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "calib_3d_scene.h"
#include "gdiplus/startup.h"
#include "image_list_control.h"
#include "object_edit_dlg.h"
#include "object_properties.h"
#include "calibration/calibration_data_store.h"
#include "data_view_host/data_view_host.h"
#include <opencv2/imgproc.hpp>
#include <opencv2/core/core_c.h>
#include "quorlmfc/app_folder.h"
#include "capture_settings_dlg.h"
#include "source_dialogs.h"
#include "source_setup_dlg.h"
#include "static_sources_view.h"
#include "application_options_dlg.h"
#include "relative_orientation_dlg.h"
#include "static_data_view.h"
#include "sync_player_dlg.h"
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
  } else if (std::strcmp(which, "imagelist") == 0) {
    CalibrationDataStore store;
    store.AddCamera();
    for (int i = 0; i < 6; ++i) {
      IplImage* image = cvCreateImage(cvSize(96, 72), IPL_DEPTH_8U, 3);
      cvSet(image, cvScalar(40 * i, 120, 230 - 35 * i));
      cv::Mat view = cv::cvarrToMat(image);
      cv::rectangle(view, cv::Rect(20, 15, 50, 40), cv::Scalar::all(255), cv::FILLED);
      store.AddImage(0, image);
    }
    store.DisableImage(0, 2);
    CWnd frame;
    frame.CreateEx(0, "Preview", "Image list", WS_POPUP | WS_VISIBLE, CRect(20, 20, 340, 260), nullptr, 0);
    CImageListControl list;
    list.Create("Video Player", WS_CHILD | WS_VISIBLE, CRect(10, 10, 310, 230), &frame, 100123);
    list.SetDataStore(&store);
    list.SetCurrentCamera(0);
    list.SetAppPath(QuorlMFC::ApplicationFolder());
    list.Initialize();
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 30));
    while (frame.IsWindowVisible()) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      win::PumpMessages();
    }
    result = 0;
  } else if (std::strncmp(which, "objedit", 7) == 0) {
    // A 9 x 6 point board of 40 px squares, seen in perspective.
    cv::Mat flat(480, 640, CV_8UC3, cv::Scalar(128, 128, 128));
    cv::rectangle(flat, cv::Rect(100, 80, 440, 320), cv::Scalar(255, 255, 255), cv::FILLED);
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 10; ++c)
        if ((r + c) % 2 == 0) cv::rectangle(flat, cv::Rect(120 + 40 * c, 100 + 40 * r, 40, 40), cv::Scalar(0, 0, 0), cv::FILLED);
    const cv::Point2f from[4] = {{160, 140}, {480, 140}, {480, 340}, {160, 340}};
    const cv::Point2f to[4] = {{190, 120}, {470, 160}, {450, 360}, {150, 330}};
    const cv::Mat H = cv::getPerspectiveTransform(from, to);
    cv::Mat seen;
    cv::warpPerspective(flat, seen, H, flat.size(), cv::INTER_AREA, cv::BORDER_REPLICATE);
    IplImage* image = cvCreateImage(cvSize(640, 480), IPL_DEPTH_8U, 3);
    cv::Mat dst = cv::cvarrToMat(image);
    seen.copyTo(dst);
    CalibrationDataStore store;
    store.AddCamera();
    store.SetObjectSettings(0, 25.0, 25.0, 9, 6, 3, 3);
    store.AddImage(0, image);
    CObjectEditDlg editor;
    editor.SetDataStore(&store);
    editor.Create(CObjectEditDlg::IDD);
    editor.OpenForCamera(0);
    editor.SetImageIndex(0);
    editor.ShowWindow(SW_SHOW);
    if (std::strcmp(which, "objedit-detect") == 0) {
      editor.SendMessage(WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), 0);
      // Bottom-left first, then clockwise on screen.
      for (int i : {3, 0, 1}) {
        const auto v = editor.Model().ImageToView({to[i].x, to[i].y});
        const int x = editor.ViewRect().left + static_cast<int>(v.x), y = editor.ViewRect().top + static_cast<int>(v.y);
        editor.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
      }
      if (argc > 2) {  // leave the fourth corner for the screenshot's marks
      } else {
        const auto v = editor.Model().ImageToView({to[2].x, to[2].y});
        editor.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON,
                           MAKELPARAM(editor.ViewRect().left + static_cast<int>(v.x), editor.ViewRect().top + static_cast<int>(v.y)));
      }
    }
    // Runs until the editor is closed (its exit button hides it).
    while (editor.IsWindowVisible()) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      win::PumpMessages();
    }
    result = 0;
  } else if (std::strcmp(which, "videopanel") == 0) {
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
  } else if (std::strcmp(which, "sourcesview") == 0) {
    char module[_MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, module, _MAX_PATH);
    std::string folder = module;
    folder = folder.substr(0, folder.rfind('/'));
    {
      CalibrationDataStore store;
      CWnd host;
      host.CreateEx(0, nullptr, "Source View", WS_POPUP | WS_VISIBLE, CRect(0, 0, 900, 440), nullptr, 0);
      CStaticSourcesView view;
      view.SetApplicationFolder(folder.c_str());
      view.Create("Source View", WS_CHILD | WS_VISIBLE | SS_NOTIFY, CRect(0, 0, 900, 440), &host, 3000);
      view.SetDataStore(&store);
      view.Create();
      // As the main dialog does: a camera for each source that opened.
      result = view.AddDeviceSource(1, nullptr);
      if (result == 0) store.AddCamera();
      if (argc > 2) {
        const std::string path = argv[2];
        if (view.AddFileSource(path.c_str(), path.substr(path.rfind('/') + 1).c_str()) == 0) {
          store.AddCamera();
          view.VideoPanel(view.SourceCount() - 1)->Capture().Run();
        }
      }
      if (view.SourceCount() > 0) {
        const StripRect d = view.Places().Details(0);
        view.PressAt(CPoint(d.left + 5, d.top + 5));
      }
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (std::chrono::steady_clock::now() < end && host.m_hWnd) {
        QApplication::processEvents();
        win::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  } else if (std::strcmp(which, "dataview") == 0) {
    CalibrationDataStore store;
    DataViewHost frame;
    frame.CreateEx(0, "Preview", "Data view", WS_POPUP | WS_VISIBLE, CRect(20, 20, 1000, 520), nullptr, 0);
    CStaticDataView view;
    frame.view = &view;
    view.SetDataStore(&store);
    view.Create("Data View", WS_CHILD | WS_VISIBLE, CRect(0, 0, 980, 500), &frame, 1050);
    view.Initialize();
    view.InsertNewCamera();
    view.InsertNewCamera();
    // Boards of 8 x 6 squares, shifted and scaled a little from view to view.
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 7; ++i) {
        IplImage* image = cvCreateImage(cvSize(160, 120), IPL_DEPTH_8U, 3);
        cv::Mat m = cv::cvarrToMat(image);
        m.setTo(cv::Scalar(150, 150, 150));
        const int square = 11 + i % 3, x0 = 20 + 4 * i - 6 * c, y0 = 18 + 2 * i;
        cv::rectangle(m, cv::Rect(x0 - 4, y0 - 4, 8 * square + 8, 6 * square + 8), cv::Scalar::all(255), cv::FILLED);
        for (int r = 0; r < 6; ++r)
          for (int k = 0; k < 8; ++k)
            if ((r + k) % 2 == 0)
              cv::rectangle(m, cv::Rect(x0 + k * square, y0 + r * square, square, square), cv::Scalar::all(0),
                            cv::FILLED);
        store.AddImage(c, image);
      }
    store.DisableImage(1, 3);
    CameraParameters p;
    p.K[0] = 812.5;
    p.K[2] = 322.25;
    p.K[4] = 809.75;
    p.K[5] = 241.5;
    p.K[8] = 1;
    p.d[0] = -0.21;
    p.d[1] = 0.08;
    p.width = 640;
    p.height = 480;
    store.SetCameraParameters(0, p);
    store.SetCalibrated(0);
    view.BuildStereoRigPanel(0, 1);
    store.AddStereoRig(0, 1);
    const double K[9] = {800, 0, 320, 0, 800, 240, 0, 0, 1}, d[5] = {}, I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
                 t0[3] = {}, t1[3] = {-120.0, 0.5, 1.25};
    store.SetStereoCamera(0, CStereoCamera(CCamera(K, d, I, t0, 640, 480), CCamera(K, d, I, t1, 640, 480)));
    view.RefreshPanels(1000);
    // The image lists hit-test what they last drew: let them paint first.
    for (int i = 0; i < 5; ++i) {
      QApplication::processEvents();
      win::PumpMessages();
    }
    view.OnLButtonDown(MK_LBUTTON, CPoint(100, 20));
    view.OnLButtonDown(MK_LBUTTON, CPoint(220 + 310 + 10 + 45 * 2 + 20, 30));
    while (frame.IsWindowVisible()) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      win::PumpMessages();
    }
    result = 0;
  } else if (std::strcmp(which, "options") == 0) {
    CApplicationOptionsDlg dialog;
    result = dialog.DoModal();
  } else if (std::strcmp(which, "relorient") == 0) {
    // Two calibrated cameras of two views each; Calculate is pressed.
    CalibrationDataStore store;
    for (int c = 0; c < 2; ++c) {
      store.AddCamera();
      store.SetObjectSettings(c, 25.0, 25.0, 9, 7, 5, 5);
      CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(c);
      engine->AllocateViews(2, store.GetObjectSettings(c));
      for (int k = 0; k < 2; ++k) {
        const double a = 0.2 * (k + 1) + c;
        const double r[9] = {std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1};
        std::copy(r, r + 9, engine->RotationMatrices() + 9 * k);
        const double t[3] = {10.0 * k, 5.0 * c, 600.0};
        std::copy(t, t + 3, engine->Translations() + 3 * k);
      }
      store.SetCalibrated(c);
    }
    CRelativeOrientationDlg dialog(nullptr, &store);
    win::SetNextModalHook([&](CDialog& d) {
      static_cast<CComboBox*>(d.GetDlgItem(CRelativeOrientationDlg::kSecondCamera))->SetCurSel(1);
      d.SendMessage(WM_COMMAND, MAKEWPARAM(CRelativeOrientationDlg::kSecondCamera, CBN_SELCHANGE), 0);
      d.SendMessage(WM_COMMAND, MAKEWPARAM(CRelativeOrientationDlg::kCalculate, BN_CLICKED), 0);
    });
    result = dialog.DoModal();
  } else if (std::strcmp(which, "syncplayer") == 0) {
    CSyncPlayerDlg dialog;
    if (argc > 5) {
      win::SetNextModalHook([&](CDialog& d) {
        d.SetDlgItemText(CSyncPlayerDlg::kFirstVideoPath, argv[2]);
        d.SetDlgItemText(CSyncPlayerDlg::kFirstLogPath, argv[3]);
        d.SetDlgItemText(CSyncPlayerDlg::kSecondVideoPath, argv[4]);
        d.SetDlgItemText(CSyncPlayerDlg::kSecondLogPath, argv[5]);
        d.SendMessage(WM_COMMAND, MAKEWPARAM(CSyncPlayerDlg::kOpenFiles, BN_CLICKED), 0);
        d.SetDlgItemText(CSyncPlayerDlg::kServerFrame, "1");
        d.SendMessage(WM_COMMAND, MAKEWPARAM(CSyncPlayerDlg::kGo, BN_CLICKED), 0);
      });
    }
    result = dialog.DoModal();
  } else if (std::strcmp(which, "srcsetup") == 0) {
    CSourceSetupDlg dialog;
    dialog.Prepare(true, nullptr, 2, 1, CString(""));
    result = dialog.DoModal();
  } else if (std::strcmp(which, "srcremove") == 0) {
    CRemoveSourceOptionsDlg dialog;
    result = dialog.DoModal();
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
