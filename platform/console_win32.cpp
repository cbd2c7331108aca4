#include <io.h>
#include <windows.h>

#include "platform/console.h"

namespace tessaly {

namespace {
// Atomic: the system calls the handler on a thread of its own, while another thread installs or
// removes the flag.
std::atomic<std::atomic<bool>*> s_interruptFlag{nullptr};
BOOL WINAPI onControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        std::atomic<bool>* flag = s_interruptFlag.load();
        if (flag != nullptr) flag->store(true);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void InstallInterruptFlag(std::atomic<bool>* flag) {
    s_interruptFlag.store(flag);
    SetConsoleCtrlHandler(onControl, TRUE);
}

}  // namespace tessaly
