#pragma once
// Conversions between the encodings the program meets: UTF-8 (our narrow texts and Linux paths)
// and UTF-16 (Windows paths and window texts).

#include <filesystem>
#include <string>
#include <string_view>

namespace tessaly {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// std::filesystem::path(std::string) reads the ANSI code page on Windows; these always mean UTF-8.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace tessaly
