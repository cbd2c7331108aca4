#pragma once
// Archives described in code and laid out by the archive writer, and a stream buffer that
// pretends to be a large image (for positions near 4 GiB and for images cut short).

#include <cstdint>
#include <limits>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "support/temp_dir.h"

namespace tessaly::test {

uint32_t GetU32At(const std::vector<uint8_t>& bytes, size_t at);
void SetU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value);

// One member: a leaf with `bytes`, or (isArchive) an archive of `members`.
struct FixtureTree {
    std::string name;
    uint32_t reserved = 0;
    std::vector<uint8_t> bytes;
    bool isArchive = false;
    std::vector<FixtureTree> members;
    uint32_t headerReserved = 0;
    uint32_t nameWidth = 0;

    static FixtureTree Leaf(std::string name, std::vector<uint8_t> bytes, uint32_t reserved = 0);
    static FixtureTree Archive(std::string name, std::vector<FixtureTree> members, uint32_t headerReserved = 0,
                               uint32_t nameWidth = 0, uint32_t reserved = 0);

    // The member at a path of 1-based indices.
    FixtureTree& At(const std::vector<uint32_t>& path);
    // The bytes the writer makes of it.
    std::vector<uint8_t> Build() const;
};

// A root with members nested four deep, a member of size 0, one of exactly 2048 bytes, names
// padded with spaces, and distinct reserved words:
//   1 alpha (leaf 3000)   2 pack { 1 readme (10)  2 inner { 1 x (5000)  2 deep { 1 d1 (100)
//   2 empty (0)  3 d3 (2048) }  3 y (7) }  3 tail (4096) }   3 gamma (2048)
FixtureTree StandardTree();

// Reads the node's serialised form to its end, `chunk` bytes per call.
std::vector<uint8_t> ReadAll(ArchiveNode& node, uint32_t chunk);

enum class Backing { Memory, File, Stream };
const char* BackingName(Backing backing);

// Opens a root over archive bytes in memory, in a temporary file, or in a string stream; keeps
// whatever the root reads from alive.
class OpenedArchive {
public:
    OpenedArchive(std::vector<uint8_t> bytes, Backing backing);
    ArchiveNode& root() { return *m_root; }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<std::istream> m_stream;
    std::unique_ptr<std::streambuf> m_buffer;
    std::unique_ptr<ArchiveNode> m_root;
};

// A read-only stream of `length` bytes holding `data` at `dataPosition` and zeros elsewhere, all
// without memory for the zeros. Reads stop at `length`: a length below an archive's size is an
// image cut short.
class SparseStreamBuf : public std::streambuf {
public:
    SparseStreamBuf(uint64_t length, uint64_t dataPosition, std::vector<uint8_t> data);
    // One past the furthest byte any read has asked for.
    uint64_t furthestRequested() const { return m_furthestRequested; }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
    std::streamsize xsgetn(char* destination, std::streamsize count) override;

private:
    uint64_t m_length;
    uint64_t m_dataPosition;
    std::vector<uint8_t> m_data;
    uint64_t m_position = 0;
    uint64_t m_furthestRequested = 0;
};

}  // namespace tessaly::test
