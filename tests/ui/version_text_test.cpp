#include "ui/version_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tessaly {
namespace {

struct VersionCase {
    const char* name;
    const wchar_t* version;
    const wchar_t* shown;
};

// Rows print as their names (ctest shows the printed value in the test name).
void PrintTo(const VersionCase& row, std::ostream* out) { *out << row.name; }

class VersionShortening : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionShortening, KeepsTheFirstTwoComponents) {
    EXPECT_EQ(ShortenVersionText(GetParam().version), std::wstring(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionShortening,
    ::testing::Values(VersionCase{"Shipped", L"1.21.601.3", L"1.21"},
                      VersionCase{"LeadingZeroStaysWhole", L"0.01.516.3", L"0.01.516.3"},
                      VersionCase{"OneComponent", L"7", L"7"}, VersionCase{"TwoComponents", L"2.5", L"2.5"},
                      VersionCase{"Empty", L"", L""}, VersionCase{"OneHundred", L"1.00.5.2", L"1.00"},
                      VersionCase{"ThreeComponents", L"10.2.3", L"10.2"},
                      VersionCase{"EmptyMiddleComponent", L"1..3", L"1."},
                      VersionCase{"ZeroAlone", L"0", L"0"}, VersionCase{"TrailingDot", L"3.4.", L"3.4"}),
    [](const ::testing::TestParamInfo<VersionCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessaly
