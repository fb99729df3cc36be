// Window tests run headless whatever DISPLAY says: the offscreen platform is
// chosen before the QApplication exists.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "win/window.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  win::EnsureApplication();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return rc;
}
