#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "win/messagebox.h"
#include "win/window_services.h"

namespace {

TEST(MessageBoxSeam, RecordingHandlerSeesEveryCallFromAnyThread) {
  std::vector<std::string> seen;
  auto old = win::SetMessageBoxHandler([&](HWND, const std::string& text, const std::string& caption, UINT type) {
    seen.push_back(caption + "|" + text + "|" + std::to_string(type));
    return IDCANCEL;
  });
  EXPECT_EQ(MessageBox(nullptr, "Can't open file", "Save camera parameters", MB_OK | MB_ICONERROR), IDCANCEL);
  std::thread t([] { MessageBox(nullptr, nullptr, nullptr, MB_OK); });
  t.join();
  win::SetMessageBoxHandler(old);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Save camera parameters|Can't open file|16");
  EXPECT_EQ(seen[1], "Error||0");
  EXPECT_EQ(MessageBox(nullptr, "default", "handler", MB_OK), IDOK);
}

TEST(WindowServicesSeam, FreeFunctionsFailWithoutServices) {
  ASSERT_EQ(win::GetWindowServices(), nullptr);
  HWND fake = reinterpret_cast<HWND>(0x10);
  EXPECT_EQ(PostMessage(fake, 0x400, 0, 0), FALSE);
  EXPECT_EQ(SendMessage(fake, 0x400, 0, 0), 0);
  EXPECT_EQ(IsWindow(fake), FALSE);
}

}  // namespace
