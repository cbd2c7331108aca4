// Failures injected into the build job's file operations, each ending in the result the failure
// table gives it, with both files closed and the source image untouched; and the failures that
// need a real file system: a full volume, an output held open by another program, and a source
// whose archive goes short after its tree was opened.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "archive/archive_writer.h"
#include "builder/image_build_job.h"
#include "cli/command_line.h"
#include "demo_fixture.h"
#include "package/patch_package.h"
#include "platform/fault_injection.h"
#include "platform/text.h"
#include "resources/messages.h"
#include "support/open_files.h"
#include "support/temp_dir.h"
#include "support/small_volume.h"
#include "whole_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tessaly {
namespace {

using test::DemoFixture;
using test::SmallVolume;
using test::ReadWholeFile;

class Build : public BuildContext {
public:
    Build(const DemoFixture& fixture, std::filesystem::path source, std::filesystem::path output)
        : m_source(std::move(source)), m_output(std::move(output)), m_bytes(ReadWholeFile(fixture.package)) {
        m_package.load(m_bytes.data(), m_bytes.size());
    }

    std::filesystem::path SourcePath() const override { return m_source; }
    std::filesystem::path OutputPath() const override { return m_output; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    void ReportProgress(uint32_t perMille) override {
        if (onReport) onReport(perMille);
    }
    void BuildComplete(JobResult result, int messageId) override { completions.push_back({result, messageId}); }
    void FileMismatch(uint32_t entryIndex, uint32_t, uint32_t) override { mismatches.insert(entryIndex); }

    uint32_t EntryIndex(const char* path) const {
        for (uint32_t i = 1; i <= m_package.entryCount; ++i)
            if (std::strcmp(m_package.entries[i].path, path) == 0) return i;
        return 0;
    }

    std::filesystem::path m_source, m_output;
    std::vector<uint8_t> m_bytes;
    PatchPackage m_package;
    std::atomic<bool> m_cancel{false};
    std::function<void(uint32_t)> onReport;
    std::vector<std::pair<JobResult, int>> completions;
    std::set<uint32_t> mismatches;
};

// Disarms the seam however a row ends.
struct Armed {
    ~Armed() { FaultInjection::Disarm(); }
};

// Whether nobody holds the file open: a closed file can be renamed away and back everywhere (on
// Windows the job's handles deny that).
bool closedForRename(const std::filesystem::path& path) {
    std::error_code error;
    const auto moved = path.string() + ".moved";
    std::filesystem::rename(path, moved, error);
    if (error) return false;
    std::filesystem::rename(moved, path, error);
    return !error;
}

enum class Output { NotCreated, Empty, FullLength, Expected };

struct FaultRow {
    const char* name;
    std::function<void()> arm;
    JobResult result;
    int message;  // PathError rows
    Output output;
};

constexpr const char* kSource = "original.iso";
constexpr const char* kOutput = "new.iso";

class FaultInjectionBuild : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_fixture = new DemoFixture();
        s_fixture->Write();
        s_sourceBytes = new std::vector<uint8_t>(ReadWholeFile(s_fixture->original));
        s_expected = new std::vector<uint8_t>(ReadWholeFile(s_fixture->expected));
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        delete s_sourceBytes;
        delete s_expected;
    }
    static DemoFixture* s_fixture;
    static std::vector<uint8_t>* s_sourceBytes;
    static std::vector<uint8_t>* s_expected;
};
DemoFixture* FaultInjectionBuild::s_fixture = nullptr;
std::vector<uint8_t>* FaultInjectionBuild::s_sourceBytes = nullptr;
std::vector<uint8_t>* FaultInjectionBuild::s_expected = nullptr;

