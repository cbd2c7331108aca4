#pragma once
// Patch package bytes for tests, written from the format's description (not with the project's
// own package writer): N, H, header CRC, header, then per entry
// { L, path + NUL, size, CRC, mode, S, S stored bytes }, integers u32 little-endian.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "iso/umd_image_writer.h"

namespace tessaly::test {

struct PackageEntrySpec {
    std::string path;  // written as L bytes plus a zero byte; may itself hold zero bytes
    uint32_t size = 0;
    uint32_t crc = 0;
    uint32_t mode = 0;
    std::vector<uint8_t> stored;
};

struct PackageSpec {
    std::vector<uint8_t> header;
    std::vector<PackageEntrySpec> entries;
};

// Where each field of an entry lies in the encoded bytes.
struct EntryOffsets {
    size_t pathLength = 0;
    size_t path = 0;
    size_t terminator = 0;  // the zero byte after the path
    size_t size = 0;
    size_t crc = 0;
    size_t mode = 0;
    size_t storedLength = 0;
    size_t stored = 0;
    size_t end = 0;
};

struct EncodedPackage {
    std::vector<uint8_t> bytes;
    uint32_t headerCrc = 0;
    std::vector<EntryOffsets> entries;
};

constexpr size_t kPackageCountField = 0;
constexpr size_t kPackageHeaderLengthField = 4;
constexpr size_t kPackageHeaderCrcField = 8;
constexpr size_t kPackageHeaderStart = 12;

EncodedPackage EncodePackage(const PackageSpec& recipe);

// Standard reflected CRC-32, bit by bit: independent of the product's table and fast path.
uint32_t ReferenceCrc32(const uint8_t* data, size_t length);
inline uint32_t ReferenceCrc32(const std::vector<uint8_t>& data) { return ReferenceCrc32(data.data(), data.size()); }

// A package shaped like the shipped one, with small files: 5 directories (root, PSP_GAME, INSDIR,
// SYSDIR, USRDIR) in a 27-sector header, 26 entries laid out back to back from sector 27 in
// package order, /UMD_DATA.BIN first (48 bytes), 15 entries in mode 0 (EBOOT.BIN and
// /PSP_GAME/USRDIR/fonts.pgf among them), 10 in mode 1 (BOOT.BIN among them, listed with its own
// size, which differs from EBOOT.BIN's), 1 in mode 2 (/PSP_GAME/INSDIR/RES.DAT).
// withEbootOld adds a mode-0 /PSP_GAME/SYSDIR/EBOOT.OLD as a 27th entry.
struct ShippedShape {
    PackageSpec recipe;
    UmdLayout layout;  // the header's layout: every file's start sector and size
    uint32_t headerSectors = 0;

    // Index of an entry in recipe.entries (the loader's entry number is this + 1).
    size_t indexOf(std::string_view path) const;
    const PackageEntrySpec& entry(std::string_view path) const { return recipe.entries[indexOf(path)]; }
    const UmdFile& file(std::string_view path) const;
};

ShippedShape ShippedShapePackage(bool withEbootOld = false);

}  // namespace tessaly::test
