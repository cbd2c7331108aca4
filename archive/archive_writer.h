#pragma once
// Writes GPDA archives by the layout rule: header, member table and name records in a header
// region rounded up to 2048 bytes; member 1 right after it, every later member at the next
// multiple of 2048 after its predecessor; archiveSize the end of the last member rounded up the
// same way; every other byte zero. A nested archive is a member whose bytes are an archive
// written first. Used by the demo-disc generator and the package maker.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

struct ArchiveWriteOptions {
    uint32_t headerReserved = 0;  // the header's reserved word
    uint32_t nameFieldWidth = 0;  // names padded with spaces to this many bytes; 0: no padding
};

// What the header needs to know of a member.
struct ArchiveMemberSpec {
    std::string name;
    uint32_t reserved = 0;  // the member-table entry's reserved word
    uint64_t size = 0;
};

struct ArchiveLayout {
    std::vector<uint8_t> header;          // the whole header region, zero padded
    std::vector<uint32_t> memberOffsets;  // one per member
    uint32_t archiveSize = 0;
};

// Throws std::length_error when the header region would exceed 32768 bytes, a name is longer
// than the field width, or a position does not fit 32 bits.
ArchiveLayout LayOutArchive(const std::vector<ArchiveMemberSpec>& members, const ArchiveWriteOptions& options = {});

struct ArchiveMember {
    std::string name;
    uint32_t reserved = 0;
    std::vector<uint8_t> bytes;
};

// The whole archive in memory; throws like LayOutArchive.
std::vector<uint8_t> WriteArchive(const std::vector<ArchiveMember>& members, const ArchiveWriteOptions& options = {});

}  // namespace tessaly
