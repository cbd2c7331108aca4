// `tessaly patch` end to end on demo discs the tests build: each row damages the disc or the
// package in one way and states the exit code, the message and what must be on disk afterwards.
// Expected images come from the demo generator's own layout code, never from the build job's.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "cli/command_line.h"
#include "demo_fixture.h"
#include "package/patch_package.h"
#include "platform/text.h"
#include "resources/messages.h"

namespace tessaly {
namespace {

using test::DemoFixture;
using test::ReadFileBytes;
using test::WriteFileBytes;

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

CliResult runCli(int (*command)(const cli::Invocation&), std::vector<std::string> args) {
    std::ostringstream out, err;
    cli::Invocation call{std::move(args), out, err};
    const int code = command(call);
    return {code, out.str(), err.str()};
}

CliResult patch(const DemoFixture& f, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--quiet", "--package", PathToUtf8(f.package)};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(PathToUtf8(f.original));
    args.push_back(PathToUtf8(f.output));
    return runCli(cli::RunPatch, args);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void truncateFile(const std::filesystem::path& path, uint64_t length) {
    auto bytes = ReadFileBytes(path);
    bytes.resize(static_cast<size_t>(length));
    WriteFileBytes(path, bytes);
}

void overwritePackageBytes(DemoFixture& f, const std::function<void(std::vector<uint8_t>&, PatchPackage&)>& edit) {
    auto bytes = ReadFileBytes(f.package);
    PatchPackage loaded;
    loaded.load(bytes.data(), bytes.size());
    edit(bytes, loaded);
    loaded.release();
    WriteFileBytes(f.package, bytes);
}

// Offset of a stored file's bytes inside the package file.
size_t storedOffset(const std::vector<uint8_t>& bytes, const PatchPackage& package, const char* path) {
    for (uint32_t i = 1; i <= package.entryCount; ++i)
        if (std::string(package.entries[i].path) == path) return static_cast<size_t>(package.entries[i].data - bytes.data());
    throw std::out_of_range(path);
}

TEST(PatchCommand, BuildsTheExpectedImage) {
    DemoFixture f;
    f.Write();
    const auto r = patch(f);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, MessageUtf8(154))) << r.out;
    EXPECT_TRUE(ReadFileBytes(f.output) == ReadFileBytes(f.expected));
    // Determinism: a second build gives the same bytes.
    EXPECT_EQ(patch(f, {"--force"}).code, 0);
    EXPECT_TRUE(ReadFileBytes(f.output) == ReadFileBytes(f.expected));
}

TEST(PatchCommand, CopiedFileRunningPastTheEndOfATruncatedSourceIsZeroFilled) {
    DemoFixture f;
    // The copied OP.PMF goes last in the original, so cutting the image cuts only it.
    const size_t last = f.IndexOf("/PSP_GAME/USRDIR/OP.PMF");
    for (size_t i = 0; i < f.disc.files.size(); ++i)
        if (i != last) f.disc.originalOrder.push_back(i);
    f.disc.originalOrder.push_back(last);
    f.Write();
    const uint64_t start = DemoFixture::FileOffsetIn(f.original, "/PSP_GAME/USRDIR/OP.PMF");
    const uint64_t kept = 1000000;
    truncateFile(f.original, start + kept);

    const auto r = patch(f);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(contains(r.out, MessageUtf8(155)));
    EXPECT_TRUE(contains(r.out, "/PSP_GAME/USRDIR/OP.PMF")) << r.out;
    auto expected = ReadFileBytes(f.expected);
    const uint64_t at = DemoFixture::FileOffsetIn(f.expected, "/PSP_GAME/USRDIR/OP.PMF");
    const uint64_t size = f.File("/PSP_GAME/USRDIR/OP.PMF").translated.size;
    std::fill(expected.begin() + static_cast<long>(at + kept), expected.begin() + static_cast<long>(at + size), 0);
    EXPECT_TRUE(ReadFileBytes(f.output) == expected);
}

TEST(PatchCommand, CopiedFileOfAnotherSizeMovesTheLayoutAndFailsVerification) {
    DemoFixture f;
    auto& moved = f.File("/PSP_GAME/USRDIR/BGM.PBD");
    moved.original = demo::Contents::Pattern(4242, moved.original.size + 70000);
    f.Write();
    // The image the package gives from this source: the source's file, laid out by its own size.
    DemoFixture reference;
    reference.disc = f.disc;
    reference.File("/PSP_GAME/USRDIR/BGM.PBD").translated = moved.original;
    reference.Write();

    const auto r = patch(f);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "/PSP_GAME/USRDIR/BGM.PBD")) << r.out;
    EXPECT_TRUE(contains(r.out, "(header sectors)")) << r.out;
    EXPECT_TRUE(ReadFileBytes(f.output) == ReadFileBytes(reference.expected));
}

