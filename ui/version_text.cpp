#include "ui/version_text.h"

namespace tessaly {

std::wstring ShortenVersionText(std::wstring_view version) {
    if (version.empty() || version.front() == L'0') return std::wstring(version);
    const size_t first = version.find(L'.');
    if (first == std::wstring_view::npos) return std::wstring(version);
    const size_t second = version.find(L'.', first + 1);
    if (second == std::wstring_view::npos) return std::wstring(version);
    return std::wstring(version.substr(0, second));
}

}  // namespace tessaly
