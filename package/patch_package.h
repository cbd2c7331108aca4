#pragma once
// The patch package: the new image's leading sectors (indexed as its directory) and one entry
// per file saying where its contents come from: stored (mode 0), copied from the user's image
// (mode 1), or the user's archive rebuilt with members replaced (mode 2).
//
// Bytes (all integers u32 little-endian): N, H, header CRC, H header bytes, then N entries of
// { path length L, path + NUL, size, CRC, mode, stored length S, S stored bytes }.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/archive_node.h"
#include "iso/iso_index.h"

namespace tessaly {

class CFile;

enum class EntryMode : uint32_t { Stored = 0, Copied = 1, Archive = 2 };

struct PatchEntry {
    const IsoFileRecord* newRecord = nullptr;  // the file in the header's directory; null for entry 0
    uint32_t crc = 0;
    const char* path = nullptr;  // inside the package bytes, zero-terminated; null for entry 0
    uint32_t mode = 0;
    CFile* sourceFile = nullptr;  // set by the build job for mode 1
    uint32_t sourceOffset = 0;    // set by the build job for mode 1
    uint32_t dataLength = 0;
    const uint8_t* data = nullptr;  // stored contents (mode 0) or archive patch records (mode 2)
    std::unique_ptr<ArchiveNode> archive;  // mode 2: the rebuilt tree, from the job's layout until released
    uint32_t imageOffset = 0;
    uint32_t size = 0;
};

class PatchPackage {
public:
    static constexpr const char* kBootPath = "/PSP_GAME/SYSDIR/BOOT.BIN";
    static constexpr const char* kEbootPath = "/PSP_GAME/SYSDIR/EBOOT.BIN";
    static constexpr const char* kEbootOldPath = "/PSP_GAME/SYSDIR/EBOOT.OLD";

    PatchPackage() = default;
    PatchPackage(const PatchPackage&) = delete;
    PatchPackage& operator=(const PatchPackage&) = delete;
    ~PatchPackage() { release(); }

    // Fills a fresh package from `length` bytes; never reads past them. On any fault the package
    // is released and corrupt is set. The bytes must outlive the package (paths and data point in).
    void load(const uint8_t* bytes, size_t length);

    // Frees the index, every archive tree, the entry table and the header copy. Idempotent.
    void release();

    // Releases the archive trees that a build left in mode-2 entries.
    void releaseArchives();

    bool corrupt = false;
    std::unique_ptr<IsoIndex> headerIndex;
    std::unique_ptr<uint8_t[]> header;  // writable copy; the build job patches it
    uint32_t headerLength = 0;
    uint32_t headerCrc = 0;
    uint32_t entryCount = 0;
    std::unique_ptr<PatchEntry[]> entries;  // entryCount + 1 entries; entry 0 is the header
};

}  // namespace tessaly