// Failures before the output is opened: a file already at the output path keeps its bytes.
struct EarlyFailure {
    const char* name;
    std::function<void(DemoFixture&)> damage;  // before Write
    std::function<void(DemoFixture&)> after;   // after Write
    int code;
    int message;
};

std::string earlyName(const ::testing::TestParamInfo<EarlyFailure>& info) { return info.param.name; }
void PrintTo(const EarlyFailure& failure, std::ostream* out) { *out << failure.name; }

class PatchCommandEarlyFailure : public ::testing::TestWithParam<EarlyFailure> {};

TEST_P(PatchCommandEarlyFailure, EndsWithItsMessageAndLeavesTheOutputAlone) {
    DemoFixture f;
    if (GetParam().damage) GetParam().damage(f);
    f.Write();
    if (GetParam().after) GetParam().after(f);
    const std::vector<uint8_t> previous{'k', 'e', 'e', 'p'};
    WriteFileBytes(f.output, previous);
    const auto sourceBefore = ReadFileBytes(f.original);

    const auto r = patch(f, {"--force"});
    EXPECT_EQ(r.code, GetParam().code) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, MessageUtf8(GetParam().message))) << r.out;
    EXPECT_TRUE(ReadFileBytes(f.output) == previous);
    EXPECT_TRUE(ReadFileBytes(f.original) == sourceBefore);
}

