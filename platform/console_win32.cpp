#include <io.h>
#include <windows.h>

#include "platform/console.h"

namespace tessaly {

namespace {
std::atomic<bool>* s_interruptFlag = nullptr;
BOOL WINAPI onControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        if (s_interruptFlag != nullptr) s_interruptFlag->store(true);
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
    s_interruptFlag = flag;
    SetConsoleCtrlHandler(onControl, TRUE);
}

}  // namespace tessaly
