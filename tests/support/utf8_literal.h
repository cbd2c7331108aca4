#pragma once
// C++20 u8"" literals are char8_t; our text functions take UTF-8 in plain chars.

#include <string>
#include <string_view>

namespace tessaly::test {

inline std::string Utf8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

}  // namespace tessaly::test
