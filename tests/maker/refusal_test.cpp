// Images make-package refuses, each with the exit code and the words that say why; a package
// already at the output path stays as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

#include "maker_fixture.h"
#include "support/image_builder.h"

namespace tessaly {
namespace {

using test::Contains;
using test::MakerFixture;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr const char* kBoot = "/PSP_GAME/SYSDIR/BOOT.BIN";
constexpr const char* kEboot = "/PSP_GAME/SYSDIR/EBOOT.BIN";
constexpr const char* kEbootOld = "/PSP_GAME/SYSDIR/EBOOT.OLD";
constexpr uint32_t kXaSignatureOffset = 6;

struct Refusal {
    std::string name;
    std::function<void(demo::DemoDisc&)> editDisc;
    std::function<void(MakerFixture&)> editImages;  // after they are written
    int code;
    std::vector<std::string> says;  // in the message
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

demo::DemoFile& fileOf(demo::DemoDisc& disc, const std::string& path) {
    for (auto& f : disc.files)
        if (f.path == path) return f;
    throw std::out_of_range(path);
}

demo::Contents productFile(const char* code) {
    const std::string text = std::string(code) + "|0123456789ABCDEF|0001|G|DEMO DISC FOR TESSALY  ";
    return demo::Contents::Bytes(std::vector<uint8_t>(text.begin(), text.begin() + 48));
}

// Moves a directory of an image file past everything else, beyond the first 256 sectors.
void moveDirectoryToTheEnd(const std::filesystem::path& image, const char* directory) {
    auto bytes = ReadFileBytes(image);
    test::MoveDirectory(bytes, directory, static_cast<uint32_t>(bytes.size() / test::kSector));
    WriteFileBytes(image, bytes);
}

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, ExitWithTheReasonAndLeaveThePackageAlone) {
    const Refusal& r = GetParam();
    MakerFixture f;
    if (r.editDisc) r.editDisc(f.disc);
    f.WriteImages();
    if (r.editImages) r.editImages(f);
    const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    WriteFileBytes(f.package, earlier);

    const auto made = f.MakePackage();
    EXPECT_EQ(made.code, r.code) << made.err;
    for (const auto& part : r.says) EXPECT_TRUE(Contains(made.err, part)) << "missing '" << part << "' in " << made.err;
    EXPECT_TRUE(ReadFileBytes(f.package) == earlier);
    EXPECT_FALSE(std::filesystem::exists(f.report));
}

const Refusal kRefusals[] = {
    {"TranslatedIsTheSecondDisc",
     [](demo::DemoDisc& d) { fileOf(d, "/UMD_DATA.BIN").translated = productFile("KVXM-20418"); }, nullptr, 3,
     {"different discs", "ORIGINAL is KVXM-20417", "TRANSLATED is KVXM-20418"}},
    {"OriginalIsTheEarlierGame",
     [](demo::DemoDisc& d) {
         fileOf(d, "/UMD_DATA.BIN").original = productFile("KVXL-00815");
         fileOf(d, "/UMD_DATA.BIN").translated = productFile("KVXL-00815");
     },
     nullptr, 13, {"ORIGINAL is not the game's first disc", "KVXL-00815"}},
    {"BootBinIsNotACopyOfEbootBin",
     [](demo::DemoDisc& d) {
         fileOf(d, kBoot).translated = demo::Contents::Pattern(500, fileOf(d, kEboot).translated.size);
     },
     nullptr, 3, {kBoot, kEboot, kEbootOld, "is not a copy of its /PSP_GAME/SYSDIR/EBOOT.BIN"}},
    {"BootBinCopiesEbootBinWhenEbootOldIsThere",
     [](demo::DemoDisc& d) {
         demo::DemoFile old;
         old.path = kEbootOld;
         old.original = demo::Contents::Pattern(501, 9000);
         old.translated = old.original;
         d.files.push_back(old);
     },
     nullptr, 3, {kBoot, kEboot, kEbootOld, "is not a copy of its /PSP_GAME/SYSDIR/EBOOT.OLD"}},
    {"NoBootBin",
     [](demo::DemoDisc& d) {
         d.files.erase(std::find_if(d.files.begin(), d.files.end(), [](const auto& f) { return f.path == kBoot; }));
     },
     nullptr, 3, {"TRANSLATED has no /PSP_GAME/SYSDIR/BOOT.BIN", kEbootOld}},
    {"TranslatedDirectoriesPastSector256", nullptr,
     [](MakerFixture& f) { moveDirectoryToTheEnd(f.translated, "/PSP_GAME/USRDIR"); }, 3,
     {"TRANSLATED's directories reach sector", "first 256 sectors"}},
    {"OriginalDirectoriesPastSector256", nullptr,
     [](MakerFixture& f) { moveDirectoryToTheEnd(f.original, "/PSP_GAME/SYSDIR"); }, 3,
     {"ORIGINAL's directories reach sector", "first 256 sectors"}},
    {"RecordWithoutXaAttributes", nullptr,
     [](MakerFixture& f) {
         auto bytes = ReadFileBytes(f.translated);
         const size_t attribute = test::XaAttributeOffset(bytes, test::RecordOffset(bytes, "/PSP_GAME/PARAM.SFO"));
         bytes[attribute - 4 + kXaSignatureOffset] = 0;
         WriteFileBytes(f.translated, bytes);
     },
     3, {"/PSP_GAME/PARAM.SFO carries no CD-XA attributes"}},
    {"NamesWithVersionSuffixes", nullptr,
     [](MakerFixture& f) {
         auto bytes = ReadFileBytes(f.translated);
         const size_t record = test::RecordOffset(bytes, "/PSP_GAME/USRDIR/EMPTY.DAT");
         bytes[record + 33 + 7] = ';';  // EMPTY.D;1, nine bytes like EMPTY.DAT
         bytes[record + 33 + 8] = '1';
         WriteFileBytes(f.translated, bytes);
     },
     3, {"version suffixes (/PSP_GAME/USRDIR/EMPTY.D;1)"}},
    {"TranslatedCutShort", nullptr,
     [](MakerFixture& f) {
         auto bytes = ReadFileBytes(f.translated);
         bytes.resize(static_cast<size_t>(test::FileOffsetIn(f.translated, "/PSP_GAME/USRDIR/LOGO.PMF") + 1000));
         WriteFileBytes(f.translated, bytes);
     },
     3, {"TRANSLATED ends inside /PSP_GAME/USRDIR/LOGO.PMF"}},
};

INSTANTIATE_TEST_SUITE_P(Images, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& row) { return row.param.name; });

}  // namespace
}  // namespace tessaly
