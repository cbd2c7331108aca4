// The main dialog, driven for real under Wine: start-up, closing, keyboard, taskbar object, links,
// and a build run by a stand-in worker (the close path and the progress and completion reports).

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <span>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/window_driver.h"
#include "ui/hot_spot.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_app.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {

// The dialog's private state, for checks after the fact.
struct TessalyDlgTestAccess {
    static PatchPackage* Package(CTessaly_Dlg& d) { return d.m_package.get(); }
    static ITaskbarList4* TaskbarList(CTessaly_Dlg& d) { return d.m_taskbarList; }
    static bool BuildRunning(CTessaly_Dlg& d) { return d.m_buildThread != nullptr; }
    static void StartBuild(CTessaly_Dlg& d) { d.StartBuild(); }
};

namespace {

using namespace std::chrono_literals;
using test::RunWithDriver;
using test::WindowDriver;
using Access = TessalyDlgTestAccess;

const std::wstring kTitle = L"《Quillmoor 2》DISC1 - 汉化补丁";
const std::wstring kWaitingStatus = L"请将原版ISO拖放至上方的图片中";

using test::TestDialog;

// Replaces a seam for the length of a test.
template <class F>
class SeamOverride {
public:
    SeamOverride(F& seam, F replacement) : m_seam(seam), m_original(seam) { seam = replacement; }
    ~SeamOverride() { m_seam = m_original; }
    F original() const { return m_original; }

private:
    F& m_seam;
    F m_original;
};

int ProgressRangeHigh(HWND dialog) {
    PBRANGE range{};
    ::SendDlgItemMessageW(dialog, 1000, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return range.iHigh;
}

int ProgressRangeLow(HWND dialog) {
    PBRANGE range{};
    ::SendDlgItemMessageW(dialog, 1000, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return range.iLow;
}

bool ProgressVisible(HWND dialog) { return ::IsWindowVisible(::GetDlgItem(dialog, 1000)) != FALSE; }

TEST(StartUp, ShowsTitleStatusVersionAndAHiddenBarThenEndsWithTheDialog) {
    CTessaly_App app;
    BOOL initResult = TRUE;
    RunWithDriver([&] { initResult = app.InitInstance(); },
                  [&](WindowDriver& driver) {
                      HWND dialog = driver.WaitForMainDialog();
                      ASSERT_NE(dialog, nullptr);
                      EXPECT_EQ(WindowDriver::Text(dialog), kTitle);
                      EXPECT_EQ(WindowDriver::ItemText(dialog, 1001), kWaitingStatus);
                      EXPECT_EQ(WindowDriver::ItemText(dialog, 1002), L"ver 1.21");
                      EXPECT_FALSE(ProgressVisible(dialog));
                      EXPECT_EQ(ProgressRangeLow(dialog), 0);
                      EXPECT_EQ(ProgressRangeHigh(dialog), 1000);
                      EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
                      EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
                      EXPECT_NE(::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
                      EXPECT_TRUE(driver.Boxes().empty());
                      ::PostMessageW(dialog, WM_CLOSE, 0, 0);
                  });
    // The dialog has ended, and InitInstance asks the program to end rather than run on.
    EXPECT_EQ(initResult, FALSE);
}

TEST(StartUp, CorruptPackageGivesOneErrorBoxAndTheProgramEnds) {
    static const uint8_t kDamaged[] = {1, 0, 0, 0, 200, 0, 0, 0};
    SeamOverride<std::span<const uint8_t> (*)()> package(
        seams::EmbeddedPackage, [] { return std::span<const uint8_t>(kDamaged, sizeof(kDamaged)); });
    CTessaly_App app;
    BOOL initResult = TRUE;
    std::vector<HWND> boxesSeen;
    std::wstring message, caption;
    HICON icon = nullptr;
    RunWithDriver([&] { initResult = app.InitInstance(); },
                  [&](WindowDriver& driver) {
                      // Answer every box until the program's dialog is gone, counting them.
                      const bool ended = WindowDriver::WaitUntil(
                          [&] {
                              for (HWND box : driver.Boxes()) {
                                  if (std::find(boxesSeen.begin(), boxesSeen.end(), box) != boxesSeen.end()) continue;
                                  boxesSeen.push_back(box);
                                  message = WindowDriver::BoxMessage(box);
                                  caption = WindowDriver::Text(box);
                                  icon = WindowDriver::BoxIcon(box);
                                  WindowDriver::Press(box, IDOK);
                              }
                              return !boxesSeen.empty() && !driver.MainDialogExists() && driver.Boxes().empty();
                          },
                          10s);
                      EXPECT_TRUE(ended);
                  });
    EXPECT_EQ(initResult, FALSE);
    EXPECT_EQ(boxesSeen.size(), 1u);
    EXPECT_EQ(message, L"补丁已损坏，退出！");
    EXPECT_EQ(caption, L"错误");
    EXPECT_EQ(icon, ::LoadIconW(nullptr, IDI_ERROR));
}

TEST(Closing, WithoutABuildAsksNothingAndReleasesThePackage) {
    TestDialog dialog;
    bool packageLoaded = false;
    size_t boxesWhileClosing = 0;
    INT_PTR result = 0;
    RunWithDriver([&] { result = dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      dialog.RunOnWindowThread(window, [&] {
                          PatchPackage* package = Access::Package(dialog);
                          packageLoaded = package != nullptr && !package->corrupt && package->entryCount > 0;
                      });
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                      WindowDriver::WaitUntil([&] {
                          boxesWhileClosing = std::max(boxesWhileClosing, driver.Boxes().size());
                          return !driver.MainDialogExists();
                      });
                  });
    EXPECT_TRUE(packageLoaded);
    EXPECT_EQ(boxesWhileClosing, 0u);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Access::Package(dialog), nullptr);
}

struct KeyCase {
    const char* name;
    WPARAM key;
    INT_PTR result;
};

// Rows print as their names (ctest shows the printed value in the test name).
void PrintTo(const KeyCase& row, std::ostream* out) { *out << row.name; }

class Keyboard : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keyboard, EndsTheDialogAtOnceWhenNoBuildRuns) {
    TestDialog dialog;
    size_t boxes = 0;
    INT_PTR result = 0;
    RunWithDriver([&] { result = dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      ::PostMessageW(window, WM_KEYDOWN, GetParam().key, 0);
                      WindowDriver::WaitUntil([&] {
                          boxes = std::max(boxes, driver.Boxes().size());
                          return !driver.MainDialogExists();
                      });
                  });
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(boxes, 0u);
    // Ended through the base class: OnClose did not run, so the package was not released.
    EXPECT_NE(Access::Package(dialog), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Keys, Keyboard,
                         ::testing::Values(KeyCase{"Escape", VK_ESCAPE, IDCANCEL}, KeyCase{"Enter", VK_RETURN, IDOK}),
                         [](const ::testing::TestParamInfo<KeyCase>& row) { return std::string(row.param.name); });

std::atomic<int> s_taskbarCreations{0};

HRESULT CountingTaskbarCreation(ITaskbarList4** taskbar);
SeamOverride<HRESULT (*)(ITaskbarList4**)>* s_taskbarSeam = nullptr;

HRESULT CountingTaskbarCreation(ITaskbarList4** taskbar) {
    ++s_taskbarCreations;
    return s_taskbarSeam->original()(taskbar);
}

TEST(Taskbar, EachTaskbarButtonCreatedMessageCreatesTheObjectAfresh) {
    SeamOverride<HRESULT (*)(ITaskbarList4**)> seam(seams::CreateTaskbarList, &CountingTaskbarCreation);
    s_taskbarSeam = &seam;
    s_taskbarCreations = 0;
    TestDialog dialog;
    ITaskbarList4* first = nullptr;
    ITaskbarList4* second = nullptr;
    int creationsBeforePost = -1;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      // Wine's shell never sends the message; the test plays the shell.
                      creationsBeforePost = s_taskbarCreations.load();
                      ::PostMessageW(window, TaskbarButtonCreatedMessage(), 0, 0);
                      WindowDriver::WaitUntil([] { return s_taskbarCreations.load() >= 1; });
                      dialog.RunOnWindowThread(window, [&] { first = Access::TaskbarList(dialog); });
                      ::PostMessageW(window, TaskbarButtonCreatedMessage(), 0, 0);
                      WindowDriver::WaitUntil([] { return s_taskbarCreations.load() >= 2; });
                      dialog.RunOnWindowThread(window, [&] { second = Access::TaskbarList(dialog); });
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    s_taskbarSeam = nullptr;
    EXPECT_EQ(creationsBeforePost, 0);
    EXPECT_EQ(s_taskbarCreations.load(), 2);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    // Closing released it.
    EXPECT_EQ(Access::TaskbarList(dialog), nullptr);
}

TEST(Icons, DragIconAndMinimisedPictureAreTheProgramsIcon) {
    TestDialog dialog;
    LRESULT dragIcon = 0, bigIcon = 0;
    bool minimised = false, restored = false;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      dragIcon = ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0);
                      bigIcon = ::SendMessageW(window, WM_GETICON, ICON_BIG, 0);
                      // Minimised, the window paints the icon itself.
                      dialog.RunOnWindowThread(window, [&] {
                          ::ShowWindow(window, SW_MINIMIZE);
                          minimised = ::IsIconic(window) != FALSE;
                          ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
                          ::ShowWindow(window, SW_RESTORE);
                          restored = ::IsIconic(window) == FALSE;
                      });
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_NE(dragIcon, 0);
    EXPECT_EQ(dragIcon, bigIcon);
    EXPECT_EQ(reinterpret_cast<HICON>(dragIcon), ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128)));
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(restored);
}

