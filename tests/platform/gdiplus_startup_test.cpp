// GdiplusStartup in child processes: each needs a process without an
// application object, and a display that is missing must not abort it.
#include "comma_locale/comma_locale.h"
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "gdiplus/startup.h"

namespace {

using namespace Gdiplus;

// Runs body in a forked child; its exit code is the number of failed checks
// (or 100 + signal when it died).
int InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A display number no X server holds: neither its socket nor its lock file
// exists. Screenshot tools and other test runs start servers of their own, so
// no fixed number can be trusted to be free.
std::string FreeDisplay() {
  for (int n = 300; n < 1000; ++n) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (access(socket.c_str(), F_OK) != 0 && access(lock.c_str(), F_OK) != 0) return ":" + std::to_string(n);
  }
  return ":999";
}

#define CHILD_CHECK(cond)                                         \
  do {                                                            \
    if (!(cond)) {                                                \
      std::fprintf(stderr, "child check failed: %s\n", #cond);   \
      ++failures;                                                 \
    }                                                             \
  } while (0)

TEST(GdiplusStartup, StartsOffscreenWithoutADisplay) {
  EXPECT_EQ(InChild([] {
              int failures = 0;
              unsetenv("DISPLAY");
              unsetenv("WAYLAND_DISPLAY");
              unsetenv("QT_QPA_PLATFORM");
              ULONG_PTR token = 0;
              GdiplusStartupInput input;
              CHILD_CHECK(GdiplusStartup(&token, &input, nullptr) == Ok);
              CHILD_CHECK(token != 0);
              CHILD_CHECK(QGuiApplication::instance() != nullptr);
              CHILD_CHECK(QGuiApplication::platformName() == "offscreen");
              GdiplusShutdown(token);
              CHILD_CHECK(QGuiApplication::instance() == nullptr);
              return failures;
            }),
            0);
}

TEST(GdiplusStartup, UnreachableDisplayFallsBackToOffscreen) {
  EXPECT_EQ(InChild([] {
              int failures = 0;
              setenv("DISPLAY", FreeDisplay().c_str(), 1);  // nobody listens there
              unsetenv("QT_QPA_PLATFORM");
              ULONG_PTR token = 0;
              CHILD_CHECK(GdiplusStartup(&token, nullptr, nullptr) == Ok);
              CHILD_CHECK(QGuiApplication::platformName() == "offscreen");
              GdiplusShutdown(token);
              return failures;
            }),
            0);
}

TEST(GdiplusStartup, KeepsNumbersInTheCLocale) {
  const std::string folder = quorl_test::CommaLocaleFolder();
  if (folder.empty()) GTEST_SKIP() << "no comma-decimal locale can be built here";
  EXPECT_EQ(InChild([&] {
              int failures = 0;
              setenv("LOCPATH", folder.c_str(), 1);
              setenv("LC_ALL", "de_DE.UTF-8", 1);
              char buf[32];
              // The trap is real here: the environment's locale writes a comma.
              CHILD_CHECK(std::setlocale(LC_ALL, "") != nullptr);
              std::snprintf(buf, sizeof buf, "%f", 1.5);
              CHILD_CHECK(std::strcmp(buf, "1,500000") == 0);
              std::setlocale(LC_ALL, "C");

              ULONG_PTR token = 0;
              CHILD_CHECK(GdiplusStartup(&token, nullptr, nullptr) == Ok);
              std::snprintf(buf, sizeof buf, "%f", 1.5);
              CHILD_CHECK(std::strcmp(buf, "1.500000") == 0);
              GdiplusShutdown(token);
              return failures;
            }),
            0);
}

TEST(GdiplusStartup, NestsAndReusesAnExistingApplication) {
  EXPECT_EQ(InChild([] {
              int failures = 0;
              ULONG_PTR a = 0, b = 0;
              CHILD_CHECK(GdiplusStartup(&a, nullptr, nullptr) == Ok);
              QCoreApplication* first = QCoreApplication::instance();
              CHILD_CHECK(GdiplusStartup(&b, nullptr, nullptr) == Ok);
              CHILD_CHECK(QCoreApplication::instance() == first);
              GdiplusShutdown(b);
              CHILD_CHECK(QCoreApplication::instance() == first);
              GdiplusShutdown(a);
              CHILD_CHECK(QCoreApplication::instance() == nullptr);
              return failures;
            }),
            0);
  EXPECT_EQ(InChild([] {
              int failures = 0;
              int argc = 1;
              char arg0[] = "test";
              char* argv[] = {arg0, nullptr};
              {
                QGuiApplication app(argc, argv);
                ULONG_PTR token = 0;
                CHILD_CHECK(GdiplusStartup(&token, nullptr, nullptr) == Ok);
                CHILD_CHECK(QCoreApplication::instance() == &app);
                GdiplusShutdown(token);
                CHILD_CHECK(QCoreApplication::instance() == &app);
              }
              return failures;
            }),
            0);
}

TEST(GdiplusStartup, RefusesBadArguments) {
  EXPECT_EQ(GdiplusStartup(nullptr, nullptr, nullptr), InvalidParameter);
  GdiplusStartupInput input;
  input.GdiplusVersion = 3;
  ULONG_PTR token = 0;
  EXPECT_EQ(GdiplusStartup(&token, &input, nullptr), UnsupportedGdiplusVersion);
}

// The seam fails exactly one start-up, starts nothing for it, and the next
// call starts as usual.
TEST(GdiplusStartup, TestSwitchFailsTheNextStartOnly) {
  EXPECT_EQ(InChild([] {
              int failures = 0;
              FailNextStartupForTesting(Win32Error);
              ULONG_PTR token = 7;
              CHILD_CHECK(GdiplusStartup(&token, nullptr, nullptr) == Win32Error);
              CHILD_CHECK(token == 0);
              CHILD_CHECK(QCoreApplication::instance() == nullptr);
              CHILD_CHECK(GdiplusStartup(&token, nullptr, nullptr) == Ok);
              CHILD_CHECK(token != 0);
              GdiplusShutdown(token);
              return failures;
            }),
            0);
}

}  // namespace
