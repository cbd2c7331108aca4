#pragma once
// The progress line of a build on a terminal: percentage (as the window's caption shows it),
// bytes written, speed and time left, redrawn at most five times a second.

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace tessaly::cli {

class TerminalProgress {
public:
    static constexpr std::chrono::milliseconds kRedrawInterval{200};

    TerminalProgress(std::FILE* out, uint64_t totalBytes) : m_out(out), m_totalBytes(totalBytes) {}

    // Called with each per-mille value; draws when due (always for the first and the last).
    void Update(uint32_t perMille);
    // Ends the line so the result starts on a fresh one.
    void Finish();

private:
    void draw(uint32_t perMille, std::chrono::steady_clock::time_point now);

    std::FILE* m_out;
    uint64_t m_totalBytes;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace tessaly::cli
