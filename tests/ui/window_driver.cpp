#include "tests/ui/window_driver.h"

#include <gtest/gtest.h>

#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace tessaly::test {

namespace {

bool IsDialogClass(HWND window) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

}  // namespace

std::vector<HWND> WindowDriver::Dialogs() const {
    std::vector<HWND> found;
    ::EnumThreadWindows(
        m_thread,
        [](HWND window, LPARAM list) -> BOOL {
            if (IsDialogClass(window) && ::IsWindowVisible(window))
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool WindowDriver::MainDialogExists() const {
    for (HWND dialog : Dialogs()) {
        if (::GetDlgItem(dialog, 1000) != nullptr) return true;
    }
    return false;
}

size_t WindowDriver::BoxesUntilTheDialogEnds(std::chrono::milliseconds timeout) const {
    WaitUntil([&] { return Boxes().empty(); });
    size_t most = 0;
    WaitUntil(
        [&] {
            most = std::max(most, Boxes().size());
            return !MainDialogExists();
        },
        timeout);
    return most;
}

HWND WindowDriver::WaitForMainDialog(std::chrono::milliseconds timeout) const {
    HWND main = nullptr;
    WaitUntil(
        [&] {
            for (HWND dialog : Dialogs()) {
                if (::GetDlgItem(dialog, 1000) != nullptr) main = dialog;
            }
            return main != nullptr;
        },
        timeout);
    return main;
}

std::vector<HWND> WindowDriver::Boxes() const {
    std::vector<HWND> boxes;
    for (HWND dialog : Dialogs()) {
        if (::GetDlgItem(dialog, 1000) == nullptr) boxes.push_back(dialog);
    }
    return boxes;
}

HWND WindowDriver::WaitForBox(std::chrono::milliseconds timeout) const {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            const std::vector<HWND> boxes = Boxes();
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        timeout);
    return box;
}

std::wstring WindowDriver::Text(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring WindowDriver::ItemText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

void WindowDriver::Press(HWND box, int button) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
}

HICON WindowDriver::BoxIcon(HWND box) {
    HICON icon = nullptr;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM found) -> BOOL {
            if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
            *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&icon));
    return icon;
}

bool WindowDriver::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool SaveWindowPicture(HWND window, const std::string& importTool, const std::string& unixFile, uintmax_t leastBytes) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    const std::wstring crop = std::to_wstring(frame.right - frame.left) + L"x" + std::to_wstring(frame.bottom - frame.top) +
                              L"+" + std::to_wstring(frame.left) + L"+" + std::to_wstring(frame.top);
    std::wstring commandLine = L"start.exe /wait /unix " + WideFromUtf8(importTool) + L" -window root -crop " + crop +
                               L" +repage " + WideFromUtf8(unixFile);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process))
        return false;
    const bool finished = ::WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    std::error_code error;
    const uintmax_t bytes = std::filesystem::file_size(PathFromUtf8("Z:" + unixFile), error);
    if (finished && exitCode == 0 && !error && bytes > leastBytes) return true;
    std::fprintf(stderr, "screenshot %s: %s, exit code %lu, %ju bytes\n", unixFile.c_str(),
                 finished ? "finished" : "still running", static_cast<unsigned long>(exitCode),
                 error ? uintmax_t{0} : bytes);
    return false;
}

void RunWithDriver(const std::function<void()>& modal, const std::function<void(WindowDriver&)>& drive) {
    std::atomic<bool> modalEnded{false};
    WindowDriver driver(::GetCurrentThreadId());
    std::thread driverThread([&] {
        drive(driver);
        if (!WindowDriver::WaitUntil([&] { return modalEnded.load(); }, 20s)) {
            std::fprintf(stderr, "The dialog did not end; giving up.\n");
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
    modal();
    modalEnded = true;
    driverThread.join();
}

}  // namespace tessaly::test
