// The build job through its context: progress values, cancellation at every test of the flag,
// and the outcomes the command line cannot reach (it checks identity and paths first).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <stdexcept>

#include "builder/image_build_job.h"
#include "demo_fixture.h"
#include "iso/iso_index.h"
#include "package/patch_package.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "support/small_volume.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using test::DemoFixture;
using test::SmallVolume;
using test::ReadFileBytes;

class RecordingBuild : public BuildContext {
public:
    RecordingBuild(const DemoFixture& fixture, const std::filesystem::path& output)
        : m_source(fixture.original), m_output(output), m_bytes(ReadFileBytes(fixture.package)) {
        m_package.load(m_bytes.data(), m_bytes.size());
    }

    std::filesystem::path SourcePath() const override { return m_source; }
    std::filesystem::path OutputPath() const override { return m_output; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    void ReportProgress(uint32_t perMille) override {
        reports.push_back(perMille);
        if (cancelAtReport && reports.size() == *cancelAtReport) m_cancel = true;
    }
    void BuildComplete(JobResult result, int messageId) override {
        completions.push_back({result, messageId});
    }

    uint32_t Run() { return BuildThreadProc(this); }

    std::filesystem::path m_source;
    std::filesystem::path m_output;
    std::vector<uint8_t> m_bytes;
    PatchPackage m_package;
    std::atomic<bool> m_cancel{false};
    std::vector<uint32_t> reports;
    std::optional<size_t> cancelAtReport;  // raise the flag inside this report (1-based)
    std::vector<std::pair<JobResult, int>> completions;
};

// Every piece a build of `expected` writes, in order (1 MiB pieces of each entry, computed from
// that image's directory and the package's entry order), with the progress value that follows it.
struct Piece {
    uint32_t entry;
    bool copied;  // read from the source file (mode 1, after the boot-file rule)
    uint32_t progress;
};

std::vector<Piece> expectedPieces(const DemoFixture& fixture) {
    const auto bytes = ReadFileBytes(fixture.package);
    PatchPackage package;
    package.load(bytes.data(), bytes.size());
    IsoIndex image;
    image.openImage(fixture.expected);
    const uint64_t total = static_cast<uint64_t>(image.volume->volumeSectors) * kSectorBytes;
    std::vector<Piece> pieces;
    for (uint32_t i = 0; i <= package.entryCount; ++i) {
        const IsoFileRecord* record = i == 0 ? nullptr : image.find(package.entries[i].path);
        const uint64_t offset = i == 0 ? 0 : static_cast<uint64_t>(record->startSector) * kSectorBytes;
        const uint64_t size = i == 0 ? package.headerLength : record->size;
        for (uint64_t done = 0; done < size;) {
            done += std::min<uint64_t>(size - done, kTransferBufferBytes);
            const bool copied = package.entries[i].mode == static_cast<uint32_t>(EntryMode::Copied);
            pieces.push_back({i, copied, static_cast<uint32_t>(30 + (offset + done) * 969 / total)});
        }
    }
    return pieces;
}

// The progress values in order: 0, 1, 30, 31, one per piece, 999, 1000.
std::vector<uint32_t> expectedReports(const DemoFixture& fixture) {
    std::vector<uint32_t> values{0, 1, 30, 31};
    for (const Piece& piece : expectedPieces(fixture)) values.push_back(piece.progress);
    values.push_back(999);
    values.push_back(1000);
    return values;
}

bool outputClosed(const std::filesystem::path& path) {
    // The job holds its output exclusively while open (on Windows); everywhere a closed file can
    // be renamed and renamed back.
    std::error_code error;
    const auto moved = path.string() + ".moved";
    std::filesystem::rename(path, moved, error);
    if (error) return false;
    std::filesystem::rename(moved, path, error);
    return !error;
}

#ifndef _WIN32
size_t openDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}
#endif

