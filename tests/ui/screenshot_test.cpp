// Saves a picture of the running main window into the build folder (ImageMagick's import, started
// through Wine's "start /unix"), for people to look at: the Chinese texts must be readable and the
// picture drawn.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/text.h"
#include "tests/ui/window_driver.h"
#include "ui/tessaly_app.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using test::RunningUnderWine;
using test::RunWithDriver;
using test::WindowDriver;

constexpr uintmax_t kDrawnWindowBytes = 20000;

TEST(Screenshot, OfTheMainWindowIsSavedInTheBuildFolder) {
    if (!RunningUnderWine()) GTEST_SKIP() << "takes the picture with the X server's tools";
    const std::string shot = TESSALY_SCREENSHOT_FILE;
    const std::filesystem::path shotPath = PathFromUtf8("Z:" + shot);
    std::filesystem::remove(shotPath);

    CTessaly_App app;
    bool taken = false;
    RunWithDriver([&] { app.InitInstance(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      taken = WindowDriver::WaitUntil(
                          [&] {
                              std::this_thread::sleep_for(500ms);
                              return test::SaveWindowPicture(window, TESSALY_IMPORT_TOOL, shot, kDrawnWindowBytes);
                          },
                          15s);
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_TRUE(taken) << shot;
}

}  // namespace
}  // namespace tessaly
