#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "support/utf8_literal.h"

namespace tessaly {
namespace {

using test::Utf8;

TEST(Text, RoundTrips) {
    const std::string texts[] = {
        "",
        "plain ASCII, with / and \\",
        Utf8(u8"镜像 文件.iso"),
        Utf8(u8"补丁已损坏，退出！"),
        Utf8(u8"é ü ß ©"),           // two-byte sequences
        Utf8(u8"𠀀 😀 𝄞"),          // outside the BMP: surrogate pairs in UTF-16
        Utf8(u8"\U0010FFFF"),       // the last code point
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::wstring wide = WideFromUtf8(text);
        EXPECT_EQ(Utf8FromWide(wide), text);
        EXPECT_EQ(PathToUtf8(PathFromUtf8(text)), text);
    }
}

TEST(Text, KnownWideForms) {
    EXPECT_EQ(WideFromUtf8(Utf8(u8"镜像")), std::wstring(L"\x955C\x50CF"));
    EXPECT_EQ(Utf8FromWide(L"\x955C\x50CF"), Utf8(u8"镜像"));
    const std::wstring emoji = WideFromUtf8(Utf8(u8"😀"));
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(emoji, std::wstring(L"\xD83D\xDE00"));
    } else {
        EXPECT_EQ(emoji, std::wstring(1, static_cast<wchar_t>(0x1F600)));
    }
    EXPECT_EQ(Utf8FromWide(emoji), Utf8(u8"😀"));
}

// Windows names may hold unpaired surrogates; they survive the trip through UTF-8.
TEST(Text, UnpairedSurrogatesRoundTrip) {
    const std::wstring wide = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b" + static_cast<wchar_t>(0xDC01);
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(wide)), wide);
}

// Bytes that are no UTF-8 become U+FFFD each; the text around them survives.
TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    const std::wstring r(1, static_cast<wchar_t>(0xFFFD));
    struct Case { std::string in; std::wstring out; };
    const Case cases[] = {
        {"a\x80" "b", L"a" + r + L"b"},                  // stray continuation byte
        {"a\xE9", L"a" + r},                              // sequence cut at the end
        {"\xE9\x95" "x", r + r + L"x"},                   // sequence cut by an ASCII byte
        {"\xFF", r},                                      // never valid
        {"\xC0\xAF", r + r},                              // overlong "/"
        {"\xE0\x80\xAF", r + r + r},                      // overlong "/", three bytes
        {"\xF4\x90\x80\x80", r + r + r + r},              // beyond U+10FFFF
        {"\xF7\xBF\xBF\xBF", r + r + r + r},              // beyond U+10FFFF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(WideFromUtf8(c.in), c.out);
    }
}

}  // namespace
}  // namespace tessaly
