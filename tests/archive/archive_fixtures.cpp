#include "archive_fixtures.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <sstream>

#include "archive/archive_writer.h"

namespace tessaly::test {

uint32_t GetU32At(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(at + 2)) << 16 | static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

void SetU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

FixtureTree FixtureTree::Leaf(std::string name, std::vector<uint8_t> bytes, uint32_t reserved) {
    FixtureTree t;
    t.name = std::move(name);
    t.bytes = std::move(bytes);
    t.reserved = reserved;
    return t;
}

FixtureTree FixtureTree::Archive(std::string name, std::vector<FixtureTree> members, uint32_t headerReserved,
                                 uint32_t nameWidth, uint32_t reserved) {
    FixtureTree t;
    t.name = std::move(name);
    t.isArchive = true;
    t.members = std::move(members);
    t.headerReserved = headerReserved;
    t.nameWidth = nameWidth;
    t.reserved = reserved;
    return t;
}

FixtureTree& FixtureTree::At(const std::vector<uint32_t>& path) {
    FixtureTree* node = this;
    for (uint32_t index : path) node = &node->members.at(index - 1);
    return *node;
}

std::vector<uint8_t> FixtureTree::Build() const {
    if (!isArchive) return bytes;
    std::vector<ArchiveMember> written;
    for (const FixtureTree& m : members) written.push_back({m.name, m.reserved, m.Build()});
    return WriteArchive(written, {headerReserved, nameWidth});
}

FixtureTree StandardTree() {
    using T = FixtureTree;
    T deep = T::Archive("deep", {T::Leaf("d1", PatternBytes(100, 41), 0xD1), T::Leaf("empty", {}, 0xD2),
                                 T::Leaf("d3", PatternBytes(2048, 43), 0xD3)},
                        0xDDDD0001, 0, 0x44);
    T inner = T::Archive("inner", {T::Leaf("x", PatternBytes(5000, 31), 0x31), deep, T::Leaf("y", PatternBytes(7, 33))},
                         0xCCCC0001, 16, 0x33);
    T pack = T::Archive("pack", {T::Leaf("readme", PatternBytes(10, 21), 0x21), inner,
                                 T::Leaf("tail", PatternBytes(4096, 23), 0x23)},
                        0xBBBB0001, 0, 0x22);
    return T::Archive("", {T::Leaf("alpha", PatternBytes(3000, 11), 0x11), pack, T::Leaf("gamma", PatternBytes(2048, 13))},
                      0xAAAA0001, 12);
}

std::vector<uint8_t> ReadAll(ArchiveNode& node, uint32_t chunk) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(chunk);
    for (;;) {
        // Whatever Read claims to deliver but does not write shows up as this pattern.
        std::fill(buffer.begin(), buffer.end(), 0xA5);
        const uint32_t got = node.Read(buffer.data(), chunk);
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        if (got < chunk) return out;
    }
}

const char* BackingName(Backing backing) {
    switch (backing) {
        case Backing::Memory: return "memory";
        case Backing::File: return "file";
        case Backing::Stream: return "stream";
    }
    return "?";
}

OpenedArchive::OpenedArchive(std::vector<uint8_t> bytes, Backing backing) : m_bytes(std::move(bytes)) {
    const auto size = static_cast<uint32_t>(m_bytes.size());
    switch (backing) {
        case Backing::Memory:
            m_root = std::make_unique<ArchiveNode>(m_bytes.data(), size, false);
            break;
        case Backing::File:
            m_dir = std::make_unique<TempDir>();
            WriteFileBytes(*m_dir / "archive.dat", m_bytes);
            m_root = std::make_unique<ArchiveNode>(*m_dir / "archive.dat", 0, size);
            break;
        case Backing::Stream:
            m_buffer = std::make_unique<SparseStreamBuf>(m_bytes.size(), 0, m_bytes);
            m_stream = std::make_unique<std::istream>(m_buffer.get());
            m_root = std::make_unique<ArchiveNode>(m_stream.get(), size);
            break;
    }
}

SparseStreamBuf::SparseStreamBuf(uint64_t length, uint64_t dataPosition, std::vector<uint8_t> data)
    : m_length(length), m_dataPosition(dataPosition), m_data(std::move(data)) {}

SparseStreamBuf::pos_type SparseStreamBuf::seekoff(off_type offset, std::ios_base::seekdir dir,
                                                   std::ios_base::openmode which) {
    const int64_t base = dir == std::ios_base::beg   ? 0
                         : dir == std::ios_base::cur ? static_cast<int64_t>(m_position)
                                                     : static_cast<int64_t>(m_length);
    return seekpos(pos_type(base + offset), which);
}

SparseStreamBuf::pos_type SparseStreamBuf::seekpos(pos_type position, std::ios_base::openmode) {
    if (static_cast<std::streamoff>(position) < 0) return pos_type(off_type(-1));
    m_position = static_cast<uint64_t>(static_cast<std::streamoff>(position));
    return position;
}

std::streamsize SparseStreamBuf::xsgetn(char* destination, std::streamsize count) {
    m_furthestRequested = std::max(m_furthestRequested, m_position + static_cast<uint64_t>(count));
    std::streamsize done = 0;
    while (done < count && m_position < m_length) {
        const bool inData = m_position >= m_dataPosition && m_position - m_dataPosition < m_data.size();
        destination[done++] = inData ? static_cast<char>(m_data[m_position - m_dataPosition]) : 0;
        ++m_position;
    }
    return done;
}

}  // namespace tessaly::test
