#include <csignal>
#include <unistd.h>

#include "platform/console.h"

namespace tessaly {

namespace {
std::atomic<bool>* s_interruptFlag = nullptr;
extern "C" void onInterrupt(int) {
    if (s_interruptFlag != nullptr) s_interruptFlag->store(true);
}
}  // namespace

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void InstallInterruptFlag(std::atomic<bool>* flag) {
    static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
    s_interruptFlag = flag;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tessaly
