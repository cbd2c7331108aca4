// The package loader against malformed packages: counts and lengths that run past the bytes or
// wrap in 32 bits, a table size that overflows, missing terminators and boot files. Each row
// states its outcome; the bytes are exactly sized, so AddressSanitizer reports any overread, and
// a count that reached the allocator unchecked would be reported as too large an allocation.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "iso/umd_image_writer.h"
#include "package/patch_package.h"
#include "support/exact_bytes.h"
#include "support/package_builder.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using Bytes = std::vector<uint8_t>;
using test::EncodedPackage;

constexpr const char* kUmd = "/UMD_DATA.BIN";
constexpr const char* kBoot = "/PSP_GAME/SYSDIR/BOOT.BIN";
constexpr const char* kEboot = "/PSP_GAME/SYSDIR/EBOOT.BIN";
constexpr const char* kData = "/PSP_GAME/USRDIR/DATA.BIN";

test::PackageSpec smallSpec() {
    UmdLayout layout;
    layout.files = {{kUmd, 48, 26}, {kBoot, 5000, 27}, {kEboot, 6100, 30}, {kData, 4096, 33}};
    layout.volumeSectors = 35;
    test::PackageSpec recipe;
    recipe.header = BuildUmdHeader(layout);
    const Bytes umd = test::PatternBytes(48, 1), eboot = test::PatternBytes(6100, 2);
    recipe.entries = {{kUmd, 48, test::ReferenceCrc32(umd), 0, umd},
                    {kBoot, 5000, 0x12345678, 1, {}},
                    {kEboot, 6100, test::ReferenceCrc32(eboot), 0, eboot},
                    {kData, 4096, 0x9ABCDEF0, 1, {}}};
    return recipe;
}