TEST_F(FaultInjectionBuild, EveryInjectedFailureEndsInItsResultWithBothFilesClosed) {
    using FO = FileOperation;
    const FaultRow rows[] = {
        // The source: the index read (the first read of the source), its opening for copying
        // (the second opening), its length, then the copies of mode 1 (reads after the first).
        {"index read of the source fails", [] { FaultInjection::ArmFailure(FO::Read, kSource, 0); },
         JobResult::PathError, 149, Output::NotCreated},
        {"index read of the source comes short", [] { FaultInjection::ArmShortRead(kSource, 0, 4096); },
         JobResult::PathError, 149, Output::NotCreated},
        {"source cannot be opened for copying", [] { FaultInjection::ArmFailure(FO::Open, kSource, 1); },
         JobResult::PathError, 149, Output::NotCreated},
        {"source length cannot be read", [] { FaultInjection::ArmFailure(FO::Length, kSource, 0); },
         JobResult::PathError, 149, Output::NotCreated},
        {"mode-1 read of the source fails", [] { FaultInjection::ArmFailure(FO::Read, kSource, 1); },
         JobResult::FileError, 0, Output::FullLength},
        {"mode-1 read of the source fails in a later file", [] { FaultInjection::ArmFailure(FO::Read, kSource, 6); },
         JobResult::FileError, 0, Output::FullLength},
        {"mode-1 read of the source comes short", [] { FaultInjection::ArmShortRead(kSource, 1, 1000); },
         JobResult::VerifyFailed, 0, Output::FullLength},
        {"mode-1 seek of the source fails", [] { FaultInjection::ArmFailure(FO::Seek, kSource, 0); },
         JobResult::FileError, 0, Output::FullLength},
        {"closing the source fails", [] { FaultInjection::ArmFailure(FO::Close, kSource, 0); }, JobResult::FileError, 0,
         Output::Expected},
        // The output.
        {"output cannot be created", [] { FaultInjection::ArmFailure(FO::Open, kOutput, 0); }, JobResult::PathError,
         150, Output::NotCreated},
        {"length reservation fails", [] { FaultInjection::ArmFailure(FO::SetLength, kOutput, 0); },
         JobResult::PathError, 150, Output::Empty},
        {"write fails mid-image", [] { FaultInjection::ArmFailure(FO::Write, kOutput, 5); }, JobResult::FileError, 0,
         Output::FullLength},
        {"seek of the output fails", [] { FaultInjection::ArmFailure(FO::Seek, kOutput, 3); }, JobResult::FileError,
         0, Output::FullLength},
        {"closing the output fails", [] { FaultInjection::ArmFailure(FO::Close, kOutput, 0); }, JobResult::FileError,
         0, Output::Expected},
    };

    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir out;
        const auto before = test::OpenFileCount();
        std::optional<JobResult> result;
        {
            Build build(*s_fixture, s_fixture->original, out / kOutput);
            {
                Armed armed;
                row.arm();
                result = static_cast<JobResult>(BuildThreadProc(&build));
            }
            ASSERT_EQ(build.completions.size(), 1u);
            EXPECT_EQ(build.completions[0].first, row.result);
            EXPECT_EQ(*result, row.result);
            EXPECT_EQ(build.completions[0].second, row.message);
            // The archive tree keeps its own stream on the source until the runner releases it.
            build.m_package.releaseArchives();
            if (before) {
                EXPECT_EQ(test::OpenFileCount(), before) << "a file stayed open";
            }
        }
        const auto output = out / kOutput;
        switch (row.output) {
            case Output::NotCreated:
                EXPECT_FALSE(std::filesystem::exists(output));
                break;
            case Output::Empty:
                EXPECT_EQ(std::filesystem::file_size(output), 0u);
                break;
            case Output::FullLength:
                EXPECT_EQ(std::filesystem::file_size(output), s_expected->size());
                break;
            case Output::Expected:
                EXPECT_TRUE(ReadWholeFile(output) == *s_expected);
                break;
        }
        if (row.output != Output::NotCreated) {
            EXPECT_TRUE(closedForRename(output));
        }
        EXPECT_TRUE(closedForRename(s_fixture->original));
        EXPECT_TRUE(ReadWholeFile(s_fixture->original) == *s_sourceBytes) << "the source image changed";
    }
}

