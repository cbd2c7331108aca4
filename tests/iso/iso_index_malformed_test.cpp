#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "iso/iso_index.h"
#include "iso_test_util.h"
#include "support/image_builder.h"
#include "support/package_builder.h"

namespace tessaly {
namespace {

using test::BuildExact;
using test::ErrorOf;
using Bytes = std::vector<uint8_t>;

// The shipped-shape header: root 22, PSP_GAME 23, INSDIR 24, SYSDIR 25, USRDIR 26 (the block's last
// sector); type-L path table at 18, its optional copy at 19.
struct Header {
    Header() : shape(test::ShippedShapePackage()), bytes(shape.recipe.header) {}
    test::ShippedShape shape;
    Bytes bytes;
};

constexpr uint32_t kRoot = 22, kInsDir = 24, kUsrDir = 26, kHeaderSectors = 27;
constexpr size_t kBlockEnd = kHeaderSectors * 2048;
constexpr size_t kPathTableEnd = 19 * 2048;  // the walked range ends where the optional copy begins

// A file record (identifier of X's, CD-XA file attribute) at `at`; bytes beyond the block are dropped.
void putFileRecord(Bytes& b, size_t at, uint8_t identifierLength, uint32_t extent, uint32_t size) {
    const size_t padding = identifierLength % 2 == 0 ? 1 : 0;
    Bytes record(33 + identifierLength + padding + 14, 0);
    record[0] = static_cast<uint8_t>(record.size());
    test::PutBoth32(record, 2, extent);
    test::PutBoth32(record, 10, size);
    record[32] = identifierLength;
    std::fill(record.begin() + 33, record.begin() + 33 + identifierLength, uint8_t{'X'});
    record[33 + identifierLength + padding + 4] = 0x0D;
    for (size_t i = 0; i < record.size() && at + i < b.size(); ++i) b[at + i] = record[i];
}

void setAttribute(Bytes& b, size_t record, uint8_t value) { b[test::XaAttributeOffset(b, record)] = value; }

struct MalformedCase {
    const char* name;
    std::function<void(Header&)> damage;
    const char* expected;
};

// Every failure text of the index, each reached by damaging one thing in a valid block.
TEST(IsoIndexMalformed, EveryFailureText) {
    const MalformedCase cases[] = {
        // Block and volume size.
        {"empty block", [](Header& h) { h.bytes.clear(); }, IsoErrors::kHeaderTooSmallForSize},
        {"block of 32851 bytes", [](Header& h) { h.bytes.resize(32851); }, IsoErrors::kHeaderTooSmallForSize},
        {"block of 32852 bytes", [](Header& h) { h.bytes.resize(32852); }, IsoErrors::kHeaderTooSmallForFolders},
        {"block of 32915 bytes", [](Header& h) { h.bytes.resize(32915); }, IsoErrors::kHeaderTooSmallForFolders},
        {"block of 32916 bytes, path-table range empty (passes the size checks)",
         [](Header& h) {
             h.bytes.resize(32916);
             test::PutLe32(h.bytes, test::kPathTableLField, 0);
             test::PutLe32(h.bytes, test::kOptionalPathTableLField, 0);
         },
         IsoErrors::kIllegalHeader},
        {"volume of 2^21 sectors", [](Header& h) { test::SetVolumeSectors(h.bytes, 1u << 21); },
         IsoErrors::kVolumeTooLarge},
        {"volume of 0xFFFFFFFF sectors", [](Header& h) { test::SetVolumeSectors(h.bytes, 0xFFFFFFFFu); },
         IsoErrors::kVolumeTooLarge},
        {"volume too large is found before the short block",
         [](Header& h) {
             test::SetVolumeSectors(h.bytes, 1u << 21);
             h.bytes.resize(32852);
         },
         IsoErrors::kVolumeTooLarge},
        {"optional path table in the sector after the block",
         [](Header& h) { test::PutLe32(h.bytes, test::kOptionalPathTableLField, kHeaderSectors); },
         IsoErrors::kHeaderTooSmallForFolders},
        {"optional path table at sector 0xFFFFFFFF",
         [](Header& h) { test::PutLe32(h.bytes, test::kOptionalPathTableLField, 0xFFFFFFFFu); },
         IsoErrors::kHeaderTooSmallForFolders},
        {"block ending one byte short of the optional path table sector's end", [](Header& h) { h.bytes.resize(20 * 2048 - 1); },
         IsoErrors::kHeaderTooSmallForFolders},

        // Path table.
        {"path-table directory in the sector after the block",
         [](Header& h) { test::PutLe32(h.bytes, test::PathTableRecordOffset(h.bytes, 4) + 2, kHeaderSectors); },
         IsoErrors::kBadFolderOffset},
        {"path-table directory at sector 0xFFFFFFFF",
         [](Header& h) { test::PutLe32(h.bytes, test::PathTableRecordOffset(h.bytes, 1) + 2, 0xFFFFFFFFu); },
         IsoErrors::kBadFolderOffset},
        {"path-table record whose fixed part crosses the walked range's end",
         [](Header& h) {
             const size_t at = kPathTableEnd - 6;
             h.bytes[at] = 1;
             test::PutLe32(h.bytes, at + 2, kRoot);
         },
         IsoErrors::kBadFolderOffset},
        {"path-table record whose identifier crosses the walked range's end",
         [](Header& h) {
             const size_t at = kPathTableEnd - 10;
             h.bytes[at] = 4;
             test::PutLe32(h.bytes, at + 2, kRoot);
             h.bytes[at + 8] = 'A';
             h.bytes[at + 9] = 'B';
         },
         IsoErrors::kBadFolderOffset},
        {"same extent twice in the path table",
         [](Header& h) { test::PutLe32(h.bytes, test::PathTableRecordOffset(h.bytes, 3) + 2, kInsDir); },
         IsoErrors::kFolderLinkedTwice},
        {"path table without records",
         [](Header& h) { std::fill(h.bytes.begin() + 18 * 2048, h.bytes.begin() + 19 * 2048, uint8_t{0}); },
         IsoErrors::kIllegalHeader},
        {"path-table range of no bytes (optional table at the table's own sector)",
         [](Header& h) { test::PutLe32(h.bytes, test::kOptionalPathTableLField, 18); }, IsoErrors::kIllegalHeader},
        {"only the root listed, its sector blank",
         [](Header& h) {
             std::fill(h.bytes.begin() + static_cast<ptrdiff_t>(test::PathTableRecordOffset(h.bytes, 1)),
                       h.bytes.begin() + 19 * 2048, uint8_t{0});
             std::fill(h.bytes.begin() + kRoot * 2048, h.bytes.begin() + (kRoot + 1) * 2048, uint8_t{0});
         },
         IsoErrors::kIllegalHeader},
        {"root's path-table identifier not empty",
         [](Header& h) { h.bytes[test::PathTableRecordOffset(h.bytes, 0) + 8] = 'R'; }, IsoErrors::kFolderMissing},

        // Extents against the volume size.
        {"file extent ending one byte beyond the volume",
         [](Header& h) {
             const size_t record = test::RecordOffset(h.bytes, "/PSP_GAME/USRDIR/BGM02.AT3");
             const uint32_t start = test::GetLe32(h.bytes, record + 2);
             test::SetRecordSize(h.bytes, record, (h.shape.layout.volumeSectors - start) * 2048 + 1);
         },
         IsoErrors::kBeyondVolume},
        {"file at sector 0xFFFFFFFF (wraps in 32 bits)",
         [](Header& h) { test::SetRecordExtent(h.bytes, test::RecordOffset(h.bytes, "/UMD_DATA.BIN"), 0xFFFFFFFFu); },
         IsoErrors::kBeyondVolume},
        {"file of 0xFFFFFFFF bytes",
         [](Header& h) { test::SetRecordSize(h.bytes, test::RecordOffset(h.bytes, "/UMD_DATA.BIN"), 0xFFFFFFFFu); },
         IsoErrors::kBeyondVolume},
        {"'.' record longer than the volume",
         [](Header& h) { test::SetRecordSize(h.bytes, test::DotRecordOffset(h.bytes, "/PSP_GAME/USRDIR"), 0xFFFFF800u); },
         IsoErrors::kBeyondVolume},
        {"volume smaller than the header", [](Header& h) { test::SetVolumeSectors(h.bytes, kRoot); },
         IsoErrors::kBeyondVolume},

        // "." and ".." records.
        {"root's '.' record marked as a file",
         [](Header& h) { setAttribute(h.bytes, test::DotRecordOffset(h.bytes, "/"), 0x0D); }, IsoErrors::kNotAFolder},
        {"SYSDIR's '.' record marked as a file",
         [](Header& h) { setAttribute(h.bytes, test::DotRecordOffset(h.bytes, "/PSP_GAME/SYSDIR"), 0x0D); },
         IsoErrors::kNotAFolder},
        {"'.' record naming a sector that is no path-table directory",
         [](Header& h) { test::SetRecordExtent(h.bytes, test::DotRecordOffset(h.bytes, "/PSP_GAME/SYSDIR"), 30); },
         IsoErrors::kFolderMissing},
        {"'..' record naming a sector without a record",
         [](Header& h) { test::SetRecordExtent(h.bytes, test::DotDotRecordOffset(h.bytes, "/PSP_GAME/SYSDIR"), 30); },
         IsoErrors::kFolderMissing},
        {"directory that no record names",
         [](Header& h) {
             const size_t record = test::RecordOffset(h.bytes, "/PSP_GAME/INSDIR");
             test::SetRecordExtent(h.bytes, record, h.shape.file("/PSP_GAME/INSDIR/RES.DAT").startSector);
             setAttribute(h.bytes, record, 0x0D);
         },
         IsoErrors::kFolderMissing},
        {"directory at a lower sector than its parent", [](Header& h) { test::MoveDirectory(h.bytes, "/", kHeaderSectors); },
         IsoErrors::kFolderMissing},
        {"records before the directory's '.' record",
         [](Header& h) {
             const size_t dot = test::DotRecordOffset(h.bytes, "/PSP_GAME/SYSDIR");
             const size_t firstFile = test::DotDotRecordOffset(h.bytes, "/PSP_GAME/SYSDIR") + 48;
             std::fill(h.bytes.begin() + static_cast<ptrdiff_t>(dot), h.bytes.begin() + static_cast<ptrdiff_t>(firstFile),
                       uint8_t{0});
         },
         IsoErrors::kFolderMissing},

        // Reads that would leave the block.
        {"last directory's data length reaching past the block",
         [](Header& h) { test::SetRecordSize(h.bytes, test::DotRecordOffset(h.bytes, "/PSP_GAME/USRDIR"), 2 * 2048); },
         IsoErrors::kBadFolderOffset},
        {"middle directory's data length reaching past the block",
         [](Header& h) {
             test::SetRecordSize(h.bytes, test::DotRecordOffset(h.bytes, "/PSP_GAME/INSDIR"), (kHeaderSectors - kInsDir) * 2048 + 2);
         },
         IsoErrors::kBadFolderOffset},
        {"record with only its length bytes before the block's end",
         [](Header& h) { h.bytes[kBlockEnd - 2] = 48; }, IsoErrors::kBadFolderOffset},
        {"record whose fixed part runs past the block's end",
         [](Header& h) { putFileRecord(h.bytes, kBlockEnd - 20, 1, 30, 1); }, IsoErrors::kBadFolderOffset},
        {"record whose identifier runs past the block's end",
         [](Header& h) { putFileRecord(h.bytes, kBlockEnd - 36, 30, 30, 1); }, IsoErrors::kBadFolderOffset},
        {"record whose system-use field runs past the block's end",
         [](Header& h) { putFileRecord(h.bytes, kBlockEnd - 44, 1, 30, 1); }, IsoErrors::kBadFolderOffset},
    };

    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.name);
        Header h;
        c.damage(h);
        IsoIndex index;
        BuildExact(index, h.bytes);
        EXPECT_EQ(index.volume, nullptr);
        ASSERT_NE(index.errorText, nullptr);
        EXPECT_EQ(*index.errorText, c.expected)
            << "got " << ErrorOf(index) << ", expected " << IsoErrorTextUtf8(c.expected);
    }
}

