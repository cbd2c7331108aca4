#pragma once
// UMD-style images in memory for tests: header sectors from the project's writer plus file
// contents at their sectors, and helpers that find and damage single structures. The helpers
// locate records the way a general ISO 9660 reader does (by the record length byte and the
// primary volume descriptor's root record), not the way IsoIndex does, so they do not share its
// assumptions.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "iso/umd_image_writer.h"

namespace tessaly::test {

constexpr size_t kSector = 2048;
constexpr size_t kPvdOffset = 16 * kSector;
constexpr size_t kVolumeSizeField = kPvdOffset + 80;
constexpr size_t kPathTableLField = kPvdOffset + 140;
constexpr size_t kOptionalPathTableLField = kPvdOffset + 144;
constexpr size_t kRootRecordField = kPvdOffset + 156;

struct ImageFileSpec {
    std::string path;
    std::vector<uint8_t> contents;
    std::optional<uint32_t> startSector;  // default: right after the previous file (or the header)
};

struct ImageSpec {
    std::vector<std::string> directories;  // besides the root; parents of files are added anyway
    std::vector<ImageFileSpec> files;
    uint32_t volumeSectors = 0;            // 0: the end of the last extent
    uint64_t minimumBytes = 0;             // zero-padded to at least this length
    std::optional<uint64_t> exactBytes;    // cut or padded to exactly this length (after minimumBytes)
};

struct BuiltImage {
    std::vector<uint8_t> bytes;
    UmdLayout layout;  // with every file's start sector filled in
    uint32_t headerSectors = 0;

    const UmdFile& file(std::string_view path) const;
};

BuiltImage BuildImage(const ImageSpec& recipe);

// A small disc shaped like the target: /UMD_DATA.BIN (48 bytes, beginning with `productCode`),
// PSP_GAME with SYSDIR and USRDIR, a few files; longer than the 512 KiB that openImage reads.
ImageSpec SampleDiscSpec(std::string_view productCode);

// Little-endian and both-endian (ISO 9660 "both byte orders") fields.
uint32_t GetLe32(const std::vector<uint8_t>& image, size_t offset);
void PutLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
void PutBe32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
void PutBoth32(std::vector<uint8_t>& image, size_t offset, uint32_t value);

// Byte offset of the directory record that names `path` in its parent; for "/" the root's "."
// record. Throws std::runtime_error when the path is not there.
size_t RecordOffset(const std::vector<uint8_t>& image, std::string_view path);
// Every record of a directory ("." and ".." included), in order.
std::vector<size_t> DirectoryRecords(const std::vector<uint8_t>& image, std::string_view directoryPath);
// Byte offset of a directory's own "." record (the first record of its extent), and of its "..".
size_t DotRecordOffset(const std::vector<uint8_t>& image, std::string_view directoryPath);
size_t DotDotRecordOffset(const std::vector<uint8_t>& image, std::string_view directoryPath);
// Byte 4 of a record's CD-XA system-use field (the high byte of the attribute word).
size_t XaAttributeOffset(const std::vector<uint8_t>& image, size_t recordOffset);
// Byte offset of the index-th (0-based) record of the type-L path table.
size_t PathTableRecordOffset(const std::vector<uint8_t>& image, size_t index);

void SetVolumeSectors(std::vector<uint8_t>& image, uint32_t sectors);
void SetRecordExtent(std::vector<uint8_t>& image, size_t recordOffset, uint32_t sector);
void SetRecordSize(std::vector<uint8_t>& image, size_t recordOffset, uint32_t size);

// Moves a directory's extent to newSector (the image grows when needed) and rewrites every
// reference to it: its record in the parent (or the descriptor's root record), its "." record,
// the ".." records of its subdirectories, the four path tables and, when needed, the volume size.
void MoveDirectory(std::vector<uint8_t>& image, std::string_view directoryPath, uint32_t newSector);

}  // namespace tessaly::test