class BuildJob : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_fixture = new DemoFixture();
        s_fixture->Write();
        s_reports = expectedReports(*s_fixture);
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static DemoFixture* s_fixture;
    static std::vector<uint32_t> s_reports;
};
DemoFixture* BuildJob::s_fixture = nullptr;
std::vector<uint32_t> BuildJob::s_reports;

TEST_F(BuildJob, ReportsEveryPieceInOrderAndWritesTheExpectedImage) {
    test::TempDir out;
    RecordingBuild build(*s_fixture, out / "new.iso");
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::Ok));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].first, JobResult::Ok);
    EXPECT_EQ(build.reports, s_reports);
    EXPECT_TRUE(ReadFileBytes(out / "new.iso") == ReadFileBytes(s_fixture->expected));
    // The header copy now holds the patched sectors, equal to the new image's first sectors.
    const auto image = ReadFileBytes(out / "new.iso");
    EXPECT_TRUE(std::equal(build.m_package.header.get(), build.m_package.header.get() + build.m_package.headerLength,
                           image.begin()));
    // The rebuilt archive stays with its entry until the runner releases it.
    bool holdsArchive = false;
    for (uint32_t i = 1; i <= build.m_package.entryCount; ++i)
        holdsArchive |= build.m_package.entries[i].archive != nullptr;
    EXPECT_TRUE(holdsArchive);
}

// A raised flag is seen at the next test, wherever that is: each row cancels inside one report.
TEST_F(BuildJob, CancelAtEveryTestStopsWithFilesClosedAndNothingReported) {
    const size_t outputOpenedAfter = 3;  // the output exists once the report of 30 has been made
    for (size_t k = 1; k <= s_reports.size(); ++k) {
        SCOPED_TRACE("cancel inside report " + std::to_string(k));
        test::TempDir out;
#ifndef _WIN32
        const size_t descriptors = openDescriptors();
#endif
        RecordingBuild build(*s_fixture, out / "new.iso");
        build.cancelAtReport = k;
        EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::Cancelled));
        EXPECT_TRUE(build.completions.empty());
        EXPECT_FALSE(build.m_cancel.load());
        EXPECT_EQ(build.reports, std::vector<uint32_t>(s_reports.begin(), s_reports.begin() + static_cast<long>(k)));
        const bool exists = std::filesystem::exists(out / "new.iso");
        EXPECT_EQ(exists, k >= outputOpenedAfter);
        if (exists) {
            EXPECT_EQ(std::filesystem::file_size(out / "new.iso"), s_fixture->expectedFacts.bytes);
            EXPECT_TRUE(outputClosed(out / "new.iso"));
        }
#ifndef _WIN32
        build.m_package.release();  // the archive tree holds its own stream on the source
        EXPECT_EQ(openDescriptors(), descriptors);
#endif
    }
}

// Reading and checking run one piece ahead of writing; a failure on either side must still end
// the job exactly where a job doing one piece at a time would: every piece before it written and
// reported, nothing after it, both files closed, and the reader stopped.
struct FileFault {
    const char* name;
    FileOperation operation;
    const char* file;  // part of the failing file's name
    // Which matching call fails, and how many pieces are written before it.
    std::function<std::pair<uint64_t, size_t>(const std::vector<Piece>&)> where;
};

// The index reads the source once before the job's own reads begin.
constexpr uint64_t kReadsBeforeWriting = 1;

size_t copiedPieceAt(const std::vector<Piece>& pieces, size_t nth) {
    for (size_t i = 0, seen = 0; i < pieces.size(); ++i)
        if (pieces[i].copied && seen++ == nth) return i;
    throw std::out_of_range("not that many copied pieces");
}

// The first piece of the nth entry with copied pieces.
size_t copiedEntryStart(const std::vector<Piece>& pieces, size_t nth) {
    for (size_t i = 0, seen = 0; i < pieces.size(); ++i)
        if (pieces[i].copied && (i == 0 || pieces[i - 1].entry != pieces[i].entry) && seen++ == nth) return i;
    throw std::out_of_range("not that many copied entries");
}

