#include "archive/archive_writer.h"

#include <algorithm>
#include <stdexcept>

#include "archive/archive_bytes.h"
#include "archive/archive_node.h"

namespace tessaly {

using archive_bytes::AlignUp;
using archive_bytes::PutU32;

namespace {

constexpr uint64_t kTableEntryBytes = 16;
constexpr uint64_t kNameLengthBytes = 4;
constexpr uint64_t kU32Limit = 0xFFFFFFFFu;

[[noreturn]] void TooLarge(const std::string& what, uint64_t value, uint64_t limit) {
    throw std::length_error("GPDA archive: " + what + " " + std::to_string(value) + " exceeds " +
                            std::to_string(limit));
}

}  // namespace

ArchiveLayout LayOutArchive(const std::vector<ArchiveMemberSpec>& members, const ArchiveWriteOptions& options) {
    const uint64_t count = members.size();
    std::vector<uint64_t> nameOffsets(members.size());
    uint64_t position = kTableEntryBytes + kTableEntryBytes * count;
    for (size_t i = 0; i < members.size(); ++i) {
        const uint64_t nameLength = members[i].name.size();
        if (options.nameFieldWidth != 0 && nameLength > options.nameFieldWidth)
            TooLarge("name length of member " + std::to_string(i + 1), nameLength, options.nameFieldWidth);
        nameOffsets[i] = position;
        position += kNameLengthBytes + std::max<uint64_t>(nameLength, options.nameFieldWidth);
    }
    const uint64_t headerRegion = AlignUp(position, ArchiveNode::kAlignment);
    if (headerRegion > ArchiveNode::kHeaderWindowBytes)
        TooLarge("header region", headerRegion, ArchiveNode::kHeaderWindowBytes);

    ArchiveLayout layout;
    layout.memberOffsets.resize(members.size());
    uint64_t end = headerRegion;
    for (size_t i = 0; i < members.size(); ++i) {
        const uint64_t start = i == 0 ? headerRegion : AlignUp(end, ArchiveNode::kAlignment);
        end = start + members[i].size;
        if (end > kU32Limit) TooLarge("end of member " + std::to_string(i + 1), end, kU32Limit);
        layout.memberOffsets[i] = static_cast<uint32_t>(start);
    }
    const uint64_t archiveSize = AlignUp(end, ArchiveNode::kAlignment);
    if (archiveSize > kU32Limit) TooLarge("archive size", archiveSize, kU32Limit);
    layout.archiveSize = static_cast<uint32_t>(archiveSize);

    std::vector<uint8_t>& header = layout.header;
    header.assign(headerRegion, 0);
    PutU32(header.data(), ArchiveNode::kMagic);
    PutU32(header.data() + 4, layout.archiveSize);
    PutU32(header.data() + 8, options.headerReserved);
    PutU32(header.data() + 12, static_cast<uint32_t>(count));
    for (size_t i = 0; i < members.size(); ++i) {
        uint8_t* entry = header.data() + kTableEntryBytes * (i + 1);
        PutU32(entry, layout.memberOffsets[i]);
        PutU32(entry + 4, members[i].reserved);
        PutU32(entry + 8, static_cast<uint32_t>(members[i].size));
        PutU32(entry + 12, static_cast<uint32_t>(nameOffsets[i]));
        uint8_t* record = header.data() + nameOffsets[i];
        const std::string& name = members[i].name;
        const uint64_t field = std::max<uint64_t>(name.size(), options.nameFieldWidth);
        PutU32(record, static_cast<uint32_t>(field));
        std::fill(record + kNameLengthBytes, record + kNameLengthBytes + field, static_cast<uint8_t>(' '));
        std::copy(name.begin(), name.end(), record + kNameLengthBytes);
    }
    return layout;
}

std::vector<uint8_t> WriteArchive(const std::vector<ArchiveMember>& members, const ArchiveWriteOptions& options) {
    std::vector<ArchiveMemberSpec> recipes;
    recipes.reserve(members.size());
    for (const ArchiveMember& m : members) recipes.push_back({m.name, m.reserved, m.bytes.size()});
    const ArchiveLayout layout = LayOutArchive(recipes, options);
    std::vector<uint8_t> out(layout.archiveSize, 0);
    std::copy(layout.header.begin(), layout.header.end(), out.begin());
    for (size_t i = 0; i < members.size(); ++i)
        std::copy(members[i].bytes.begin(), members[i].bytes.end(), out.begin() + layout.memberOffsets[i]);
    return out;
}

}  // namespace tessaly
