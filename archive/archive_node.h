#pragma once
// One node of a GPDA archive tree: an archive or a member. The tree describes an archive without
// loading it: member bytes stay where they are (in a file, reached through a stream, or in
// memory); only each archive's header region (at most 32 KiB) is copied.
//
// Format (u32 little-endian): "GPDA", archiveSize, reserved, member count N, then N member-table
// entries of 16 bytes at 16*k: { offset, reserved, size, name offset }. A name record is
// { length L, L bytes padded with trailing spaces }. Offsets count from the archive's first byte.
//
// Bytes are an archive when there are at least 16, they begin with "GPDA" and archiveSize is
// not above their size; anything else is a valid leaf. An archive has a structural error (the
// node is invalid, with nothing below it) when its member table does not lie within both
// archiveSize and the header region F (member 1's offset, 2048 without members), F does not
// lie within the first min(size, 32 KiB) bytes, a member reaches past the node's end, or a name
// record does not lie within those first bytes or starts past archiveSize. Sizes are checked
// in 64 bits. An invalid member keeps the bytes it was opened over and is written out as them.

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <string>

namespace tessaly {

class ArchiveNode {
public:
    static constexpr uint32_t kMagic = 0x41445047;          // "GPDA" read little-endian
    static constexpr uint32_t kHeaderWindowBytes = 32768;   // the most of a member parsed or kept
    static constexpr uint32_t kAlignment = 2048;
    // Archives nest at most this many levels (the root is level 1); a member below that is kept
    // as a leaf, so crafted input cannot recurse without bound. Its bytes are still written out.
    static constexpr uint32_t kMaxNestingDepth = 64;
    // Members may overlap, so a crafted archive whose members contain it again grows a tree
    // exponentially within the depth limit. One open or replacement may spend this much on nodes
    // and header copies; members met after that are kept as leaves. The real archive needs a
    // few MiB.
    static constexpr uint64_t kParseBudgetBytes = uint64_t{128} << 20;

    ArchiveNode() = default;
    ArchiveNode(const std::filesystem::path& path, uint32_t offset, uint32_t size);
    ArchiveNode(std::istream* stream, uint32_t size);
    ArchiveNode(const uint8_t* bytes, uint32_t size, bool copyData);
    ArchiveNode(const ArchiveNode&) = delete;
    ArchiveNode& operator=(const ArchiveNode&) = delete;
    ~ArchiveNode();

    // The file stays open, shared for reading and writing by other handles, until Clear.
    bool OpenFile(const std::filesystem::path& path, uint32_t offset, uint32_t size);
    // Starts at the stream's current position; the caller keeps the stream.
    bool OpenStream(std::istream* stream, uint32_t size, bool copyData);
    bool OpenMemory(const uint8_t* bytes, uint32_t size, bool copyData);
    // Releases what the node owns and marks it invalid; name, offsets and sizes stay.
    void Clear();

    // Gives the member at the index path new contents (by reference; they must outlive the tree).
    bool ReplaceMember(const uint32_t* pathBegin, const uint32_t* pathEnd, const uint8_t* bytes, uint32_t length);
    // Recomputes offsets and sizes by the layout rule; false when a size would not fit in 32 bits.
    bool Relayout();
    bool RelayoutAndRewind();
    // Next min(count, bytes left) bytes of the node's serialised form, after RelayoutAndRewind.
    // Bytes a short stream cannot deliver come out as zeros.
    uint32_t Read(uint8_t* destination, uint32_t count);

    bool IsArchive() const { return children != nullptr; }
    ArchiveNode* Child(uint32_t slot) const { return children && slot <= memberCount ? children[slot].get() : nullptr; }

    std::string name;
    uint32_t indexInParent = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t nameOffset = 0;
    bool ownsStream = false;
    bool copyData = false;
    const uint8_t* memoryData = nullptr;
    std::unique_ptr<uint8_t[]> ownedBuffer;
    std::istream* stream = nullptr;
    uint32_t streamBase = 0;
    std::unique_ptr<std::unique_ptr<ArchiveNode>[]> children;  // memberCount + 1 slots; slot 0 the header
    uint32_t memberCount = 0;
    bool valid = false;
    ArchiveNode* parent = nullptr;
    uint32_t readCursor = 0;
    uint32_t currentChild = 0;

private:
    struct ParseBudget;
    class StreamSource;

    bool Parse();
    bool OpenStreamAt(std::shared_ptr<StreamSource> source, uint64_t base, uint32_t length, bool copy);
    bool BuildChildren(const uint8_t* header, uint32_t headerBytes, ParseBudget& budget);
    void OpenMembers(ParseBudget& budget);
    void Fill(uint32_t position, uint8_t* destination, uint32_t count, bool streaming) const;
    void DropStream();
    uint32_t ReadArchive(uint8_t* destination, uint32_t count);
    void Rewind();

    uint32_t m_depth = 0;                         // archives above this node
    ParseBudget* m_budget = nullptr;              // set by the parent while it opens this member
    std::shared_ptr<StreamSource> m_source;       // how `stream` is read; shared by the whole tree
    std::unique_ptr<std::istream> m_ownedStream;  // the file of a root opened with OpenFile
};

}  // namespace tessaly