size_t copiedEntries(const std::vector<Piece>& pieces) {
    size_t n = 0;
    for (size_t i = 0; i < pieces.size(); ++i) n += pieces[i].copied && (i == 0 || pieces[i - 1].entry != pieces[i].entry);
    return n;
}

const FileFault kFileFaults[] = {
    {"ReadOfTheFirstCopiedPiece", FileOperation::Read, "original.iso",
     [](const auto& p) { return std::pair{kReadsBeforeWriting, copiedPieceAt(p, 0)}; }},
    {"ReadInsideAMultiPieceCopiedFile", FileOperation::Read, "original.iso",
     [](const auto& p) {
         size_t nth = 1;
         while (p[copiedPieceAt(p, nth)].entry != p[copiedPieceAt(p, nth - 1)].entry) ++nth;
         return std::pair{kReadsBeforeWriting + nth, copiedPieceAt(p, nth)};
     }},
    {"ReadOfTheLastCopiedPiece", FileOperation::Read, "original.iso",
     [](const auto& p) {
         size_t copied = 0;
         for (const Piece& piece : p) copied += piece.copied;
         return std::pair{kReadsBeforeWriting + copied - 1, copiedPieceAt(p, copied - 1)};
     }},
    {"SeekOfTheLastCopiedFile", FileOperation::Seek, "original.iso",
     [](const auto& p) { return std::pair{copiedEntries(p) - 1, copiedEntryStart(p, copiedEntries(p) - 1)}; }},
    {"WriteOfTheHeader", FileOperation::Write, "new.iso", [](const auto&) { return std::pair{uint64_t{0}, size_t{0}}; }},
    {"WriteOfTheLastPiece", FileOperation::Write, "new.iso",
     [](const auto& p) { return std::pair{uint64_t{p.size() - 1}, p.size() - 1}; }},
};

class BuildJobFileFault : public BuildJob, public ::testing::WithParamInterface<FileFault> {
protected:
    void TearDown() override { FaultInjection::Disarm(); }
};

TEST_P(BuildJobFileFault, EndsAtTheFailingStepWithEveryEarlierPieceReported) {
    const auto pieces = expectedPieces(*s_fixture);
    const auto [skip, piecesBefore] = GetParam().where(pieces);
    test::TempDir out;
#ifndef _WIN32
    const size_t descriptors = openDescriptors();
#endif
    RecordingBuild build(*s_fixture, out / "new.iso");
    FaultInjection::ArmFailure(GetParam().operation, GetParam().file, skip);
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::FileError));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].first, JobResult::FileError);
    EXPECT_EQ(build.reports, std::vector<uint32_t>(s_reports.begin(), s_reports.begin() + static_cast<long>(4 + piecesBefore)));
    EXPECT_EQ(std::filesystem::file_size(out / "new.iso"), s_fixture->expectedFacts.bytes);
    EXPECT_TRUE(outputClosed(out / "new.iso"));
#ifndef _WIN32
    build.m_package.release();
    EXPECT_EQ(openDescriptors(), descriptors);
#endif
}

INSTANTIATE_TEST_SUITE_P(Table, BuildJobFileFault, ::testing::ValuesIn(kFileFaults),
                         [](const ::testing::TestParamInfo<FileFault>& row) { return std::string(row.param.name); });

TEST_F(BuildJob, SourceThatCannotBeIndexedFailsWith149) {
    test::TempDir out;
    test::WriteFileBytes(out / "not-an-image.bin", test::PatternBytes(600000, 3));
    RecordingBuild build(*s_fixture, out / "new.iso");
    build.m_source = out / "not-an-image.bin";
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::PathError));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].second, 149);
    EXPECT_FALSE(std::filesystem::exists(out / "new.iso"));
}