std::mutex s_pagesMutex;
std::vector<std::wstring> s_pagesOpened;

void RecordPage(const wchar_t* page) {
    std::lock_guard<std::mutex> lock(s_pagesMutex);
    s_pagesOpened.push_back(page);
}

TEST(Links, ClickInsideAnAreaOpensItsPageOnceAndOutsideNothing) {
    SeamOverride<void (*)(const wchar_t*)> seam(seams::OpenPage, &RecordPage);
    s_pagesOpened.clear();
    TestDialog dialog;
    std::vector<std::vector<std::wstring>> openedAfter;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      auto click = [&](int x, int y) {
                          dialog.RunOnWindowThread(window, [&] {
                              ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
                              ::SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
                          });
                          std::lock_guard<std::mutex> lock(s_pagesMutex);
                          openedAfter.push_back(s_pagesOpened);
                      };
                      click(350, 160);  // slot 1
                      click(300, 200);  // outside
                      click(433, 200);  // slot 2
                      click(5, 5);      // outside
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    const std::wstring slot1 = kHotSpots[0].page;
    const std::wstring slot2 = kHotSpots[1].page;
    ASSERT_EQ(openedAfter.size(), 4u);
    EXPECT_EQ(openedAfter[0], std::vector<std::wstring>({slot1}));
    EXPECT_EQ(openedAfter[1], std::vector<std::wstring>({slot1}));
    EXPECT_EQ(openedAfter[2], std::vector<std::wstring>({slot1, slot2}));
    EXPECT_EQ(openedAfter[3], std::vector<std::wstring>({slot1, slot2}));
}

TEST(Links, HandCursorOverAnAreaOnly) {
    TestDialog dialog;
    HCURSOR overSlot = nullptr, outside = nullptr;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      dialog.RunOnWindowThread(window, [&] {
                          ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
                          ::SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
                          outside = ::GetCursor();
                          ::SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(400, 175));
                          overSlot = ::GetCursor();
                      });
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_EQ(outside, ::LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(overSlot, ::LoadCursorW(nullptr, IDC_HAND));
}

}  // namespace
}  // namespace tessaly
