#include "archive_model.h"

#include <stdexcept>

#include "archive/archive_writer.h"
#include "support/temp_dir.h"

namespace tessaly::test {

namespace {
constexpr uint32_t kNameFieldWidth = 20;
constexpr uint32_t kLargestLeaf = 9000;

ArchiveModel randomLevel(uint64_t& state, uint32_t level, uint32_t depth, uint32_t width) {
    std::vector<ArchiveModel> members;
    for (uint32_t k = 1; k <= width; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        std::string name(1, 'm');  // appended: GCC 12 warns falsely (-Wrestrict) on "m" + std::string
        name += std::to_string(level);
        name += '_';
        name += std::to_string(k);
        if (k == 2 && level < depth) {
            members.push_back(randomLevel(state, level + 1, depth, width));
            members.back().name = name;
        } else {
            const size_t size = k == 3 ? 0 : 1 + static_cast<size_t>((state >> 33) % kLargestLeaf);
            members.push_back(ArchiveModel::Leaf(name, PatternBytes(size, static_cast<uint32_t>(state >> 40))));
        }
    }
    ArchiveModel archive = ArchiveModel::Archive("", std::move(members));
    archive.headerReserved = 0x20060000u + level;
    return archive;
}
}  // namespace

ArchiveModel ArchiveModel::Leaf(std::string name, std::vector<uint8_t> contents) {
    ArchiveModel m;
    m.name = std::move(name);
    m.bytes = std::move(contents);
    return m;
}

ArchiveModel ArchiveModel::Archive(std::string name, std::vector<ArchiveModel> children) {
    ArchiveModel m;
    m.name = std::move(name);
    m.isArchive = true;
    m.members = std::move(children);
    return m;
}

ArchiveModel& ArchiveModel::At(const std::vector<uint32_t>& path) {
    ArchiveModel* node = this;
    for (uint32_t index : path) {
        if (!node->isArchive || index == 0 || index > node->members.size()) throw std::out_of_range("no such member");
        node = &node->members[index - 1];
    }
    return *node;
}

std::vector<uint8_t> ArchiveModel::Serialise() const {
    if (!isArchive) return bytes;
    std::vector<ArchiveMember> written;
    for (const ArchiveModel& m : members) written.push_back({m.name, 0, m.Serialise()});
    ArchiveWriteOptions options;
    options.headerReserved = headerReserved;
    options.nameFieldWidth = kNameFieldWidth;
    return WriteArchive(written, options);
}

ArchiveModel RandomArchive(uint64_t seed, uint32_t depth, uint32_t width) {
    uint64_t state = seed;
    return randomLevel(state, 1, depth, width);
}

}  // namespace tessaly::test
