#pragma once
// Which of the build's progress reports reach the screen, and the caption that shows one.

#include <cstdint>
#include <string>

namespace tessaly {

constexpr uint32_t kProgressQuietMs = 200;  // reports 31..998 closer than this to the last shown one are dropped

// Called for every report with the per-mille value; `clock` is read once, or twice for a report
// of 0, which opens a build and restarts the time base. Returns whether to show the report;
// `lastShownTime` then holds the clock reading of this report. Differences are taken modulo 2^32,
// so the clock's wrap does no harm.
bool AdmitProgressReport(uint32_t perMille, uint32_t (*clock)(), uint32_t& lastShownTime);

// The caption for a per-mille value below 1000: `format` (message 156, "...%2.1f%%") with the
// percentage, one decimal.
std::wstring FormatProgressCaption(const wchar_t* format, uint32_t perMille);

}  // namespace tessaly