void put32(Bytes& b, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Entry numbers of the loader (1-based) for the rows' checks.
constexpr uint32_t kBootEntry = 2, kEbootEntry = 3;

struct PackageRow {
    const char* name;
    std::function<void(EncodedPackage&)> damage;
    bool corrupt;
    std::function<void(const PatchPackage&)> check = {};  // what a loaded package must show
};

TEST(MalformedPackage, EveryRowGivesItsDefinedOutcome) {
    const PackageRow rows[] = {
        // Cut short inside every field: reading stays within the bytes.
        {"no bytes", [](EncodedPackage& p) { p.bytes.clear(); }, true},
        {"count only", [](EncodedPackage& p) { p.bytes.resize(4); }, true},
        {"cut inside the header CRC", [](EncodedPackage& p) { p.bytes.resize(10); }, true},
        {"cut inside the header bytes", [](EncodedPackage& p) { p.bytes.resize(p.entries[0].pathLength - 1); }, true},
        {"cut inside a path length", [](EncodedPackage& p) { p.bytes.resize(p.entries[1].pathLength + 3); }, true},
        {"cut inside a path", [](EncodedPackage& p) { p.bytes.resize(p.entries[1].path + 5); }, true},
        {"cut before a path's zero byte", [](EncodedPackage& p) { p.bytes.resize(p.entries[1].terminator); }, true},
        {"cut inside a size", [](EncodedPackage& p) { p.bytes.resize(p.entries[1].size + 2); }, true},
        {"cut inside a stored length", [](EncodedPackage& p) { p.bytes.resize(p.entries[3].storedLength + 1); }, true},
        {"cut one byte before the end of stored bytes",
         [](EncodedPackage& p) { p.bytes.resize(p.entries[2].end - 1); }, true},

        // Counts and lengths that wrap or overflow.
        {"header length 0xFFFFFFFF", [](EncodedPackage& p) { put32(p.bytes, test::kPackageHeaderLengthField, 0xFFFFFFFFu); },
         true},
        {"header length 0", [](EncodedPackage& p) { put32(p.bytes, test::kPackageHeaderLengthField, 0); }, true},
        {"entry count 0", [](EncodedPackage& p) { put32(p.bytes, test::kPackageCountField, 0); }, true},
        {"entry count 0xFFFFFFFF: the table's byte size overflows 32 bits",
         [](EncodedPackage& p) { put32(p.bytes, test::kPackageCountField, 0xFFFFFFFFu); }, true},
        {"entry count 0x0FFFFFFF, more than the bytes could hold",
         [](EncodedPackage& p) { put32(p.bytes, test::kPackageCountField, 0x0FFFFFFFu); }, true},
        {"entry count one more than the entries present",
         [](EncodedPackage& p) { put32(p.bytes, test::kPackageCountField, 5); }, true},
        {"path length 0xFFFFFFFF: length + 1 wraps to 0 in 32 bits",
         [](EncodedPackage& p) { put32(p.bytes, p.entries[1].pathLength, 0xFFFFFFFFu); }, true},
        {"stored length 0xFFFFFFFF", [](EncodedPackage& p) { put32(p.bytes, p.entries[1].storedLength, 0xFFFFFFFFu); },
         true},
        {"stored length running one byte past the end",
         [](EncodedPackage& p) { put32(p.bytes, p.entries[3].storedLength, 1); }, true},

        // Paths.
        {"path without its zero byte", [](EncodedPackage& p) { p.bytes[p.entries[0].terminator] = 'X'; }, true},
        {"path in another letter case", [](EncodedPackage& p) { p.bytes[p.entries[0].path + 1] = 'u'; }, true},
        {"path with a zero byte inside: looked up up to that byte",
         [](EncodedPackage& p) {
             test::PackageSpec recipe = smallSpec();
             recipe.entries[0].path = std::string(kUmd) + std::string(1, '\0') + "TAIL";
             p = test::EncodePackage(recipe);
         },
         false, [](const PatchPackage& package) { EXPECT_STREQ(package.entries[1].path, kUmd); }},

        // Sizes and the boot-file rule.
        {"size one byte more than the directory's record",
         [](EncodedPackage& p) { put32(p.bytes, p.entries[3].size, 4097); }, true},
        {"stored file whose stored length differs from its size",
         [](EncodedPackage& p) {
             test::PackageSpec recipe = smallSpec();
             recipe.entries[0].stored.pop_back();
             p = test::EncodePackage(recipe);
         },
         true},
        {"copied file with stored bytes of another length",
         [](EncodedPackage& p) {
             test::PackageSpec recipe = smallSpec();
             recipe.entries[3].stored = Bytes(7, 0xEE);
             p = test::EncodePackage(recipe);
         },
         false, [](const PatchPackage& package) { EXPECT_EQ(package.entries[4].dataLength, 7u); }},
        {"no BOOT.BIN entry",
         [](EncodedPackage& p) {
             test::PackageSpec recipe = smallSpec();
             recipe.entries.erase(recipe.entries.begin() + 1);
             p = test::EncodePackage(recipe);
         },
         true},
        {"no EBOOT.BIN entry",
         [](EncodedPackage& p) {
             test::PackageSpec recipe = smallSpec();
             recipe.entries.erase(recipe.entries.begin() + 2);
             p = test::EncodePackage(recipe);
         },
         true},
        {"bytes after the last entry: the package ends where its last entry ends",
         [](EncodedPackage& p) { p.bytes.insert(p.bytes.end(), 100, 0xAB); }, false,
         [](const PatchPackage& package) {
             EXPECT_EQ(package.entryCount, 4u);
             EXPECT_EQ(package.entries[kBootEntry].data, package.entries[kEbootEntry].data);
             EXPECT_EQ(package.entries[kBootEntry].size, 6100u);
             EXPECT_EQ(package.entries[kBootEntry].imageOffset, 27u * 2048);
         }},
    };

    for (const PackageRow& row : rows) {
        SCOPED_TRACE(row.name);
        EncodedPackage encoded = test::EncodePackage(smallSpec());
        row.damage(encoded);
        const test::ExactBytes bytes(encoded.bytes);
        PatchPackage package;
        package.load(bytes.data(), bytes.size());
        EXPECT_EQ(package.corrupt, row.corrupt);
        if (row.corrupt) {
            EXPECT_EQ(package.headerIndex, nullptr);
            EXPECT_EQ(package.entries, nullptr);
            EXPECT_EQ(package.header, nullptr);
        } else if (!package.corrupt) {
            row.check(package);
        }
    }
}

}  // namespace
}  // namespace tessaly
