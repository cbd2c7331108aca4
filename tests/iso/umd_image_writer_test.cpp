#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "iso_test_util.h"
#include "support/image_builder.h"
#include "support/package_builder.h"

namespace tessaly {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t be32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint16_t be16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// A both-endian 32-bit field: the little- and big-endian halves must agree.
uint32_t both32(const Bytes& b, size_t at) {
    EXPECT_EQ(test::GetLe32(b, at), be32(b, at + 4)) << "both-endian field at " << at;
    return test::GetLe32(b, at);
}

UmdLayout shapeWithBigDirectory() {
    UmdLayout layout = test::ShippedShapePackage().layout;
    uint32_t next = layout.volumeSectors;
    for (int i = 0; i < 70; ++i) layout.files.push_back({"/PSP_GAME/USRDIR/EXTRA_FILE_" + std::to_string(i) + ".BIN", 10, next++});
    layout.directories.push_back("/PSP_GAME/USRDIR/EMPTY");
    layout.volumeSectors = 0;
    return layout;
}

// Checks the structures that strict readers rely on, walking the image as a general ISO 9660
// reader would.
void expectWellFormed(const Bytes& image, const UmdLayout& layout) {
    const size_t pvd = test::kPvdOffset;
    EXPECT_EQ(image[pvd], 1);
    EXPECT_EQ(std::string(image.begin() + pvd + 1, image.begin() + pvd + 6), "CD001");
    EXPECT_EQ(image[pvd + 6], 1);
    EXPECT_EQ(image[pvd + 881], 1);  // file structure version
    EXPECT_EQ(le16(image, pvd + 128), 2048);
    EXPECT_EQ(be16(image, pvd + 130), 2048);
    EXPECT_EQ(image[pvd + 2048], 255);  // terminator
    EXPECT_EQ(std::string(image.begin() + pvd + 2049, image.begin() + pvd + 2054), "CD001");

    // Path tables: the optional copies equal the tables, and M is L in big-endian.
    const uint32_t tableBytes = both32(image, pvd + 132);
    const size_t l = size_t{test::GetLe32(image, pvd + 140)} * 2048, lOpt = size_t{test::GetLe32(image, pvd + 144)} * 2048;
    const size_t m = size_t{be32(image, pvd + 148)} * 2048, mOpt = size_t{be32(image, pvd + 152)} * 2048;
    EXPECT_TRUE(std::equal(image.begin() + l, image.begin() + l + tableBytes, image.begin() + lOpt));
    EXPECT_TRUE(std::equal(image.begin() + m, image.begin() + m + tableBytes, image.begin() + mOpt));
    EXPECT_GE(lOpt - l, tableBytes);
    size_t directories = 0;
    uint16_t lastParent = 1;
    for (size_t p = 0; p < tableBytes; ++directories) {
        const size_t idLength = image[l + p];
        ASSERT_GT(idLength, 0u);
        EXPECT_EQ(test::GetLe32(image, l + p + 2), be32(image, m + p + 2));
        EXPECT_EQ(le16(image, l + p + 6), be16(image, m + p + 6));
        EXPECT_GE(le16(image, l + p + 6), lastParent) << "path table not in parent order";
        lastParent = le16(image, l + p + 6);
        p += 8 + idLength + idLength % 2;
    }

    // The descriptor's root record names the root's extent.
    const uint32_t rootSector = both32(image, test::kRootRecordField + 2);
    EXPECT_EQ(size_t{rootSector} * 2048, test::DotRecordOffset(image, "/"));
    EXPECT_EQ(both32(image, test::kRootRecordField + 10), both32(image, size_t{rootSector} * 2048 + 10));

    // Every directory record: inside one sector, CD-XA attributes matching the flags.
    std::vector<std::string> pending{"/"};
    size_t files = 0, dirs = 0;
    while (!pending.empty()) {
        const std::string dir = pending.back();
        pending.pop_back();
        ++dirs;
        for (size_t record : test::DirectoryRecords(image, dir)) {
            const uint8_t length = image[record];
            EXPECT_EQ(length % 2, 0);
            EXPECT_LE(record % 2048 + length, 2048u) << "record crosses a sector in " << dir;
            const size_t nameLength = image[record + 32];
            EXPECT_EQ(length, 33 + nameLength + (nameLength % 2 == 0 ? 1 : 0) + 14);
            const size_t xa = test::XaAttributeOffset(image, record) - 4;
            EXPECT_EQ(image[xa + 6], 'X');
            EXPECT_EQ(image[xa + 7], 'A');
            const bool isDirectory = (image[record + 25] & 2) != 0;
            EXPECT_EQ(be16(image, xa + 4), isDirectory ? 0x8D55 : 0x0D55);
            both32(image, record + 2);
            both32(image, record + 10);
            const bool dotOrDotDot = nameLength == 1 && image[record + 33] <= 1;
            if (dotOrDotDot) continue;
            const std::string name(image.begin() + static_cast<ptrdiff_t>(record) + 33,
                                   image.begin() + static_cast<ptrdiff_t>(record + 33 + nameLength));
            EXPECT_EQ(name.find(';'), std::string::npos);
            const std::string path = (dir == "/" ? "" : dir) + "/" + name;
            if (isDirectory) pending.push_back(path);
            else ++files;
        }
    }
    EXPECT_EQ(directories, dirs);
    EXPECT_EQ(files, layout.files.size());
}

TEST(UmdImageWriter, HeaderSectorsOfKnownLayouts) {
    EXPECT_EQ(UmdHeaderSectors(UmdLayout{}), 23u);  // 16 system, PVD, terminator, 4 path tables, root
    const test::ShippedShape shape = test::ShippedShapePackage();
    EXPECT_EQ(UmdHeaderSectors(shape.layout), 27u);
    EXPECT_EQ(BuildUmdHeader(shape.layout).size(), 27u * 2048);
    const UmdLayout big = shapeWithBigDirectory();
    // USRDIR's 85 records take three sectors; EMPTY adds one.
    EXPECT_EQ(UmdHeaderSectors(big), 27u + 2 + 1);
    EXPECT_EQ(BuildUmdHeader(big).size(), size_t{UmdHeaderSectors(big)} * 2048);
}

TEST(UmdImageWriter, HeadersAreWellFormed) {
    const UmdLayout layouts[] = {test::ShippedShapePackage().layout, shapeWithBigDirectory(), UmdLayout{}};
    for (const UmdLayout& layout : layouts) {
        SCOPED_TRACE(layout.files.size());
        expectWellFormed(BuildUmdHeader(layout), layout);
    }
}

TEST(UmdImageWriter, PathTableLargerThanASector) {
    UmdLayout layout;
    for (int i = 0; i < 300; ++i) layout.directories.push_back("/DIRECTORY_" + std::to_string(1000 + i));
    const Bytes header = BuildUmdHeader(layout);
    ASSERT_GT(test::GetLe32(header, test::kPvdOffset + 132), 2048u);
    expectWellFormed(header, layout);
    IsoIndex index;
    test::BuildExact(index, header);
    ASSERT_NE(index.volume, nullptr) << test::ErrorOf(index);
    EXPECT_EQ(index.volume->directoryCount, 301u);
    EXPECT_EQ(index.volume->firstFreeSector, UmdHeaderSectors(layout));
}

TEST(UmdImageWriter, VolumeSizeDefaultsToTheLastExtentsEnd) {
    UmdLayout layout;
    layout.files = {{"/A.BIN", 4097, 30}, {"/C.BIN", 1, 25}};
    EXPECT_EQ(test::GetLe32(BuildUmdHeader(layout), test::kVolumeSizeField), 33u);
    // An empty file's start sector must lie inside the volume too (the index checks start + size).
    layout.files.push_back({"/B.BIN", 0, 40});
    const Bytes header = BuildUmdHeader(layout);
    EXPECT_EQ(test::GetLe32(header, test::kVolumeSizeField), 40u);
    IsoIndex index;
    test::BuildExact(index, header);
    EXPECT_NE(index.volume, nullptr) << test::ErrorOf(index);

    layout.volumeSectors = 5000;
    EXPECT_EQ(test::GetLe32(BuildUmdHeader(layout), test::kVolumeSizeField), 5000u);
    UmdLayout none;
    EXPECT_EQ(test::GetLe32(BuildUmdHeader(none), test::kVolumeSizeField), UmdHeaderSectors(none));
}

TEST(UmdImageWriter, SameLayoutInAnyOrderGivesTheSameBytes) {
    const UmdLayout layout = shapeWithBigDirectory();
    UmdLayout reversed = layout;
    std::reverse(reversed.files.begin(), reversed.files.end());
    EXPECT_EQ(BuildUmdHeader(layout), BuildUmdHeader(layout));
    EXPECT_EQ(BuildUmdHeader(layout), BuildUmdHeader(reversed));
}

TEST(UmdImageWriter, RejectsPathsWithoutLeadingSeparator) {
    UmdLayout layout;
    layout.files = {{"PSP_GAME/A.BIN", 1, 30}};
    EXPECT_THROW(BuildUmdHeader(layout), std::invalid_argument);
    layout.files = {{"", 1, 30}};
    EXPECT_THROW(UmdHeaderSectors(layout), std::invalid_argument);
}

}  // namespace
}  // namespace tessaly
