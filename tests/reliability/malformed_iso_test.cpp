// The ISO 9660 index against the known bug classes of ISO readers. Each row damages one thing in
// a small valid header and states the defined outcome: a failure text, or an index with a stated
// property. Blocks are exactly sized, so AddressSanitizer reports any read outside them.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "support/exact_bytes.h"
#include "support/image_builder.h"

namespace tessaly {
namespace {

using Bytes = std::vector<uint8_t>;

// Root 22, PSP_GAME 23, SYSDIR 24, USRDIR 25 (the block's last sector); path table at 18 and its
// optional copy at 19, so the walked path-table range is sector 18.
UmdLayout smallLayout() {
    UmdLayout layout;
    layout.files = {{"/UMD_DATA.BIN", 48, 26},
                    {"/PSP_GAME/SYSDIR/BOOT.BIN", 5000, 27},
                    {"/PSP_GAME/SYSDIR/EBOOT.BIN", 6100, 30},
                    {"/PSP_GAME/USRDIR/DATA.BIN", 4096, 33}};
    layout.volumeSectors = 35;
    return layout;
}

constexpr uint32_t kRoot = 22, kPspGame = 23, kSysDir = 24, kUsrDir = 25, kHeaderSectors = 26;
constexpr size_t kBlockEnd = size_t{kHeaderSectors} * 2048;

size_t record(const Bytes& b, const char* path) { return test::RecordOffset(b, path); }

// A file record with an identifier of `identifierLength` X's at `at`.
void putFileRecord(Bytes& b, size_t at, uint8_t identifierLength) {
    const size_t padding = identifierLength % 2 == 0 ? 1 : 0;
    Bytes r(33 + identifierLength + padding + 14, 0);
    r[0] = static_cast<uint8_t>(r.size());
    test::PutBoth32(r, 2, 30);
    test::PutBoth32(r, 10, 1);
    r[32] = identifierLength;
    std::fill(r.begin() + 33, r.begin() + 33 + identifierLength, uint8_t{'X'});
    r[33 + identifierLength + padding + 4] = 0x0D;
    for (size_t i = 0; i < r.size() && at + i < b.size(); ++i) b[at + i] = r[i];
}

// Turns a file record into a directory record that points at `sector` (one sector long).
void pointDirectoryAt(Bytes& b, size_t at, uint32_t sector) {
    test::SetRecordExtent(b, at, sector);
    test::SetRecordSize(b, at, 2048);
    b[at + 25] = 0x02;
    b[test::XaAttributeOffset(b, at)] = 0x8D;
}

void expectBootAndEbootFound(const IsoIndex& index) {
    const IsoFileRecord* boot = index.find("/PSP_GAME/SYSDIR/BOOT.BIN");
    const IsoFileRecord* eboot = index.find("/PSP_GAME/SYSDIR/EBOOT.BIN");
    ASSERT_NE(boot, nullptr);
    ASSERT_NE(eboot, nullptr);
    EXPECT_EQ(boot->startSector, 27u);
    EXPECT_EQ(eboot->startSector, 30u);
    EXPECT_EQ(eboot->size, 6100u);
}

// A directory record that names an ancestor (or its own directory) is a record like any other:
// the index never follows records, so nothing loops and nothing is listed below it.
void expectNamedButNotWalked(const IsoIndex& index, uint32_t sector) {
    const IsoFileRecord* loop = index.find("/PSP_GAME/SYSDIR/BOOT.BIN");
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->type, IsoFileRecord::Directory);
    EXPECT_EQ(loop->startSector, sector);
    EXPECT_TRUE(loop->children.empty());
    EXPECT_EQ(index.find("/PSP_GAME/SYSDIR/BOOT.BIN/EBOOT.BIN"), nullptr);
    EXPECT_EQ(index.find("/PSP_GAME/SYSDIR/BOOT.BIN/SYSDIR"), nullptr);
    EXPECT_EQ(index.volume->directoryCount, 5u);
}

struct IsoRow {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* error;                               // the failure text; null when the index builds
    std::function<void(const IsoIndex&)> check = {};  // what a built index must show
};

TEST(MalformedIso, EveryRowGivesItsDefinedOutcome) {
    const IsoRow rows[] = {
        // Record lengths: only the padding test reads the length byte, so a wrong one neither
        // desynchronises the walk nor drops the next record.
        {"record length 0 (extended-attribute byte set)",
         [](Bytes& b) {
             const size_t boot = record(b, "/PSP_GAME/SYSDIR/BOOT.BIN");
             b[boot] = 0;
             b[boot + 1] = 1;
         },
         nullptr, expectBootAndEbootFound},
        {"record length 1", [](Bytes& b) { b[record(b, "/PSP_GAME/SYSDIR/BOOT.BIN")] = 1; }, nullptr,
         expectBootAndEbootFound},
        {"record length shorter than its fixed part and identifier",
         [](Bytes& b) { b[record(b, "/PSP_GAME/SYSDIR/BOOT.BIN")] = 33 + 8 - 1; }, nullptr, expectBootAndEbootFound},
        {"record length 255, longer than the record",
         [](Bytes& b) { b[record(b, "/PSP_GAME/SYSDIR/BOOT.BIN")] = 255; }, nullptr, expectBootAndEbootFound},

        // Reads at the block's end.
        {"length byte in the last byte of the block's last sector",
         [](Bytes& b) { b[kBlockEnd - 1] = 48; }, IsoErrors::kBadFolderOffset},
        {"record whose identifier crosses the end of the block",
         [](Bytes& b) { putFileRecord(b, kBlockEnd - 40, 30); }, IsoErrors::kBadFolderOffset},
        {"record whose system-use field crosses the end of the block",
         [](Bytes& b) { putFileRecord(b, kBlockEnd - 46, 1); }, IsoErrors::kBadFolderOffset},
        {"record ending exactly at the block's end", [](Bytes& b) { putFileRecord(b, kBlockEnd - 48, 1); }, nullptr,
         [](const IsoIndex& index) {
             const IsoFileRecord* x = index.find("/PSP_GAME/USRDIR/X");
             ASSERT_NE(x, nullptr);
             EXPECT_EQ(x->recordOffset, kBlockEnd - 48);
         }},
        {"identifier length 0 with a non-zero padding byte: a file with an empty name, not reachable by path",
         [](Bytes& b) {
             putFileRecord(b, kBlockEnd - 48, 1);
             b[kBlockEnd - 48 + 32] = 0;    // identifier length
             b[kBlockEnd - 48 + 33] = 'A';  // the padding byte, read as the identifier's first byte
         },
         nullptr,
         [](const IsoIndex& index) {
             const IsoFileRecord* usrdir = index.find("/PSP_GAME/USRDIR");
             ASSERT_EQ(usrdir->children.count(""), 1u);
             EXPECT_EQ(usrdir->children.at("")->recordOffset, kBlockEnd - 48);
             EXPECT_EQ(index.find("/PSP_GAME/USRDIR/"), usrdir);
             EXPECT_EQ(index.volume->fileCount, 5u);
         }},
        {"directory whose data length reaches past the block",
         [](Bytes& b) { test::SetRecordSize(b, test::DotRecordOffset(b, "/PSP_GAME/USRDIR"), 2 * 2048); },
         IsoErrors::kBadFolderOffset},
        {"path-table directory in the sector after the block",
         [](Bytes& b) { test::PutLe32(b, test::PathTableRecordOffset(b, 3) + 2, kHeaderSectors); },
         IsoErrors::kBadFolderOffset},

        // Extents and sizes against the volume, in 64 bits.
        {"extent ending one byte beyond the volume",
         [](Bytes& b) { test::SetRecordSize(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 2 * 2048 + 1); },
         IsoErrors::kBeyondVolume},
        {"extent ending exactly at the volume's end",
         [](Bytes& b) { test::SetRecordSize(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 2 * 2048); }, nullptr,
         [](const IsoIndex& index) { EXPECT_EQ(index.find("/PSP_GAME/USRDIR/DATA.BIN")->size, 4096u); }},
        {"size 0xFFFFFFFF",
         [](Bytes& b) { test::SetRecordSize(b, record(b, "/UMD_DATA.BIN"), 0xFFFFFFFFu); }, IsoErrors::kBeyondVolume},
        {"extent at sector 2^21, whose byte offset wraps to 0 in 32 bits",
         [](Bytes& b) {
             test::SetRecordExtent(b, record(b, "/UMD_DATA.BIN"), 1u << 21);
             test::SetRecordSize(b, record(b, "/UMD_DATA.BIN"), 0);
         },
         IsoErrors::kBeyondVolume},
        {"volume of 2^21 - 1 sectors, file of 0xFFFFF800 bytes from sector 0: ends at the volume's end",
         [](Bytes& b) {
             test::SetVolumeSectors(b, (1u << 21) - 1);
             test::SetRecordExtent(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 0);
             test::SetRecordSize(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 0xFFFFF800u);
         },
         nullptr,
         [](const IsoIndex& index) {
             EXPECT_EQ(index.volume->volumeSectors, 2097151u);
             EXPECT_EQ(index.find("/PSP_GAME/USRDIR/DATA.BIN")->size, 0xFFFFF800u);
             EXPECT_EQ(index.volume->firstFreeSector, kHeaderSectors);
         }},
        {"same volume, file of 0xFFFFF801 bytes: its last sector rounds up past 2^32",
         [](Bytes& b) {
             test::SetVolumeSectors(b, (1u << 21) - 1);
             test::SetRecordExtent(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 0);
             test::SetRecordSize(b, record(b, "/PSP_GAME/USRDIR/DATA.BIN"), 0xFFFFF801u);
         },
         IsoErrors::kBeyondVolume},
        {"directory data length 0xFFFFFFFF",
         [](Bytes& b) { test::SetRecordSize(b, test::DotRecordOffset(b, "/PSP_GAME/SYSDIR"), 0xFFFFFFFFu); },
         IsoErrors::kBeyondVolume},
        {"volume of 2^21 sectors", [](Bytes& b) { test::SetVolumeSectors(b, 1u << 21); }, IsoErrors::kVolumeTooLarge},

        // The directory hierarchy.
        {"path table listing SYSDIR twice",
         [](Bytes& b) { test::PutLe32(b, test::PathTableRecordOffset(b, 3) + 2, kSysDir); },
         IsoErrors::kFolderLinkedTwice},
        {"path table listing the root twice",
         [](Bytes& b) { test::PutLe32(b, test::PathTableRecordOffset(b, 1) + 2, kRoot); },
         IsoErrors::kFolderLinkedTwice},
        {"directory record naming its own directory",
         [](Bytes& b) { pointDirectoryAt(b, record(b, "/PSP_GAME/SYSDIR/BOOT.BIN"), kSysDir); }, nullptr,
         [](const IsoIndex& index) { expectNamedButNotWalked(index, kSysDir); }},
        {"directory record naming its parent",
         [](Bytes& b) { pointDirectoryAt(b, record(b, "/PSP_GAME/SYSDIR/BOOT.BIN"), kPspGame); }, nullptr,
         [](const IsoIndex& index) { expectNamedButNotWalked(index, kPspGame); }},
        {"directory record naming its grandparent (the root)",
         [](Bytes& b) { pointDirectoryAt(b, record(b, "/PSP_GAME/SYSDIR/BOOT.BIN"), kRoot); }, nullptr,
         [](const IsoIndex& index) { expectNamedButNotWalked(index, kRoot); }},
        {"'.' record naming the parent: the directory's records are filed under the parent",
         [](Bytes& b) { test::SetRecordExtent(b, test::DotRecordOffset(b, "/PSP_GAME/SYSDIR"), kPspGame); }, nullptr,
         [](const IsoIndex& index) {
             EXPECT_NE(index.find("/PSP_GAME/EBOOT.BIN"), nullptr);
             EXPECT_EQ(index.find("/PSP_GAME/SYSDIR/EBOOT.BIN"), nullptr);
             EXPECT_TRUE(index.find("/PSP_GAME/SYSDIR")->children.empty());
         }},
        {"'..' record naming its own directory",
         [](Bytes& b) { test::SetRecordExtent(b, test::DotDotRecordOffset(b, "/PSP_GAME/SYSDIR"), kSysDir); }, nullptr,
         expectBootAndEbootFound},
        {"'..' record naming a sector without a record",
         [](Bytes& b) { test::SetRecordExtent(b, test::DotDotRecordOffset(b, "/PSP_GAME/SYSDIR"), 34); },
         IsoErrors::kFolderMissing},
        {"records before the directory's '.' record",
         [](Bytes& b) {
             const size_t dot = test::DotRecordOffset(b, "/PSP_GAME/SYSDIR");
             std::fill(b.begin() + static_cast<ptrdiff_t>(dot), b.begin() + static_cast<ptrdiff_t>(dot + b[dot]), uint8_t{0});
         },
         IsoErrors::kFolderMissing},
        {"directory at a lower sector than its parent", [](Bytes& b) { test::MoveDirectory(b, "/", kHeaderSectors); },
         IsoErrors::kFolderMissing},
    };

    const Bytes valid = BuildUmdHeader(smallLayout());
    ASSERT_EQ(valid.size(), kBlockEnd);
    ASSERT_EQ(test::DotRecordOffset(valid, "/PSP_GAME/USRDIR"), size_t{kUsrDir} * 2048);
    for (const IsoRow& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bytes = valid;
        row.damage(bytes);
        const test::ExactBytes block(bytes);
        IsoIndex index;
        index.build(block.data(), block.size());
        if (row.error != nullptr) {
            EXPECT_EQ(index.volume, nullptr);
            ASSERT_NE(index.errorText, nullptr);
            EXPECT_EQ(*index.errorText, row.error)
                << "got " << IsoErrorTextUtf8(*index.errorText) << ", expected " << IsoErrorTextUtf8(row.error);
        } else {
            ASSERT_NE(index.volume, nullptr) << IsoErrorTextUtf8(index.errorText ? *index.errorText : "");
            EXPECT_EQ(index.errorText, nullptr);
            row.check(index);
        }
    }
}

}  // namespace
}  // namespace tessaly
