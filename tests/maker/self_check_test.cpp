// The dry run that make-package runs before it writes: a rebuilt archive that misses its CRC-32
// falls back to being stored, anything else stops the package from being made at all.

#include <gtest/gtest.h>

#include "maker/archive_diff.h"
#include "maker/package_plan.h"
#include "maker_fixture.h"

namespace tessaly {
namespace {

using test::Contains;
using test::MakerFixture;
using test::ReadFileBytes;

constexpr const char* kRes = "/PSP_GAME/INSDIR/RES.DAT";

maker::PlannedFile& planned(maker::PackagePlan& plan, const std::string& path) {
    for (auto& f : plan.files)
        if (f.path == path) return f;
    throw std::out_of_range(path);
}

TEST(SelfCheck, ArchiveThatMissesItsCrcIsStoredAndTheImageStillComesOut) {
    MakerFixture f;
    f.WriteImages();
    maker::PackagePlan plan = maker::PlanPackage(f.original, f.translated);
    maker::PlannedFile& res = planned(plan, kRes);
    ASSERT_EQ(res.mode, EntryMode::Archive);
    ASSERT_GT(res.records.size(), 1u);
    res.records.pop_back();  // one replacement lost: the archive rebuilds wrong
    res.recordBytes = maker::EncodedRecordBytes(res.records);

    const std::vector<uint8_t> package = maker::FinishPackage(plan);
    EXPECT_EQ(plan.dryRuns, 2u);
    EXPECT_EQ(res.mode, EntryMode::Stored);
    EXPECT_TRUE(Contains(res.note, "came out with CRC-32")) << res.note;
    maker::WritePackageFile(f.package, package);
    ASSERT_EQ(f.Patch(f.original).code, 0);
    EXPECT_TRUE(ReadFileBytes(f.output) == ReadFileBytes(f.translated));
}

TEST(SelfCheck, PackageThatCannotReproduceTheImageIsNotMade) {
    MakerFixture f;
    f.WriteImages();
    maker::PackagePlan plan = maker::PlanPackage(f.original, f.translated);
    maker::PlannedFile& voice = planned(plan, "/PSP_GAME/INSDIR/VOICE.DAT");
    ASSERT_EQ(voice.mode, EntryMode::Copied);
    voice.crc ^= 1;
    try {
        maker::FinishPackage(plan);
        FAIL() << "a package was made";
    } catch (const maker::MakeError& e) {
        EXPECT_EQ(e.kind, maker::MakeError::Kind::SelfCheckFailed);
        EXPECT_TRUE(Contains(e.what(), "/PSP_GAME/INSDIR/VOICE.DAT: expected CRC-32")) << e.what();
    }
}

TEST(SelfCheck, DryRunNamesTheFilesOfADamagedSource) {
    MakerFixture f;
    f.WriteImages();
    maker::PackagePlan plan = maker::PlanPackage(f.original, f.translated);
    const std::vector<uint8_t> package = maker::FinishPackage(plan);
    EXPECT_EQ(plan.dryRuns, 1u);
    test::FlipByte(f.original, test::FileOffsetIn(f.original, "/PSP_GAME/USRDIR/SE.PBD") + 77);

    const maker::DryRunOutcome outcome = maker::DryRunPackage(package, f.original);
    ASSERT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.result, JobResult::VerifyFailed);
    ASSERT_EQ(outcome.mismatches.size(), 1u);
    EXPECT_EQ(outcome.mismatches[0].path, "/PSP_GAME/USRDIR/SE.PBD");
    EXPECT_NE(outcome.mismatches[0].expected, outcome.mismatches[0].actual);
}

}  // namespace
}  // namespace tessaly
