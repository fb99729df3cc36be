// Window tests run headless whatever DISPLAY says: the offscreen platform is
// chosen before the QApplication exists.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "win/prompts.h"
#include "win/window.h"

int main(int argc, char** argv) {
  // QUORL_TEST_QPA names another platform for the few tests that run a
  // second time on a real X server (xcb under Xvfb).
  const char* platform = std::getenv("QUORL_TEST_QPA");
  setenv("QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen", 1);
  QApplication app(argc, argv);
  win::EnsureApplication();
  // No test may block on a real dialog: unscripted prompts answer at once.
  win::ScriptedPrompts headless;
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  win::RunDeferredDestruction();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return rc;
}