void setProductCode(DemoFixture& f, const char* code) {
    auto& umd = f.File("/UMD_DATA.BIN");
    auto bytes = umd.original.Materialise();
    std::copy(code, code + 10, bytes.begin());
    umd.original = demo::Contents::Bytes(bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PatchCommandEarlyFailure,
    ::testing::Values(
        EarlyFailure{"MissingCopiedFile", [](DemoFixture& f) { f.File("/PSP_GAME/USRDIR/SE.PBD").inOriginal = false; },
                     nullptr, 3, 151},
        EarlyFailure{"CopiedFileStartsBeyondTheEnd",
                     [](DemoFixture& f) {
                         const size_t last = f.IndexOf("/PSP_GAME/USRDIR/ED.PMF");
                         for (size_t i = 0; i < f.disc.files.size(); ++i)
                             if (i != last) f.disc.originalOrder.push_back(i);
                         f.disc.originalOrder.push_back(last);
                     },
                     [](DemoFixture& f) {
                         truncateFile(f.original, DemoFixture::FileOffsetIn(f.original, "/PSP_GAME/USRDIR/ED.PMF") - 2048);
                     },
                     3, 151},
        EarlyFailure{"ArchiveRecordPathLeadsNowhere",
                     [](DemoFixture& f) {
                         // The first record's first member index (after count, length and depth).
                         auto& records = f.File("/PSP_GAME/INSDIR/RES.DAT").records;
                         records[12] = 0xFF;
                         records[13] = 0x7F;
                     },
                     nullptr, 3, 151},
        EarlyFailure{"ArchiveInTheSourceIsInvalid",
                     [](DemoFixture& f) {
                         auto& res = f.File("/PSP_GAME/INSDIR/RES.DAT");
                         auto bytes = res.original.Materialise();
                         bytes[16 + 8 + 3] = 0x7F;  // member 1 runs far past the archive's end
                         res.original = demo::Contents::Bytes(bytes);
                     },
                     nullptr, 3, 151},
        EarlyFailure{"SecondDisc", [](DemoFixture& f) { setProductCode(f, "KVXM-20418"); }, nullptr, 12, 146},
        EarlyFailure{"EarlierGame", [](DemoFixture& f) { setProductCode(f, "KVXL-00815"); }, nullptr, 13, 147},
        EarlyFailure{"EarlierGameBonus", [](DemoFixture& f) { setProductCode(f, "KVXL-00814"); }, nullptr, 14, 148},
        EarlyFailure{"UnknownDisc", [](DemoFixture& f) { setProductCode(f, "KVXM-99999"); }, nullptr, 11, 145},
        EarlyFailure{"LowerCaseCode", [](DemoFixture& f) { setProductCode(f, "kvxm-20417"); }, nullptr, 11, 145},
        EarlyFailure{"NotAnImage", nullptr,
                     [](DemoFixture& f) { WriteFileBytes(f.original, test::PatternBytes(700000, 9)); }, 11, 145},
        EarlyFailure{"CorruptPackage", nullptr,
                     [](DemoFixture& f) {
                         overwritePackageBytes(f, [](std::vector<uint8_t>& bytes, PatchPackage&) {
                             bytes.resize(bytes.size() - 1);  // the last entry's stored bytes run past the end
                         });
                     },
                     30, 138}),
    earlyName);

TEST(PatchCommand, DamagedStoredFileStopsWith139AndLeavesThePartialOutput) {
    DemoFixture f;
    f.Write();
    overwritePackageBytes(f, [](std::vector<uint8_t>& bytes, PatchPackage& package) {
        bytes[storedOffset(bytes, package, "/PSP_GAME/USRDIR/SCRIPT.BIN") + 100] ^= 0x55;
    });
    const auto r = patch(f);
    EXPECT_EQ(r.code, 3) << r.out;
    EXPECT_TRUE(contains(r.out, MessageUtf8(139))) << r.out;
    // The image's full length, with the files before the damaged one written.
    const auto output = ReadFileBytes(f.output);
    const auto expected = ReadFileBytes(f.expected);
    ASSERT_EQ(output.size(), expected.size());
    const uint64_t damagedAt = DemoFixture::FileOffsetIn(f.expected, "/PSP_GAME/USRDIR/SCRIPT.BIN");
    EXPECT_TRUE(std::equal(output.begin(), output.begin() + static_cast<long>(damagedAt), expected.begin()));
}

TEST(PatchCommand, OutputThatIsTheSourceIsRefusedAndTheSourceStaysIntact) {
    DemoFixture f;
    f.Write();
    const auto before = ReadFileBytes(f.original);
    std::filesystem::create_directory(f.dir / "sub");
    std::filesystem::create_hard_link(f.original, f.dir / "link.iso");
    const std::filesystem::path aliases[] = {f.original, f.dir / "sub" / ".." / "original.iso", f.dir / "link.iso"};
    for (const auto& alias : aliases) {
        const auto r = runCli(cli::RunPatch, {"--force", "--package", PathToUtf8(f.package), PathToUtf8(f.original),
                                              PathToUtf8(alias)});
        EXPECT_EQ(r.code, 20) << alias;
        EXPECT_TRUE(contains(r.out, MessageUtf8(143)));
        EXPECT_TRUE(ReadFileBytes(f.original) == before);
    }
}

TEST(PatchCommand, ExistingOutputNeedsForce) {
    DemoFixture f;
    f.Write();
    WriteFileBytes(f.output, std::vector<uint8_t>{1, 2, 3});
    const auto r = patch(f);
    EXPECT_EQ(r.code, 22);
    EXPECT_TRUE(contains(r.err, "--force")) << r.err;
    EXPECT_EQ(ReadFileBytes(f.output), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(PatchCommand, DryRunChecksEverythingAndWritesNothing) {
    DemoFixture f;
    f.Write();
    auto dry = runCli(cli::RunPatch, {"--dry-run", "--package", PathToUtf8(f.package), PathToUtf8(f.original)});
    EXPECT_EQ(dry.code, 0) << dry.out;
    EXPECT_FALSE(std::filesystem::exists(f.output));

    // A damaged copied file in the source: named, with both CRC-32 values, and exit 1.
    auto source = ReadFileBytes(f.original);
    source[static_cast<size_t>(DemoFixture::FileOffsetIn(f.original, "/PSP_GAME/USRDIR/SE.PHD")) + 10] ^= 1;
    WriteFileBytes(f.original, source);
    dry = runCli(cli::RunPatch, {"--dry-run", "--package", PathToUtf8(f.package), PathToUtf8(f.original)});
    EXPECT_EQ(dry.code, 1) << dry.out;
    EXPECT_TRUE(contains(dry.out, "/PSP_GAME/USRDIR/SE.PHD: expected CRC-32")) << dry.out;
    EXPECT_TRUE(contains(dry.out, "bad or modified dump")) << dry.out;
}

TEST(PatchCommand, UsageErrorsExit64) {
    const std::vector<std::vector<std::string>> calls = {
        {}, {"only-source.iso"}, {"--bogus", "a.iso", "b.iso"}, {"a.iso", "b.iso", "c.iso"}, {"--package"}};
    for (const auto& args : calls) EXPECT_EQ(runCli(cli::RunPatch, args).code, 64);
    EXPECT_EQ(runCli(cli::RunPatch, {"--help"}).code, 0);
}

}  // namespace
}  // namespace tessaly
