#include "package/patch_package.h"

#include <cstring>
#include <limits>
#include <new>
#include <string_view>

namespace tessaly {

namespace {

// A bounded reader over the package bytes: every read past the end marks the package corrupt.
class PackageReader {
public:
    PackageReader(const uint8_t* bytes, size_t length) : m_bytes(bytes), m_length(length) {}

    bool has(uint64_t count) const { return count <= m_length - m_position; }
    bool u32(uint32_t& out) {
        if (!has(4)) return false;
        const uint8_t* p = m_bytes + m_position;
        out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
              static_cast<uint32_t>(p[3]) << 24;
        m_position += 4;
        return true;
    }
    const uint8_t* take(uint64_t count) {
        if (!has(count)) return nullptr;
        const uint8_t* p = m_bytes + m_position;
        m_position += static_cast<size_t>(count);
        return p;
    }

private:
    const uint8_t* m_bytes;
    size_t m_length;
    size_t m_position = 0;
};

constexpr uint32_t kHeaderFields = 12;

}  // namespace

void PatchPackage::load(const uint8_t* bytes, size_t length) {
    release();
    corrupt = false;
    auto fail = [this] {
        corrupt = true;
        release();
    };

    PackageReader in(bytes, length);
    if (!in.u32(entryCount) || !in.u32(headerLength) || !in.u32(headerCrc)) return fail();
    const uint8_t* headerBytes = in.take(headerLength);
    if (headerBytes == nullptr) return fail();
    header.reset(new (std::nothrow) uint8_t[headerLength == 0 ? 1 : headerLength]);
    if (!header) return fail();
    std::memcpy(header.get(), headerBytes, headerLength);

    headerIndex = std::make_unique<IsoIndex>();
    headerIndex->build(header.get(), headerLength);
    if (!headerIndex->volume) return fail();

    // Each entry takes at least 21 bytes, so a count the bytes cannot hold is refused before the
    // table is allocated: a huge N never becomes a huge allocation.
    constexpr uint64_t kSmallestEntryBytes = 21;
    if (static_cast<uint64_t>(entryCount) * kSmallestEntryBytes > length - kHeaderFields - headerLength) return fail();
    entries.reset(new (std::nothrow) PatchEntry[static_cast<size_t>(entryCount) + 1]);
    if (!entries) return fail();

    PatchEntry& head = entries[0];
    head.imageOffset = 0;
    head.size = headerLength;
    head.mode = static_cast<uint32_t>(EntryMode::Stored);
    head.data = header.get();
    head.dataLength = headerLength;
    head.crc = headerCrc;

    if (entryCount == 0) return fail();

    uint32_t bootEntry = 0, ebootEntry = 0, ebootOldEntry = 0;
    for (uint32_t i = 1; i <= entryCount; ++i) {
        PatchEntry& e = entries[i];
        uint32_t pathLength = 0;
        if (!in.u32(pathLength)) return fail();
        const uint8_t* path = in.take(static_cast<uint64_t>(pathLength) + 1);
        if (path == nullptr) return fail();
        // The path must end with its zero byte inside the data; a path without it is refused.
        const void* terminator = std::memchr(path, 0, static_cast<size_t>(pathLength) + 1);
        if (terminator == nullptr) return fail();
        e.path = reinterpret_cast<const char*>(path);
        const std::string_view pathText(e.path);  // up to its first zero byte

        e.newRecord = headerIndex->find(pathText);
        if (e.newRecord == nullptr) return fail();
        if (!in.u32(e.size) || !in.u32(e.crc) || !in.u32(e.mode) || !in.u32(e.dataLength)) return fail();
        e.imageOffset = e.newRecord->startSector * kSectorBytes;
        if (e.size != e.newRecord->size) return fail();
        e.data = in.take(e.dataLength);
        if (e.data == nullptr) return fail();
        if (e.mode == static_cast<uint32_t>(EntryMode::Stored) && e.size != e.dataLength) return fail();

        // The same text the lookup used (up to the first zero byte): an entry linked to EBOOT.BIN's
        // record is the EBOOT.BIN entry, whatever follows its zero byte.
        if (pathText == kEbootPath) ebootEntry = i;
        else if (pathText == kBootPath) bootEntry = i;
        else if (pathText == kEbootOldPath) ebootOldEntry = i;
    }

    // Boot-file rule: BOOT.BIN becomes a second copy of EBOOT.OLD, or of EBOOT.BIN without it.
    if (bootEntry == 0 || ebootEntry == 0) return fail();
    const PatchEntry& source = entries[ebootOldEntry != 0 ? ebootOldEntry : ebootEntry];
    PatchEntry& boot = entries[bootEntry];
    boot.mode = source.mode;
    boot.data = source.data;
    boot.dataLength = source.dataLength;
    boot.crc = source.crc;
    boot.size = source.size;
}

void PatchPackage::releaseArchives() {
    if (!entries) return;
    for (uint32_t i = 0; i <= entryCount; ++i) entries[i].archive.reset();
}

void PatchPackage::release() {
    if (headerIndex) {
        headerIndex->clear();
        headerIndex.reset();
    }
    releaseArchives();
    entries.reset();
    header.reset();
}

}  // namespace tessaly
