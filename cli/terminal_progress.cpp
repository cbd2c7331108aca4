#include "cli/terminal_progress.h"

namespace tessaly::cli {

namespace {
// The writing phase spans per-mille 30 to 999 (the header and files, by bytes written).
constexpr uint32_t kWritingStart = 30;
constexpr uint32_t kWritingSpan = 969;
constexpr double kMiB = 1024.0 * 1024.0;
}  // namespace

void TerminalProgress::Update(uint32_t perMille) {
    const auto now = std::chrono::steady_clock::now();
    if (perMille == 0 || !m_drawn) m_start = now;
    if (m_drawn && perMille < 1000 && now - m_lastDraw < kRedrawInterval) return;
    draw(perMille, now);
}

void TerminalProgress::draw(uint32_t perMille, std::chrono::steady_clock::time_point now) {
    m_drawn = true;
    m_lastDraw = now;
    const uint32_t writing = perMille > kWritingStart ? perMille - kWritingStart : 0;
    const uint64_t written = perMille >= 999 ? m_totalBytes : m_totalBytes * (writing > kWritingSpan ? kWritingSpan : writing) / kWritingSpan;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double speed = seconds > 0.05 ? static_cast<double>(written) / seconds : 0.0;
    char left[32] = "--:--";
    if (speed > 0 && written < m_totalBytes) {
        const auto remaining = static_cast<unsigned>(static_cast<double>(m_totalBytes - written) / speed);
        std::snprintf(left, sizeof left, "%u:%02u", remaining / 60, remaining % 60);
    } else if (written >= m_totalBytes) {
        std::snprintf(left, sizeof left, "0:00");
    }
    std::fprintf(m_out, "\r%5.1f%%  %8.1f / %.1f MiB  %7.1f MiB/s  %s left ", perMille / 10.0,
                 static_cast<double>(written) / kMiB, static_cast<double>(m_totalBytes) / kMiB, speed / kMiB, left);
    std::fflush(m_out);
}

void TerminalProgress::Finish() {
    if (m_drawn) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
    }
    m_drawn = false;
}

}  // namespace tessaly::cli
