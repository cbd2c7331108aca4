#include <csignal>
#include <unistd.h>

#include "platform/console.h"

namespace tessaly {

namespace {
// Atomic: the handler runs on whichever thread takes the signal, while another thread installs
// or removes the flag.
std::atomic<std::atomic<bool>*> s_interruptFlag{nullptr};
extern "C" void onInterrupt(int) {
    std::atomic<bool>* flag = s_interruptFlag.load();
    if (flag != nullptr) flag->store(true);
}
}  // namespace

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void InstallInterruptFlag(std::atomic<bool>* flag) {
    static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
    static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free, "the handler reads the pointer");
    s_interruptFlag.store(flag);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tessaly
