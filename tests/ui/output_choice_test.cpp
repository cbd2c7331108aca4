#include "ui/output_choice.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>
#include <vector>

namespace tessaly {
namespace {

struct ParentCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* parent;
};

void PrintTo(const ParentCase& row, std::ostream* out) { *out << row.name; }

class ParentDirectory : public ::testing::TestWithParam<ParentCase> {};

TEST_P(ParentDirectory, KeepsTheFolderWithItsFinalSeparator) {
    const ParentCase& row = GetParam();
    // Filled with a marker so that a missing terminator shows.
    std::vector<wchar_t> out(std::wcslen(row.path) + 1, L'#');
    GetParentDirectory(row.path, out.data());
    EXPECT_EQ(std::wstring(out.data()), std::wstring(row.parent));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParentDirectory,
    ::testing::Values(ParentCase{"FileInFolder", L"C:\\Images\\game.iso", L"C:\\Images\\"},
                      ParentCase{"SlashesAndRunsBecomeOneBackslash", L"C:/iso//a/game.iso", L"C:\\iso\\a\\"},
                      ParentCase{"FileInDriveRoot", L"C:\\game.iso", L"C:\\"},
                      ParentCase{"FolderEndingInSeparator", L"C:\\Images\\", L"C:\\"},
                      ParentCase{"NoSeparator", L"game.iso", L""},
                      ParentCase{"SeparatorOnlyAtTheStart", L"\\game.iso", L""},
                      ParentCase{"NetworkPathLeadingPairBecomesOne", L"\\\\server\\share\\game.iso",
                                 L"\\server\\share\\"},
                      ParentCase{"OnlySeparators", L"//", L""},
                      ParentCase{"Empty", L"", L""},
                      ParentCase{"ChineseFolder", L"E:\\测试目录\\源镜像.iso", L"E:\\测试目录\\"}),
    [](const ::testing::TestParamInfo<ParentCase>& row) { return std::string(row.param.name); });

struct SamePathCase {
    const char* name;
    const wchar_t* a;
    const wchar_t* b;
    bool same;
};

void PrintTo(const SamePathCase& row, std::ostream* out) { *out << row.name; }

class SamePath : public ::testing::TestWithParam<SamePathCase> {};

TEST_P(SamePath, FoldsOnlyAsciiLetters) {
    const SamePathCase& row = GetParam();
    EXPECT_EQ(IsSamePath(row.a, row.b), row.same);
    EXPECT_EQ(IsSamePath(row.b, row.a), row.same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SamePath,
    ::testing::Values(SamePathCase{"Identical", L"D:\\game.iso", L"D:\\game.iso", true},
                      SamePathCase{"OtherLetterCase", L"D:\\game.iso", L"d:\\GAME.ISO", true},
                      SamePathCase{"ShorterExtension", L"D:\\game.iso", L"D:\\game.is", false},
                      SamePathCase{"LongerExtension", L"D:\\game.iso", L"D:\\game.iso2", false},
                      SamePathCase{"SlashIsNotBackslash", L"D:\\game.iso", L"D:/game.iso", false},
                      // Only a-z fold: accented capitals and their small letters differ.
                      SamePathCase{"NonAsciiLettersDoNotFold", L"D:\\\u00e9.iso", L"D:\\\u00c9.iso", false},
                      SamePathCase{"LetterNextToTheRangeDoesNotFold", L"D:\\@.iso", L"D:\\`.iso", false},
                      SamePathCase{"SameChinese", L"C:\\测试\\源.iso", L"c:\\测试\\源.ISO", true},
                      SamePathCase{"BothEmpty", L"", L"", true}),
    [](const ::testing::TestParamInfo<SamePathCase>& row) { return std::string(row.param.name); });

struct FileNameCase {
    const char* name;
    const wchar_t* version;
    const wchar_t* fileName;
};

void PrintTo(const FileNameCase& row, std::ostream* out) { *out << row.name; }

class DefaultFileName : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(DefaultFileName, AddsTheVersionUnlessItIsOnePointZeroZero) {
    const FileNameCase& row = GetParam();
    EXPECT_EQ(DefaultOutputFileName(L"TarnelP2_DISC1_cn%s%s.iso", row.version), std::wstring(row.fileName));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultFileName,
    ::testing::Values(FileNameCase{"OnePointZeroZero", L"1.00", L"TarnelP2_DISC1_cn.iso"},
                      FileNameCase{"ShippedVersion", L"1.21", L"TarnelP2_DISC1_cn_1.21.iso"},
                      FileNameCase{"OnePointZero", L"1.0", L"TarnelP2_DISC1_cn_1.0.iso"},
                      FileNameCase{"OnePointZeroOne", L"1.01", L"TarnelP2_DISC1_cn_1.01.iso"},
                      FileNameCase{"ComparedWithCase", L"1.00 ", L"TarnelP2_DISC1_cn_1.00 .iso"}),
    [](const ::testing::TestParamInfo<FileNameCase>& row) { return std::string(row.param.name); });

TEST(DefaultFileNameFormat, PercentSignsAndExtraConversionsAreLiteralOrEmpty) {
    EXPECT_EQ(DefaultOutputFileName(L"a%%b%sc%sd%se", L"2.5"), L"a%b_c2.5de");
}

constexpr uint64_t kNeed = 1321205760;

struct VerdictCase {
    const char* name;
    bool sameAsSource;
    std::optional<uint64_t> available;
    OutputVerdict verdict;
};

void PrintTo(const VerdictCase& row, std::ostream* out) { *out << row.name; }

class OutputJudgement : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(OutputJudgement, RefusesTheSourceAndTooSmallVolumes) {
    const VerdictCase& row = GetParam();
    EXPECT_EQ(JudgeOutput(row.sameAsSource, row.available, kNeed), row.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputJudgement,
    ::testing::Values(VerdictCase{"ExactlyEnough", false, kNeed, OutputVerdict::Accept},
                      VerdictCase{"OneByteShort", false, kNeed - 1, OutputVerdict::TooLittleRoom},
                      VerdictCase{"Plenty", false, uint64_t{1} << 40, OutputVerdict::Accept},
                      VerdictCase{"QueryFailedGoesOn", false, std::nullopt, OutputVerdict::Accept},
                      VerdictCase{"SourceWinsOverRoom", true, uint64_t{0}, OutputVerdict::SameAsSource},
                      VerdictCase{"SourceWithPlentyOfRoom", true, uint64_t{1} << 40, OutputVerdict::SameAsSource}),
    [](const ::testing::TestParamInfo<VerdictCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessaly

namespace tessaly {
namespace {

TEST(RefusalMessage, FollowsTheIdentityAndTreatsUnknownValuesAsUnrecognised) {
    const std::vector<std::pair<int, int>> table = {{0, 0},   {1, 145}, {2, 146}, {3, 147},
                                                    {4, 148}, {5, 145}, {-1, 145}};
    for (const auto& [identity, message] : table)
        EXPECT_EQ(RefusalMessageFor(identity), message) << "identity " << identity;
}

}  // namespace
}  // namespace tessaly
