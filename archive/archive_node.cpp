#include "archive/archive_node.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

#include "archive/archive_bytes.h"

namespace tessaly {

using archive_bytes::AlignUp;
using archive_bytes::GetU32;
using archive_bytes::PutU32;

namespace {

constexpr uint32_t kFieldArchiveSize = 4;
constexpr uint32_t kFieldMemberCount = 12;
constexpr uint32_t kTableEntryBytes = 16;
constexpr uint32_t kEntryOffset = 0;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kEntryNameOffset = 12;
constexpr uint32_t kNameLengthBytes = 4;
constexpr uint64_t kU32Limit = std::numeric_limits<uint32_t>::max();

// Seeks and reads through the stream buffer, so a short read never leaves the stream failed
// for the next member that shares it. What the stream cannot deliver becomes zeros: the output
// stays deterministic and the build's CRC check reports the damage.
void ReadStreamAt(std::istream& source, uint64_t position, uint8_t* destination, uint32_t count) {
    std::streambuf* buffer = source.rdbuf();
    uint32_t got = 0;
    if (buffer != nullptr &&
        buffer->pubseekpos(static_cast<std::streamoff>(position), std::ios::in) != std::streampos(-1)) {
        while (got < count) {
            const std::streamsize n =
                buffer->sgetn(reinterpret_cast<char*>(destination + got), static_cast<std::streamsize>(count - got));
            if (n <= 0) break;
            got += static_cast<uint32_t>(n);
        }
    }
    if (got < count) std::memset(destination + got, 0, count - got);
}

}  // namespace

// Shared by every node that one open or replacement parses: the bytes spent so far and one
// header window, reused because a node finishes with its window before its members parse.
struct ArchiveNode::ParseBudget {
    uint64_t spent = 0;
    std::vector<uint8_t> window;
};

// The stream every stream-backed node of one tree reads from. Every access seeks, since the
// nodes share the stream. Streaming small members one seek and read each would cost two system
// calls per member; those reads are served from one read-ahead block instead. Large pieces go
// straight into the caller's buffer. The read-ahead stops where the tree's bytes end: what lies
// beyond is none of the tree's business, and a small archive needs no 128 KiB block.
class ArchiveNode::StreamSource {
public:
    StreamSource(std::istream* stream, uint64_t base, uint32_t length)
        : m_stream(stream), m_end(base + length), m_cacheCapacity(std::min(kReadAheadBytes, length)) {}

    std::istream* stream() const { return m_stream; }

    void Read(uint64_t position, uint8_t* destination, uint32_t count, bool readAhead) {
        const uint64_t blockBytes = position < m_end ? std::min<uint64_t>(m_cacheCapacity, m_end - position) : 0;
        if (!readAhead || count >= kDirectReadBytes || count > blockBytes) {
            ReadStreamAt(*m_stream, position, destination, count);
            return;
        }
        const bool cached = position >= m_cacheStart && position - m_cacheStart + count <= m_cacheBytes;
        if (!cached) {
            if (m_cache.empty()) m_cache.resize(m_cacheCapacity);
            // A block the stream cannot fill reads as zeros, like any short read.
            ReadStreamAt(*m_stream, position, m_cache.data(), static_cast<uint32_t>(blockBytes));
            m_cacheStart = position;
            m_cacheBytes = blockBytes;
        }
        std::memcpy(destination, m_cache.data() + (position - m_cacheStart), count);
    }

private:
    static constexpr uint32_t kReadAheadBytes = 128 * 1024;
    static constexpr uint32_t kDirectReadBytes = kReadAheadBytes / 2;

