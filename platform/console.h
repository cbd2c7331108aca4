#pragma once
// The terminal: UTF-8 output on every platform, and whether a stream is a terminal.

#include <cstdio>

namespace tessaly {

// Makes the console show UTF-8 (the Windows console's code page); nothing to do on POSIX.
void PrepareConsole();

bool IsTerminal(std::FILE* stream);

}  // namespace tessaly

#include <atomic>

namespace tessaly {

// Ctrl-C (SIGINT/SIGTERM, or the Windows console's control events) raises `flag` instead of
// ending the process, so a running build can stop at its next test and close its files.
void InstallInterruptFlag(std::atomic<bool>* flag);

}  // namespace tessaly
