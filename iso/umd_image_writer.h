#pragma once
// Writes the leading sectors of a UMD-style ISO 9660 image: system area, primary volume
// descriptor, terminator, type-L/M path tables (each with its optional copy), and the directory
// records with CD-XA attributes, no version suffixes, no record crossing a sector.
// Sector map: 16 PVD, 17 terminator, then L, optional L, M, optional M, then the directories in
// path-table order (every directory after its parent).

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

struct UmdFile {
    std::string path;          // "/PSP_GAME/SYSDIR/EBOOT.BIN"
    uint32_t size = 0;         // bytes
    uint32_t startSector = 0;  // where its extent begins in the image
};

struct UmdLayout {
    std::vector<std::string> directories;  // besides the root; parents of files are added anyway
    std::vector<UmdFile> files;
    uint32_t volumeSectors = 0;            // 0: the end of the last file extent (at least the header)
    std::string volumeId = "TESSALY";
};

// Sectors the header takes: the first sector a file may start at.
uint32_t UmdHeaderSectors(const UmdLayout& layout);

// The header bytes, UmdHeaderSectors() × 2048 long.
std::vector<uint8_t> BuildUmdHeader(const UmdLayout& layout);

// The sectors a file of `size` bytes occupies (0 for an empty file).
inline uint32_t SectorsFor(uint64_t size) { return static_cast<uint32_t>((size + 2047) / 2048); }

}  // namespace tessaly
