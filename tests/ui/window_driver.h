#pragma once
// Drives the program's real windows from a second thread of the test process: the window thread
// runs the modal dialog (as the program does) while the driver finds, reads and answers windows.

#include <windows.h>

#include "ui/tessaly_dlg.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessaly::test {

using namespace std::chrono_literals;

class WindowDriver {
public:
    explicit WindowDriver(DWORD windowThreadId) : m_thread(windowThreadId) {}

    // The main dialog (the dialog with the progress bar, control 1000), once it is visible.
    HWND WaitForMainDialog(std::chrono::milliseconds timeout = 10s) const;
    // Visible message boxes (dialogs without control 1000) of the window thread.
    std::vector<HWND> Boxes() const;
    HWND WaitForBox(std::chrono::milliseconds timeout = 10s) const;
    // Whether the window thread still shows a main dialog.
    bool MainDialogExists() const;
    // After a box has been answered: waits for it to go, then for the main dialog to end, and
    // returns the most boxes seen meanwhile (a completion box, for one).
    size_t BoxesUntilTheDialogEnds(std::chrono::milliseconds timeout = 15s) const;

    static std::wstring Text(HWND window);
    static std::wstring ItemText(HWND dialog, int id);
    // The message of a message box (its static 0xFFFF).
    static std::wstring BoxMessage(HWND box) { return ItemText(box, 0xFFFF); }
    // Presses a button of a box (IDOK, IDYES, IDNO, ...) the way a click does.
    static void Press(HWND box, int button);
    // The icon a message box shows, or null.
    static HICON BoxIcon(HWND box);

    static bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

private:
    std::vector<HWND> Dialogs() const;
    DWORD m_thread;
};

// The main dialog, plus a way for the driver to run code on the window thread (as the window's
// own handlers would).
class TestDialog : public CTessaly_Dlg {
public:
    void RunOnWindowThread(HWND window, const std::function<void()>& work) {
        ::SendMessageW(window, kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kRunMessage) {
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        }
        return CTessaly_Dlg::WindowProc(message, wParam, lParam);
    }

private:
    static constexpr UINT kRunMessage = WM_APP + 100;
};

bool RunningUnderWine();

// Saves a picture of `window`'s frame (from the X server, with ImageMagick's import) to the Unix
// path `unixFile`; true when a drawn picture (larger than `leastBytes`) was written.
bool SaveWindowPicture(HWND window, const std::string& importTool, const std::string& unixFile, uintmax_t leastBytes);

// Runs `modal` (which shows a modal dialog and returns when it ends) on this thread and `drive`
// on a driver thread. If the dialog is still there 20 s after `drive` returned, the test process
// ends with a failure instead of hanging.
void RunWithDriver(const std::function<void()>& modal, const std::function<void(WindowDriver&)>& drive);

}  // namespace tessaly::test
