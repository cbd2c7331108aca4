#include "ui/progress_report.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tessaly {
namespace {

uint32_t s_now = 0;
uint32_t FakeClock() { return s_now; }

struct Report {
    uint32_t at;  // clock reading
    uint32_t perMille;
    bool shown;
};

struct ThrottleCase {
    const char* name;
    std::vector<Report> reports;
};

void PrintTo(const ThrottleCase& row, std::ostream* out) { *out << row.name; }

class ProgressThrottle : public ::testing::TestWithParam<ThrottleCase> {};

TEST_P(ProgressThrottle, ShowsTheExpectedReports) {
    uint32_t lastShown = 12345;  // left over from an earlier build
    for (const Report& r : GetParam().reports) {
        s_now = r.at;
        EXPECT_EQ(AdmitProgressReport(r.perMille, &FakeClock, lastShown), r.shown) << r.perMille << " at " << r.at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressThrottle,
    ::testing::Values(
        ThrottleCase{"FirstReportsAlwaysShow", {{1000, 0, true}, {1001, 1, true}, {1002, 30, true}, {1003, 31, false}}},
        ThrottleCase{"QuietPeriodIs200Ms",
                     {{0, 0, true}, {500, 500, true}, {650, 510, false}, {701, 520, true}, {901, 530, false}}},
        ThrottleCase{"LastTwoAlwaysShow", {{0, 0, true}, {300, 998, true}, {301, 999, true}, {302, 1000, true}}},
        ThrottleCase{"Report998IsThrottled", {{0, 0, true}, {100, 998, false}}},
        ThrottleCase{"ZeroRestartsTheTimeBase", {{5000, 0, true}, {5100, 40, false}, {5201, 40, true}}},
        ThrottleCase{"ClockWrapDoesNoHarm",
                     {{0xFFFFFF00u, 0, true}, {0xFFFFFF80u, 100, false}, {0x00000010u, 200, true},
                      {0x00000050u, 300, false}}}),
    [](const ::testing::TestParamInfo<ThrottleCase>& row) { return std::string(row.param.name); });

TEST(ProgressCaption, ShowsThePercentageWithOneDecimal) {
    const wchar_t* format = L"已完成 - %2.1f%%";
    EXPECT_EQ(FormatProgressCaption(format, 0), L"已完成 - 0.0%");
    EXPECT_EQ(FormatProgressCaption(format, 1), L"已完成 - 0.1%");
    EXPECT_EQ(FormatProgressCaption(format, 30), L"已完成 - 3.0%");
    EXPECT_EQ(FormatProgressCaption(format, 123), L"已完成 - 12.3%");
    EXPECT_EQ(FormatProgressCaption(format, 999), L"已完成 - 99.9%");
}

}  // namespace
}  // namespace tessaly
