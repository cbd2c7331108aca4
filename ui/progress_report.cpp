#include "ui/progress_report.h"

#include <cwchar>

namespace tessaly {

bool AdmitProgressReport(uint32_t perMille, uint32_t (*clock)(), uint32_t& lastShownTime) {
    if (perMille == 0) lastShownTime = clock();
    const uint32_t now = clock();
    const uint32_t elapsed = now - lastShownTime;
    // The first reports of a build (0 to 30) and the last two always show.
    if (elapsed <= kProgressQuietMs && perMille >= 31 && perMille <= 998) return false;
    lastShownTime = now;
    return true;
}

std::wstring FormatProgressCaption(const wchar_t* format, uint32_t perMille) {
    wchar_t caption[513];
    // The format is the string table's own text, with exactly one double conversion.
    const int length = std::swprintf(caption, sizeof(caption) / sizeof(caption[0]), format,
                                     static_cast<double>(perMille) * 100.0 / 1000.0);
    return length < 0 ? std::wstring() : std::wstring(caption, static_cast<size_t>(length));
}

}  // namespace tessaly
