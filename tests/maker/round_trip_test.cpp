// make-package then patch, on seeded demo discs edited into many shapes: the patched image must be
// TRANSLATED byte for byte when TRANSLATED follows the layout, and hold the same files and
// directories when it does not; every entry's mode is the one its two sides call for.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>

#include "archive_model.h"
#include "maker_fixture.h"

namespace tessaly {
namespace {

using test::ArchiveModel;
using test::Contains;
using test::MakerFixture;
using test::ReadFileBytes;

constexpr const char* kRes = "/PSP_GAME/INSDIR/RES.DAT";
constexpr const char* kEboot = "/PSP_GAME/SYSDIR/EBOOT.BIN";
constexpr const char* kEbootOld = "/PSP_GAME/SYSDIR/EBOOT.OLD";
constexpr const char* kBoot = "/PSP_GAME/SYSDIR/BOOT.BIN";

demo::DemoFile& fileOf(demo::DemoDisc& disc, const std::string& path) {
    for (auto& f : disc.files)
        if (f.path == path) return f;
    throw std::out_of_range(path);
}

void setArchive(demo::DemoDisc& disc, const std::string& path, const ArchiveModel& before, const ArchiveModel& after) {
    demo::DemoFile& f = fileOf(disc, path);
    f.original = demo::Contents::Bytes(before.Serialise());
    f.translated = demo::Contents::Bytes(after.Serialise());
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed) { return test::PatternBytes(size, seed); }

bool isArchive(const demo::Contents& c) {
    const auto bytes = c.Materialise();
    return bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "GPDA");
}

// What each side calls for: the same bytes are copied, two archives rebuilt, the rest stored;
// BOOT.BIN's own entry carries nothing (the loader makes it a copy of EBOOT).
uint32_t expectedMode(const demo::DemoFile& f, const std::map<std::string, EntryMode>& overrides) {
    const auto o = overrides.find(f.path);
    if (o != overrides.end()) return static_cast<uint32_t>(o->second);
    if (f.path == kBoot) return static_cast<uint32_t>(EntryMode::Copied);
    if (f.inOriginal && f.original.Materialise() == f.translated.Materialise())
        return static_cast<uint32_t>(EntryMode::Copied);
    if (f.inOriginal && isArchive(f.original) && isArchive(f.translated))
        return static_cast<uint32_t>(EntryMode::Archive);
    return static_cast<uint32_t>(EntryMode::Stored);
}

struct RoundTrip {
    std::string name;
    uint64_t seed;
    std::function<void(demo::DemoDisc&)> edit;
    std::map<std::string, EntryMode> modes;  // where the general rule is not the whole story
};

void PrintTo(const RoundTrip& r, std::ostream* os) { *os << r.name; }

class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, PatchedImageIsTranslatedByteForByte) {
    const RoundTrip& t = GetParam();
    MakerFixture f(t.seed);
    if (t.edit) t.edit(f.disc);
    f.WriteImages();

    const auto made = f.MakePackage();
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Contains(f.Report(), "follows the patcher's layout")) << f.Report();
    const auto modes = test::PackageModes(ReadFileBytes(f.package));
    ASSERT_EQ(modes.size(), f.disc.files.size());
    for (const auto& file : f.disc.files)
        EXPECT_EQ(static_cast<uint32_t>(modes.at(file.path)), expectedMode(file, t.modes)) << file.path;

    const auto patched = f.Patch(f.original);
    ASSERT_EQ(patched.code, 0) << patched.out << patched.err;
    EXPECT_TRUE(ReadFileBytes(f.output) == ReadFileBytes(f.translated));
    const auto verified = f.Verify(f.output);
    EXPECT_EQ(verified.code, 0) << verified.out;
}

