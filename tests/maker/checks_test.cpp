// `tessaly patch --dry-run` and `tessaly verify` with a package made by make-package: a good source
// or image passes, a damaged one is named file by file.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "maker_fixture.h"
#include "platform/text.h"
#include "resources/messages.h"
#include "support/image_builder.h"

namespace tessaly {
namespace {

using test::Contains;
using test::MakerFixture;
using test::ReadFileBytes;
using test::WriteFileBytes;

class PackageMade : public ::testing::Test {
protected:
    void SetUp() override {
        f.WriteImages();
        const auto made = f.MakePackage();
        ASSERT_EQ(made.code, 0) << made.err;
    }
    MakerFixture f;
};

TEST_F(PackageMade, DryRunPassesTheGoodSourceAndWritesNothing) {
    const auto dry = f.DryRun(f.original);
    EXPECT_EQ(dry.code, 0) << dry.out;
    EXPECT_TRUE(Contains(dry.out, "nothing was written")) << dry.out;
    EXPECT_FALSE(std::filesystem::exists(f.output));
}

TEST_F(PackageMade, DryRunNamesEveryDamagedFileOfTheSource) {
    // A copied file, and a member of the rebuilt archive that no record replaces.
    test::FlipByte(f.original, test::FileOffsetIn(f.original, "/PSP_GAME/USRDIR/OP.PMF") + 4096);
    test::FlipByte(f.original, test::FileOffsetIn(f.original, "/PSP_GAME/INSDIR/RES.DAT") + 2048 + 5);
    const auto dry = f.DryRun(f.original);
    EXPECT_EQ(dry.code, 1) << dry.out;
    EXPECT_TRUE(Contains(dry.out, "/PSP_GAME/USRDIR/OP.PMF: expected CRC-32")) << dry.out;
    EXPECT_TRUE(Contains(dry.out, "/PSP_GAME/INSDIR/RES.DAT: expected CRC-32")) << dry.out;
    EXPECT_TRUE(Contains(dry.out, "bad or modified dump")) << dry.out;
    EXPECT_FALSE(Contains(dry.out, "/PSP_GAME/USRDIR/ED.PMF")) << dry.out;
    EXPECT_FALSE(std::filesystem::exists(f.output));
}

struct Damage {
    std::string name;
    std::function<void(const std::filesystem::path&)> apply;
    std::vector<std::string> named;  // "PATH: detail" beginnings expected in the output
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class VerifyDamage : public PackageMade, public ::testing::WithParamInterface<Damage> {};

TEST_P(VerifyDamage, NamesEachDifferingFile) {
    ASSERT_EQ(f.Patch(f.original).code, 0);
    const auto good = f.Verify(f.output);
    ASSERT_EQ(good.code, 0) << good.out;
    ASSERT_TRUE(Contains(good.out, "match the package")) << good.out;

    GetParam().apply(f.output);
    const auto r = f.Verify(f.output);
    EXPECT_EQ(r.code, 1) << r.out;
    size_t lines = 0;
    for (size_t at = r.out.find("\n  "); at != std::string::npos; at = r.out.find("\n  ", at + 1)) ++lines;
    EXPECT_EQ(lines, GetParam().named.size()) << r.out;
    for (const auto& part : GetParam().named) EXPECT_TRUE(Contains(r.out, "  " + part)) << r.out;
}

const Damage kDamages[] = {
    {"StoredAndCopiedFileBytes",
     [](const std::filesystem::path& image) {
         test::FlipByte(image, test::FileOffsetIn(image, "/PSP_GAME/USRDIR/SCRIPT.BIN") + 10);
         test::FlipByte(image, test::FileOffsetIn(image, "/PSP_GAME/USRDIR/ED.PMF") + 3000000);
     },
     {"/PSP_GAME/USRDIR/SCRIPT.BIN: expected CRC-32", "/PSP_GAME/USRDIR/ED.PMF: expected CRC-32"}},
    {"DirectoryRecordPointsElsewhere",
     [](const std::filesystem::path& image) {
         auto bytes = ReadFileBytes(image);
         const size_t record = test::RecordOffset(bytes, "/PSP_GAME/USRDIR/SE.PHD");
         test::SetRecordExtent(bytes, record, test::GetLe32(bytes, record + 2) + 1);
         WriteFileBytes(image, bytes);
     },
     {"(header sectors): directory records differ: /PSP_GAME/USRDIR/SE.PHD at sector",
      "/PSP_GAME/USRDIR/SE.PHD: expected CRC-32"}},
    {"FileRenamed",
     [](const std::filesystem::path& image) {
         auto bytes = ReadFileBytes(image);
         bytes[test::RecordOffset(bytes, "/PSP_GAME/USRDIR/NAME.BIN") + 33] = 'G';  // GAME.BIN
         WriteFileBytes(image, bytes);
     },
     {"(header sectors): expected CRC-32", "/PSP_GAME/USRDIR/NAME.BIN: missing from the image"}},
};

INSTANTIATE_TEST_SUITE_P(Images, VerifyDamage, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& row) { return row.param.name; });

TEST_F(PackageMade, VerifyTellsACutShortImage) {
    ASSERT_EQ(f.Patch(f.original).code, 0);
    auto bytes = ReadFileBytes(f.output);
    bytes.resize(static_cast<size_t>(test::FileOffsetIn(f.output, "/PSP_GAME/USRDIR/LOGO.PMF") + 100));
    WriteFileBytes(f.output, bytes);
    const auto r = f.Verify(f.output);
    EXPECT_TRUE(Contains(r.out, "(the image ends inside it)")) << r.out;
}

TEST_F(PackageMade, VerifyOfSomethingThatIsNoImage) {
    WriteFileBytes(f.output, test::PatternBytes(600000, 3));
    const auto r = f.Verify(f.output);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.out, "cannot be read as a UMD disc image")) << r.out;
}

TEST_F(PackageMade, VerifyWithACorruptPackageExits30) {
    auto bytes = ReadFileBytes(f.package);
    bytes.resize(bytes.size() - 1);
    WriteFileBytes(f.package, bytes);
    const auto r = f.Verify(f.translated);
    EXPECT_EQ(r.code, 30);
    EXPECT_TRUE(Contains(r.out, MessageUtf8(138))) << r.out;
}

}  // namespace
}  // namespace tessaly
