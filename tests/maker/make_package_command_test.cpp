// The make-package command line: arguments, where the report goes and what it says.

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <sstream>

#include "maker_fixture.h"
#include "platform/text.h"

namespace tessaly {
namespace {

using test::Contains;
using test::MakerFixture;
using test::ReadFileBytes;

struct Usage {
    std::string name;
    std::vector<std::string> args;
    std::string says;
};

void PrintTo(const Usage& u, std::ostream* os) { *os << u.name; }

class MakePackageUsage : public ::testing::TestWithParam<Usage> {};

TEST_P(MakePackageUsage, Exits64) {
    const auto r = test::RunCli(cli::RunMakePackage, GetParam().args);
    EXPECT_EQ(r.code, 64);
    EXPECT_TRUE(Contains(r.err, GetParam().says)) << r.err;
    EXPECT_TRUE(Contains(r.err, "usage: tessaly make-package")) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MakePackageUsage,
    ::testing::Values(Usage{"Nothing", {}, "expected ORIGINAL and TRANSLATED"},
                      Usage{"OneImage", {"a.iso", "-o", "p.bin"}, "expected ORIGINAL and TRANSLATED"},
                      Usage{"NoOutput", {"a.iso", "b.iso"}, "expected -o PACKAGE"},
                      Usage{"OutputWithoutValue", {"a.iso", "b.iso", "-o"}, "need a FILE"},
                      Usage{"UnknownOption", {"a.iso", "b.iso", "-o", "p.bin", "--fast"}, "unknown option '--fast'"}),
    [](const ::testing::TestParamInfo<Usage>& row) { return row.param.name; });

TEST(MakePackageCommand, OutputOverAnImageIsRefusedAndTheImageKept) {
    MakerFixture f;
    f.WriteImages();
    const auto before = ReadFileBytes(f.translated);
    const auto r = test::RunCli(cli::RunMakePackage, {PathToUtf8(f.original), PathToUtf8(f.translated), "-o",
                                                      PathToUtf8(f.translated)});
    EXPECT_EQ(r.code, 20);
    EXPECT_TRUE(Contains(r.err, "is one of the images")) << r.err;
    EXPECT_TRUE(ReadFileBytes(f.translated) == before);
}

TEST(MakePackageCommand, ReportListsEveryFileWithItsModeAndTheTotals) {
    MakerFixture f;
    f.WriteImages();
    const auto r = f.MakePackage();
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string report = f.Report();
    const uint64_t packageBytes = std::filesystem::file_size(f.package);
    EXPECT_TRUE(Contains(r.out, std::string("package written: ") + PathToUtf8(f.package) + " (" +
                                    std::to_string(packageBytes)))
        << r.out;

    // "   sector mode        size   stored  path", one line per file.
    const std::regex line(R"(^\s*(\d+) ([012]) (stored|copied|archive)\s+(\d+)\s+(\d+)  (/\S+)(.*)$)");
    size_t files = 0;
    uint64_t stored = 0;
    std::istringstream in(report);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        ++files;
        stored += std::stoull(m[5]);
        const demo::DemoFile& file = f.File(m[6]);
        EXPECT_EQ(std::stoul(m[4]), file.translated.size) << text;
        if (m[3] == "copied") {
            EXPECT_EQ(m[5], "0") << text;
        } else if (m[3] == "stored") {
            EXPECT_EQ(std::stoull(m[5]), file.translated.size) << text;
        } else {
            EXPECT_TRUE(std::regex_search(m[7].str(), std::regex(R"(\(\d+ records; depth \d+: \d+)"))) << text;
        }
    }
    EXPECT_EQ(files, f.disc.files.size()) << report;
    EXPECT_LT(stored, packageBytes);
    EXPECT_TRUE(Contains(report, "package:     " + std::to_string(packageBytes) + " bytes for an image of " +
                                     std::to_string(std::filesystem::file_size(f.translated)) + " bytes"))
        << report;
    EXPECT_TRUE(Contains(report, "self-check:  a dry run of the build over ORIGINAL reproduced every CRC-32"))
        << report;
}

TEST(MakePackageCommand, ReportGoesToStandardOutputWithoutReportFile) {
    MakerFixture f;
    f.WriteImages();
    const auto r = test::RunCli(cli::RunMakePackage,
                                {PathToUtf8(f.original), PathToUtf8(f.translated), "--output", PathToUtf8(f.package)});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "/PSP_GAME/INSDIR/RES.DAT")) << r.out;
    EXPECT_TRUE(Contains(r.out, "files:       26: ")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(f.report));
}

}  // namespace
}  // namespace tessaly
