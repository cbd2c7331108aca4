#pragma once
// The version shown in the window's corner: the program's version literal, shortened.

#include <string>
#include <string_view>

namespace tessaly {

// Cut just before the second ".", so "1.21.601.3" becomes "1.21". A text that is empty, begins
// with "0" or has fewer than two "." stays whole: pre-releases show every component.
std::wstring ShortenVersionText(std::wstring_view version);

}  // namespace tessaly