const RoundTrip kRoundTrips[] = {
    {"DemoSeed1", 1, nullptr, {}},
    {"DemoSeed2", 2, nullptr, {}},
    {"DemoSeed3", 3, nullptr, {}},
    {"SevenLevelsWithEmptyMembers", 4,
     [](demo::DemoDisc& d) {
         const ArchiveModel before = test::RandomArchive(41, 7, 5);
         ArchiveModel after = before;
         after.At({2, 2, 2, 2, 2, 2, 1}).bytes = pattern(3000, 1);
         after.At({2, 2, 3}).bytes = pattern(10, 2);  // an empty member filled
         after.At({2, 4}).bytes.clear();              // and one emptied
         setArchive(d, kRes, before, after);
     },
     {}},
    {"NestedArchivesChangeTheirMemberCount", 5,
     [](demo::DemoDisc& d) {
         const ArchiveModel before = test::RandomArchive(52, 5, 4);
         ArchiveModel after = before;
         after.At({2, 2}).members.push_back(ArchiveModel::Leaf("added", pattern(5000, 3)));
         after.At({2, 2, 2, 2}).members.pop_back();
         after.At({2, 1}).bytes = pattern(700, 4);
         setArchive(d, kRes, before, after);
     },
     {}},
    {"ReplacementsOfOtherLengths", 6,
     [](demo::DemoDisc& d) {
         const ArchiveModel before = test::RandomArchive(63, 4, 6);
         ArchiveModel after = before;
         after.At({1}).bytes = pattern(100000, 5);
         after.At({2, 1}).bytes = pattern(1, 6);
         after.At({2, 2, 2, 4}).bytes = pattern(40000, 7);
         after.At({6}) = ArchiveModel::Archive("m1_6", {ArchiveModel::Leaf("x", pattern(20, 8))});
         setArchive(d, kRes, before, after);
     },
     {}},
    {"EveryModeChanges", 7,
     [](demo::DemoDisc& d) {
         demo::DemoFile& voice = fileOf(d, "/PSP_GAME/INSDIR/VOICE.DAT");  // copied in the demo, now changed
         voice.translated = demo::Contents::Pattern(77, voice.original.size);
         demo::DemoFile& pic = fileOf(d, "/PSP_GAME/PIC0.PNG");  // stored in the demo, now unchanged
         pic.translated = pic.original;
         const ArchiveModel before = test::RandomArchive(74, 3, 4);  // a second archive, rebuilt
         ArchiveModel after = before;
         after.At({2, 2, 1}).bytes = pattern(900, 9);
         setArchive(d, "/PSP_GAME/USRDIR/MENU.BIN", before, after);
         // RES.DAT with bytes after its end: no relayout gives that, so it is stored.
         demo::DemoFile& res = fileOf(d, kRes);
         auto bytes = res.translated.Materialise();
         bytes.resize(bytes.size() + 4096, 0);
         res.translated = demo::Contents::Bytes(bytes);
     },
     {{kRes, EntryMode::Stored}}},
    {"ArchiveRecordsNotSmallerThanTheFile", 8,
     [](demo::DemoDisc& d) {
         const ArchiveModel before = test::RandomArchive(85, 3, 4);
         ArchiveModel after = before;
         after.At({1}).name = "renamed";  // the root's header changes: only the whole would do
         setArchive(d, kRes, before, after);
     },
     {{kRes, EntryMode::Stored}}},
    {"BootRuleTakesEbootOld", 9,
     [](demo::DemoDisc& d) {
         demo::DemoFile old;
         old.path = kEbootOld;
         old.original = demo::Contents::Pattern(90, 70000);
         old.translated = demo::Contents::Pattern(91, 80000);
         const auto at = std::find_if(d.files.begin(), d.files.end(), [](const auto& f) { return f.path == kEboot; });
         d.files.insert(at + 1, old);
         fileOf(d, kBoot).translated = old.translated;
     },
     {}},
    {"UnchangedEbootIsStoredForTheBootRule", 10,
     [](demo::DemoDisc& d) {
         demo::DemoFile& eboot = fileOf(d, kEboot);
         eboot.translated = eboot.original;  // ORIGINAL's BOOT.BIN holds other bytes
         fileOf(d, kBoot).translated = eboot.original;
     },
     {{kEboot, EntryMode::Stored}}},
    {"UnchangedEbootIsCopiedWhenOriginalBootMatches", 11,
     [](demo::DemoDisc& d) {
         demo::DemoFile& eboot = fileOf(d, kEboot);
         eboot.translated = eboot.original;
         fileOf(d, kBoot).original = eboot.original;
         fileOf(d, kBoot).translated = eboot.original;
     },
     {}},
    {"FileOnlyInTranslated", 12,
     [](demo::DemoDisc& d) {
         demo::DemoFile added;
         added.path = "/PSP_GAME/USRDIR/NEW.BIN";
         added.original = demo::Contents::Pattern(120, 5000);
         added.translated = added.original;
         added.inOriginal = false;
         d.files.push_back(added);
     },
     {}},
};

INSTANTIATE_TEST_SUITE_P(Discs, RoundTrips, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTrip>& row) { return row.param.name; });

TEST(MakePackageLayout, TranslatedInAnotherOrderGivesTheSameFilesLaidOutAfresh) {
    MakerFixture f(13);
    f.WriteImages();
    std::vector<size_t> order(f.disc.files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = (i * 7) % order.size();  // 7 and 26 share no factor
    f.WriteTranslatedInOrder(order, 3);

    const auto made = f.MakePackage();
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Contains(f.Report(), "laid out otherwise")) << f.Report();
    EXPECT_TRUE(Contains(f.Report(), " files move (")) << f.Report();
    const auto patched = f.Patch(f.original);
    ASSERT_EQ(patched.code, 0) << patched.out << patched.err;

    const test::ImageListing want = test::ListImage(f.translated);
    const test::ImageListing got = test::ListImage(f.output);
    EXPECT_EQ(got.directories, want.directories);
    ASSERT_EQ(got.files.size(), want.files.size());
    for (const auto& [path, bytes] : want.files) {
        SCOPED_TRACE(path);
        ASSERT_EQ(got.files.count(path), 1u);
        EXPECT_TRUE(got.files.at(path) == bytes);
    }
    EXPECT_FALSE(ReadFileBytes(f.output) == ReadFileBytes(f.translated));
    // The patched image is what the package describes; TRANSLATED's own places are not.
    EXPECT_EQ(f.Verify(f.output).code, 0);
    const auto other = f.Verify(f.translated);
    EXPECT_EQ(other.code, 1);
    EXPECT_TRUE(Contains(other.out, "(header sectors): directory records differ")) << other.out;
}

TEST(MakePackageLayout, SameImagesGiveTheSamePackage) {
    MakerFixture f(14);
    f.WriteImages();
    ASSERT_EQ(f.MakePackage().code, 0);
    const auto first = ReadFileBytes(f.package);
    ASSERT_EQ(f.MakePackage().code, 0);
    EXPECT_TRUE(ReadFileBytes(f.package) == first);
}

}  // namespace
}  // namespace tessaly
