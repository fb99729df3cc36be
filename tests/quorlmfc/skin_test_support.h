#pragma once
// Shared by the control-library window tests: GDI+ started once per test
// program, strips written on the fly, and reading what a window shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <string>

#include "gdiplus/startup.h"
#include "win/window.h"

namespace skin_test {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token_, &in, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

// The built Graphics/ folder's parent, as the application folder that holds
// it (an empty string when the build has none).
inline std::string BuiltSkinFolder() {
#ifdef QUORL_GRAPHICS_DIR
  std::string dir = QUORL_GRAPHICS_DIR;
  return dir.substr(0, dir.rfind('/') + 1);
#else
  return "";
#endif
}

// A horizontal strip of four frames of one colour with one alpha.
inline std::string WriteStrip(const QTemporaryDir& dir, const char* name, int frameWidth, int frameHeight, QRgb argb) {
  QImage strip(4 * frameWidth, frameHeight, QImage::Format_ARGB32);
  strip.fill(argb);
  const std::string path = dir.filePath(name).toStdString();
  EXPECT_TRUE(strip.save(QString::fromStdString(path)));
  return path;
}

inline QWindow* TopWindow(CWnd& w) {
  return static_cast<QWidget*>(w.GetTopLevelParent()->GetHostWidget())->windowHandle();
}

// The window's client area as shown: its surface with visible children.
inline COLORREF Shown(CWnd& w, int x, int y) {
  CClientDC dc(&w);
  return dc.GetPixel(x, y);
}

// Pumps until nothing is left, letting the platform deliver its own events.
inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    win::PumpMessages();
  }
}

// The directory of the running test program, with its trailing "/".
inline std::string ProgramFolder() {
  char path[_MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, _MAX_PATH);
  std::string p = path;
  return p.substr(0, p.rfind('/') + 1);
}

}  // namespace skin_test

#include "win/dialog.h"

namespace skin_test {

// A popup dialog of 200 x 100 dialog units (300 x 163 pixels) with OK,
// Cancel and one edit, for the skinned dialog tests.
constexpr UINT kTestTemplate = 9001;
inline void RegisterTestTemplate() {
  win::DialogTemplate t;
  t.id = kTestTemplate;
  t.style = WS_POPUP | DS_SETFONT;
  t.x = 20;
  t.y = 30;
  t.cx = 200;
  t.cy = 100;
  t.fontFace = "MS Sans Serif";
  t.items = {
      {"EDIT", 1001, "", 10, 30, 60, 12, WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDOK, "OK", 90, 80, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 145, 80, 50, 14, WS_TABSTOP | WS_VISIBLE},
  };
  win::RegisterDialogTemplate(t);
}

}  // namespace skin_test