// The other side of each boundary: accepted.
TEST(IsoIndexMalformed, BoundariesThatPass) {
    struct Case {
        const char* name;
        std::function<void(Header&)> change;
        std::function<void(const Header&, const IsoIndex&)> check;
    };
    const Case cases[] = {
        {"volume of 2^21 - 1 sectors", [](Header& h) { test::SetVolumeSectors(h.bytes, (1u << 21) - 1); },
         [](const Header&, const IsoIndex& index) { EXPECT_EQ(index.volume->volumeSectors, 2097151u); }},
        {"file extent ending exactly at the volume's end",
         [](Header& h) {
             const size_t record = test::RecordOffset(h.bytes, "/PSP_GAME/USRDIR/BGM02.AT3");
             const uint32_t start = test::GetLe32(h.bytes, record + 2);
             test::SetRecordSize(h.bytes, record, (h.shape.layout.volumeSectors - start) * 2048);
         },
         [](const Header& h, const IsoIndex& index) {
             const IsoFileRecord* r = index.find("/PSP_GAME/USRDIR/BGM02.AT3");
             ASSERT_NE(r, nullptr);
             EXPECT_EQ(uint64_t{r->startSector} * 2048 + r->size, uint64_t{h.shape.layout.volumeSectors} * 2048);
         }},
        {"record ending exactly at the block's end",
         [](Header& h) { putFileRecord(h.bytes, kBlockEnd - 48, 1, 30, 1); },
         [](const Header&, const IsoIndex& index) {
             const IsoFileRecord* r = index.find("/PSP_GAME/USRDIR/X");
             ASSERT_NE(r, nullptr);
             EXPECT_EQ(r->recordOffset, kBlockEnd - 48);
             EXPECT_EQ(index.volume->fileCount, 27u);
         }},
        {"path-table record ending exactly at the walked range's end",
         [](Header& h) {
             // Lists a blank system-area sector: walked, but it holds no records.
             const size_t at = kPathTableEnd - 10;
             h.bytes[at] = 2;
             test::PutLe32(h.bytes, at + 2, 5);
             h.bytes[at + 8] = 'Z';
             h.bytes[at + 9] = 'Z';
         },
         [](const Header&, const IsoIndex& index) {
             EXPECT_EQ(index.volume->directoryCount, 5u);
             EXPECT_EQ(index.volume->firstFreeSector, kHeaderSectors);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Header h;
        c.change(h);
        IsoIndex index;
        BuildExact(index, h.bytes);
        ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
        c.check(h, index);
    }
}

}  // namespace
}  // namespace tessaly
