#pragma once
// GPDA archives for the maker's tests as a tree of plain values: edit a member by its index path,
// then serialise by the layout rule (the project's archive writer).

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::test {

struct ArchiveModel {
    std::string name;
    std::vector<uint8_t> bytes;  // a leaf's contents
    bool isArchive = false;
    uint32_t headerReserved = 0;
    std::vector<ArchiveModel> members;

    static ArchiveModel Leaf(std::string name, std::vector<uint8_t> contents);
    static ArchiveModel Archive(std::string name, std::vector<ArchiveModel> members);

    // Member by 1-based indices, outermost first; the empty path is this archive.
    ArchiveModel& At(const std::vector<uint32_t>& path);
    std::vector<uint8_t> Serialise() const;
};

// Nested `depth` levels deep (the root is level 1), `width` members per archive; member 2 of
// every archive is the next level, member 3 is empty, the rest are leaves of seeded sizes.
ArchiveModel RandomArchive(uint64_t seed, uint32_t depth, uint32_t width);

}  // namespace tessaly::test