// The archive is read through the standard library's stream, which the seam does not reach; a
// stream that stops delivering (an image cut short, a failing disk) gives zeros, so the archive
// comes out at its full size and its CRC reports the damage.
TEST(FaultInjectionArchive, StreamThatFailsAfterOpeningGivesZerosOfTheFullSize) {
    class FailingBuf : public std::stringbuf {
    public:
        using std::stringbuf::stringbuf;
        bool failing = false;

    protected:
        std::streamsize xsgetn(char* s, std::streamsize n) override { return failing ? 0 : std::stringbuf::xsgetn(s, n); }
        int_type underflow() override { return failing ? traits_type::eof() : std::stringbuf::underflow(); }
    };
    const auto inner = WriteArchive({{"x", 1, test::PatternBytes(5000, 1)}, {"y", 2, test::PatternBytes(7, 2)}});
    const auto bytes = WriteArchive({{"a", 3, test::PatternBytes(3000, 3)}, {"inner", 4, inner}});
    FailingBuf buffer(std::string(bytes.begin(), bytes.end()), std::ios::in);
    std::istream stream(&buffer);
    ArchiveNode root(&stream, static_cast<uint32_t>(bytes.size()));
    ASSERT_TRUE(root.valid);
    ASSERT_TRUE(root.RelayoutAndRewind());
    buffer.failing = true;

    ASSERT_EQ(root.size, bytes.size());
    std::vector<uint8_t> out(root.size);
    for (uint32_t total = 0; total < root.size;) {
        const uint32_t got = root.Read(out.data() + total, std::min<uint32_t>(1000, root.size - total));
        ASSERT_GT(got, 0u) << "short at " << total;
        total += got;
    }
    // The header copies are in memory and come out whole; every member byte read is zero.
    const uint32_t a = root.Child(1)->offset, x = root.Child(2)->offset + root.Child(2)->Child(1)->offset;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2048, bytes.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + a, out.begin() + a + 3000, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(out.begin() + x, out.begin() + x + 5000, [](uint8_t b) { return b == 0; }));
}

// The source cut inside the archive after the job opened its tree: the archive's missing bytes
// are written as zeros, it alone fails verification, and the image is complete.
TEST(FaultInjectionArchive, SourceCutInsideTheArchiveAfterLayoutFailsVerificationOfTheArchiveOnly) {
    DemoFixture fixture;
    const size_t res = fixture.IndexOf("/PSP_GAME/INSDIR/RES.DAT");
    for (size_t i = 0; i < fixture.disc.files.size(); ++i)
        if (i != res) fixture.disc.originalOrder.push_back(i);
    fixture.disc.originalOrder.push_back(res);
    fixture.Write();
    const uint64_t cut = DemoFixture::FileOffsetIn(fixture.original, "/PSP_GAME/INSDIR/RES.DAT") + 3000;

    const auto before = test::OpenFileCount();
    {
        Build build(fixture, fixture.original, fixture.output);
        build.onReport = [&](uint32_t perMille) {
            if (perMille == 30) std::filesystem::resize_file(fixture.original, cut);
        };
        EXPECT_EQ(BuildThreadProc(&build), static_cast<uint32_t>(JobResult::VerifyFailed));
        ASSERT_EQ(build.completions.size(), 1u);
        EXPECT_EQ(build.mismatches, std::set<uint32_t>{build.EntryIndex("/PSP_GAME/INSDIR/RES.DAT")});
        build.m_package.releaseArchives();
    }
    if (before) {
        EXPECT_EQ(test::OpenFileCount(), before);
    }
    EXPECT_EQ(std::filesystem::file_size(fixture.output), fixture.expectedFacts.bytes);
}

// The command line refuses an output volume without room for the image before it builds (exit
// 21, message 144); the job's own 150 on such a volume is tested with the build job.
TEST(FaultInjectionDisk, CommandRefusesAFullVolumeWithExit21) {
    DemoFixture fixture;
    fixture.Write();
    const SmallVolume small(fixture.dir / "small");
    if (!small.WhyNot().empty()) GTEST_SKIP() << small.WhyNot();
    const auto& mountPoint = small.Path();

    std::ostringstream out, err;
    const cli::Invocation call{{"--quiet", "--package", PathToUtf8(fixture.package), PathToUtf8(fixture.original),
                                PathToUtf8(mountPoint / "new.iso")},
                               out, err};
    EXPECT_EQ(cli::RunPatch(call), 21) << out.str() << err.str();
    EXPECT_NE(out.str().find(MessageUtf8(144)), std::string::npos) << out.str();
    EXPECT_FALSE(std::filesystem::exists(mountPoint / "new.iso"));
}

// Another program holds the output open and denies writing: the job cannot create it (150).
TEST(FaultInjectionDisk, OutputHeldOpenByAnotherProgramFailsWith150) {
#ifndef _WIN32
    GTEST_SKIP() << "share modes that deny writing exist on Windows only";
#else
    DemoFixture fixture;
    fixture.Write();
    const HANDLE holder = CreateFileW(fixture.output.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Build build(fixture, fixture.original, fixture.output);
    EXPECT_EQ(BuildThreadProc(&build), static_cast<uint32_t>(JobResult::PathError));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].second, 150);
    CloseHandle(holder);
    EXPECT_EQ(std::filesystem::file_size(fixture.output), 0u);
#endif
}

}  // namespace
}  // namespace tessaly