TEST_F(BuildJob, OutputThatIsTheSourceUnderAnotherNameIsRefusedWith150) {
    test::TempDir out;
    const auto copy = out / "source.iso";
    std::filesystem::copy_file(s_fixture->original, copy);
    const auto before = ReadFileBytes(copy);
    std::filesystem::create_hard_link(copy, out / "alias.iso");
    const std::filesystem::path aliases[] = {out / "alias.iso", out / "." / "sub" / ".." / "source.iso"};
    std::filesystem::create_directory(out / "sub");
    for (const auto& alias : aliases) {
        RecordingBuild build(*s_fixture, alias);
        build.m_source = copy;
        EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::PathError)) << alias;
        ASSERT_EQ(build.completions.size(), 1u);
        EXPECT_EQ(build.completions[0].second, 150);
        EXPECT_TRUE(ReadFileBytes(copy) == before) << "the source image changed through " << alias;
    }
}

TEST(BuildJobPackage, UnknownEntryModeFailsWith139BeforeTheOutputIsOpened) {
    DemoFixture fixture;
    fixture.File("/PSP_GAME/USRDIR/BGM.PHD").mode = 7;
    fixture.Write();
    RecordingBuild build(fixture, fixture.output);
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::PathError));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].second, 139);
    EXPECT_FALSE(std::filesystem::exists(fixture.output));
}

TEST(BuildJobPackage, FontLargerThanItsSlotTakesTheSectorsItNeeds) {
    DemoFixture fixture;
    auto& font = fixture.File("/PSP_GAME/USRDIR/fonts.pgf");
    font.translated = demo::Contents::Pattern(77, 1024 * 2048 + 5000);
    fixture.Write();
    RecordingBuild build(fixture, fixture.output);
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::Ok));
    EXPECT_TRUE(ReadFileBytes(fixture.output) == ReadFileBytes(fixture.expected));
    const uint64_t fontAt = DemoFixture::FileOffsetIn(fixture.output, "/PSP_GAME/USRDIR/fonts.pgf");
    const uint64_t nextAt = DemoFixture::FileOffsetIn(fixture.output, "/PSP_GAME/USRDIR/BGM.PHD");
    EXPECT_EQ(nextAt - fontAt, (1024u + 3u) * 2048u);  // no overlap: 1,027 sectors
}

TEST(BuildJobPackage, FontSlotIsAlways1024SectorsWithZerosAfterTheFont) {
    DemoFixture fixture;
    fixture.Write();
    RecordingBuild build(fixture, fixture.output);
    ASSERT_EQ(build.Run(), static_cast<uint32_t>(JobResult::Ok));
    const auto image = ReadFileBytes(fixture.output);
    const uint64_t fontAt = DemoFixture::FileOffsetIn(fixture.output, "/PSP_GAME/USRDIR/fonts.pgf");
    const uint64_t nextAt = DemoFixture::FileOffsetIn(fixture.output, "/PSP_GAME/USRDIR/BGM.PHD");
    EXPECT_EQ(nextAt - fontAt, 1024u * 2048u);
    const uint64_t fontSize = fixture.File("/PSP_GAME/USRDIR/fonts.pgf").translated.size;
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(fontAt + fontSize), image.begin() + static_cast<long>(nextAt),
                            [](uint8_t b) { return b == 0; }));
}

#ifndef _WIN32
// A volume too small for the image: the length reservation fails before any data is written.
TEST(BuildJobDisk, TooSmallVolumeFailsWith150BeforeWriting) {
    DemoFixture fixture;
    fixture.Write();
    const SmallVolume small(fixture.dir / "small");
    if (!small.WhyNot().empty()) GTEST_SKIP() << small.WhyNot();
    const auto& mountPoint = small.Path();
    RecordingBuild build(fixture, mountPoint / "new.iso");
    EXPECT_EQ(build.Run(), static_cast<uint32_t>(JobResult::PathError));
    ASSERT_EQ(build.completions.size(), 1u);
    EXPECT_EQ(build.completions[0].second, 150);
    // Reports stop at 30: nothing was written.
    EXPECT_EQ(build.reports, (std::vector<uint32_t>{0, 1, 30}));
    EXPECT_EQ(std::filesystem::file_size(mountPoint / "new.iso"), 0u);
}
#endif

}  // namespace
}  // namespace tessaly