    std::istream* m_stream;
    uint64_t m_end;
    uint32_t m_cacheCapacity;
    std::vector<uint8_t> m_cache;
    uint64_t m_cacheStart = 0;
    uint64_t m_cacheBytes = 0;
};

ArchiveNode::ArchiveNode(const std::filesystem::path& path, uint32_t start, uint32_t length) {
    OpenFile(path, start, length);
}

ArchiveNode::ArchiveNode(std::istream* source, uint32_t length) { OpenStream(source, length, false); }

ArchiveNode::ArchiveNode(const uint8_t* bytes, uint32_t length, bool copy) { OpenMemory(bytes, length, copy); }

ArchiveNode::~ArchiveNode() { Clear(); }

bool ArchiveNode::OpenFile(const std::filesystem::path& path, uint32_t start, uint32_t length) {
    Clear();
    DropStream();
    // A filesystem::path opens with the wide name on Windows, where libstdc++ opens with sharing
    // for reading and writing: the build job holds the same image open while the tree reads it.
    auto file = std::make_unique<std::ifstream>(path, std::ios::in | std::ios::binary);
    if (!file->is_open()) return false;
    const std::streamoff end = file->rdbuf()->pubseekoff(0, std::ios::end, std::ios::in);
    if (end < 0 || static_cast<uint64_t>(end) < start) return false;
    const auto available = static_cast<uint32_t>(std::min<uint64_t>(length, static_cast<uint64_t>(end) - start));
    if (OpenStreamAt(std::make_shared<StreamSource>(file.get(), start, available), start, available, false)) {
        m_ownedStream = std::move(file);
        ownsStream = true;
        return true;
    }
    // A structural error keeps the stream for reading the bytes as a leaf; a root has no one to
    // read it for, and the file must not stay open.
    Clear();
    DropStream();
    return false;
}

bool ArchiveNode::OpenStream(std::istream* source, uint32_t length, bool copy) {
    Clear();
    DropStream();
    if (source == nullptr || source->rdbuf() == nullptr) return false;
    const std::streamoff position = source->rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
    if (position < 0) return false;
    const auto base = static_cast<uint64_t>(position);
    return OpenStreamAt(std::make_shared<StreamSource>(source, base, length), base, length, copy);
}

bool ArchiveNode::OpenStreamAt(std::shared_ptr<StreamSource> source, uint64_t base, uint32_t length, bool copy) {
    Clear();
    memoryData = nullptr;
    size = length;
    copyData = copy;
    ownsStream = false;
    // Positions are u32 like the format's: an archive must lie in the first 4 GiB of its file.
    if (base > kU32Limit) {
        DropStream();
        return false;
    }
    stream = source->stream();
    m_source = std::move(source);
    streamBase = static_cast<uint32_t>(base);
    return Parse();
}

bool ArchiveNode::OpenMemory(const uint8_t* bytes, uint32_t length, bool copy) {
    Clear();
    DropStream();
    memoryData = bytes;
    size = length;
    streamBase = 0;
    copyData = copy;
    ownsStream = false;
    if (bytes == nullptr && length != 0) return false;
    return Parse();
}

void ArchiveNode::DropStream() {
    stream = nullptr;
    m_source.reset();
}

void ArchiveNode::Clear() {
    ownedBuffer.reset();
    memoryData = nullptr;
    children.reset();
    if (ownsStream) {
        DropStream();
        m_ownedStream.reset();
        ownsStream = false;
    }
    valid = false;
}

void ArchiveNode::Fill(uint32_t position, uint8_t* destination, uint32_t count, bool streaming) const {
    if (count == 0) return;
    if (memoryData != nullptr)
        std::memcpy(destination, memoryData + position, count);
    else if (m_source != nullptr)
        m_source->Read(uint64_t{streamBase} + position, destination, count, streaming);
    else
        std::memset(destination, 0, count);
}

bool ArchiveNode::Parse() {
    ParseBudget ownBudget;
    ParseBudget& budget = m_budget != nullptr ? *m_budget : ownBudget;
    children.reset();
    memberCount = 0;

    if (copyData) {
        auto copy = std::make_unique_for_overwrite<uint8_t[]>(size);
        Fill(0, copy.get(), size, false);
        ownedBuffer = std::move(copy);
        memoryData = ownedBuffer.get();
    }

    valid = true;
    if (size < 16 || m_depth >= kMaxNestingDepth || budget.spent >= kParseBudgetBytes) return true;

    // Memory-backed nodes are held to the same window as stream-backed ones, so the same bytes
    // parse the same way from the image and from the package.
    const uint32_t headerBytes = std::min(size, kHeaderWindowBytes);
    const uint8_t* header = memoryData;
    if (header == nullptr) {
        budget.window.resize(headerBytes);
        Fill(0, budget.window.data(), headerBytes, false);
        header = budget.window.data();
    }
    if (GetU32(header) != kMagic || GetU32(header + kFieldArchiveSize) > size) return true;

    if (!BuildChildren(header, headerBytes, budget)) {
        // Structural error: nothing below the node is kept, but its bytes stay reachable so an
        // invalid member is written out as the bytes it was opened over.
        children.reset();
        memberCount = 0;
        valid = false;
        return false;
    }
    OpenMembers(budget);
    return true;
}

// Checks the whole header before building anything: the member table inside both archiveSize
// and the header region, the header region inside the window, every member inside the node,
// every name record inside the window. Then creates the header pseudo-member and the (not yet
// opened) members with their names.
bool ArchiveNode::BuildChildren(const uint8_t* header, uint32_t headerBytes, ParseBudget& budget) {
    const uint32_t archiveSize = GetU32(header + kFieldArchiveSize);
    const uint32_t count = GetU32(header + kFieldMemberCount);
    const uint64_t tableEnd = kTableEntryBytes + uint64_t{kTableEntryBytes} * count;
    if (count > 0 && tableEnd > archiveSize) return false;
    // F: where member 1 starts; the header pseudo-member copies that much of the window.
    const uint64_t headerRegion = count == 0 ? kAlignment : GetU32(header + kTableEntryBytes + kEntryOffset);
    if (headerRegion > headerBytes || tableEnd > headerRegion) return false;

    uint64_t cost = headerRegion + (uint64_t{count} + 1) * (sizeof(ArchiveNode) + sizeof(children[0]));
    for (uint32_t k = 1; k <= count; ++k) {
        const uint8_t* entry = header + uint64_t{kTableEntryBytes} * k;
        const uint64_t memberOffset = GetU32(entry + kEntryOffset);
        const uint64_t memberEnd = memberOffset + GetU32(entry + kEntrySize);
        const uint64_t record = GetU32(entry + kEntryNameOffset);
        if (memberEnd > size) return false;
        if (memoryData == nullptr && streamBase + memberOffset > kU32Limit) return false;
        if (record > archiveSize || record + kNameLengthBytes > headerBytes) return false;
        const uint64_t nameLength = GetU32(header + record);
        if (record + kNameLengthBytes + nameLength > headerBytes) return false;
        cost += nameLength;
    }
    budget.spent += cost;

    children = std::make_unique<std::unique_ptr<ArchiveNode>[]>(uint64_t{count} + 1);
    memberCount = count;

    auto headerNode = std::make_unique<ArchiveNode>();
    headerNode->ownedBuffer = std::make_unique_for_overwrite<uint8_t[]>(headerRegion);
    std::memcpy(headerNode->ownedBuffer.get(), header, headerRegion);
    headerNode->memoryData = headerNode->ownedBuffer.get();
    headerNode->size = static_cast<uint32_t>(headerRegion);
    headerNode->copyData = true;
    headerNode->valid = true;
    children[0] = std::move(headerNode);

    for (uint32_t k = 1; k <= count; ++k) {
        const uint8_t* entry = header + uint64_t{kTableEntryBytes} * k;
        auto member = std::make_unique<ArchiveNode>();
        member->offset = GetU32(entry + kEntryOffset);
        member->size = GetU32(entry + kEntrySize);
        member->nameOffset = GetU32(entry + kEntryNameOffset);
        const uint8_t* record = header + member->nameOffset;
        std::string memberName(reinterpret_cast<const char*>(record + kNameLengthBytes), GetU32(record));
        while (!memberName.empty() && memberName.back() == ' ') memberName.pop_back();
        member->name = std::move(memberName);
        children[k] = std::move(member);
    }
    for (uint32_t j = 0; j <= count; ++j) {
        children[j]->parent = this;
        children[j]->indexInParent = j;
        children[j]->m_depth = m_depth + 1;
    }
    return true;
}

// Depth first, in index order; every member decides for itself whether it is an archive.
void ArchiveNode::OpenMembers(ParseBudget& budget) {
    for (uint32_t k = 1; k <= memberCount; ++k) {
        ArchiveNode& member = *children[k];
        const uint32_t memberOffset = member.offset;
        const uint32_t memberSize = member.size;
        member.m_budget = &budget;
        if (memoryData != nullptr)
            member.OpenMemory(memoryData + memberOffset, memberSize, false);
        else
            member.OpenStreamAt(m_source, uint64_t{streamBase} + memberOffset, memberSize, false);
        member.m_budget = nullptr;
    }
}

bool ArchiveNode::ReplaceMember(const uint32_t* pathBegin, const uint32_t* pathEnd, const uint8_t* bytes,
                                uint32_t length) {
    if (bytes == nullptr && length != 0) return false;
    ArchiveNode* node = this;
    for (const uint32_t* index = pathBegin; index != pathEnd; ++index) {
        if (*index == 0) return false;  // slot 0 is the header, never a member
        const uint32_t count = node->children ? node->memberCount : 0;
        if (*index > count) return false;
        node = node->children[*index].get();
        if (node == nullptr) return false;
    }
    node->Clear();
    node->DropStream();
    node->memoryData = bytes;
    node->size = length;
    node->streamBase = 0;
    node->copyData = false;
    node->ownsStream = false;
    return node->Parse();
}

bool ArchiveNode::Relayout() {
    if (!children) return true;
    ArchiveNode& header = *children[0];
    if (!header.ownedBuffer) return false;  // someone cleared the header copy: nothing to patch
    uint64_t end = header.size;
    for (uint32_t k = 1; k <= memberCount; ++k) {
        ArchiveNode& member = *children[k];
        if (!member.Relayout()) return false;
        member.offset = static_cast<uint32_t>(end);
        end = AlignUp(end + member.size, kAlignment);
        if (end > kU32Limit) return false;
        uint8_t* entry = header.ownedBuffer.get() + uint64_t{kTableEntryBytes} * k;
        PutU32(entry + kEntryOffset, member.offset);
        PutU32(entry + kEntrySize, member.size);
    }
    size = static_cast<uint32_t>(end);
    PutU32(header.ownedBuffer.get() + kFieldArchiveSize, size);
    return true;
}

bool ArchiveNode::RelayoutAndRewind() {
    const bool fits = Relayout();
    Rewind();
    return fits;
}

void ArchiveNode::Rewind() {
    readCursor = 0;
    currentChild = 0;
    if (!children) return;
    for (uint32_t j = 0; j <= memberCount; ++j) children[j]->Rewind();
}

uint32_t ArchiveNode::Read(uint8_t* destination, uint32_t count) {
    if (children) return ReadArchive(destination, count);
    const uint32_t n = std::min(count, size - std::min(readCursor, size));
    Fill(readCursor, destination, n, true);
    readCursor += n;
    return n;
}

uint32_t ArchiveNode::ReadArchive(uint8_t* destination, uint32_t count) {
    uint32_t total = 0;
    while (count > 0 && currentChild <= memberCount) {
        ArchiveNode& member = *children[currentChild];
        if (member.readCursor < member.size) {
            const uint32_t got = member.Read(destination, count);
            destination += got;
            count -= got;
            total += got;
            readCursor += got;
            if (got > 0) continue;
        }
        // The zeros between this member's end and the next member (or the archive's end).
        const uint64_t end = currentChild < memberCount ? children[currentChild + 1]->offset : size;
        const uint32_t gap = end > readCursor ? static_cast<uint32_t>(std::min<uint64_t>(end - readCursor, count)) : 0;
        if (gap > 0) {
            std::memset(destination, 0, gap);
            destination += gap;
            count -= gap;
            total += gap;
            readCursor += gap;
            continue;
        }
        ++currentChild;
    }
    return total;
}

}  // namespace tessaly
