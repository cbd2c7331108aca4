#include "maker/archive_diff.h"

#include <algorithm>
#include <cstring>

#include "archive/archive_bytes.h"

namespace tessaly::maker {

namespace {

using archive_bytes::AlignUp;
using archive_bytes::GetU32;

constexpr uint32_t kArchiveSizeField = 4;
constexpr uint32_t kTableEntryBytes = 16;
constexpr uint32_t kEntrySizeField = 8;
constexpr uint64_t kRecordFixedBytes = 8;  // contentLength and depth
constexpr uint64_t kPathIndexBytes = 4;

std::string describe(const std::vector<uint32_t>& path) {
    if (path.empty()) return "the archive";
    std::string text = "member ";
    for (size_t i = 0; i < path.size(); ++i) {
        if (i > 0) text += '/';
        text += std::to_string(path[i]);
    }
    return text;
}

uint64_t recordCost(size_t depth, uint64_t contentLength) {
    return kRecordFixedBytes + kPathIndexBytes * depth + contentLength;
}

class Differ {
public:
    Differ(const ArchiveSide& original, const ArchiveSide& translated)
        : m_originalFile(original.file), m_translatedFile(translated.file) {}

    // Whether the translated tree is what the build job's relayout would make of it.
    bool Conforms(const ArchiveNode& node, std::vector<uint32_t>& path, std::string& why) {
        if (!node.valid) {
            why = describe(path) + " is a GPDA archive with a structural error";
            return false;
        }
        if (!node.IsArchive()) return true;
        const ArchiveNode& header = *node.Child(0);
        uint64_t end = header.size;
        for (uint32_t k = 1; k <= node.memberCount; ++k) {
            const ArchiveNode& member = *node.Child(k);
            path.push_back(k);
            if (!Conforms(member, path, why)) return false;
            if (member.offset != end) {
                why = describe(path) + " starts at byte " + std::to_string(member.offset) +
                      "; the relayout puts it at " + std::to_string(end);
                return false;
            }
            path.pop_back();
            const uint64_t memberEnd = end + member.size;
            end = AlignUp(memberEnd, ArchiveNode::kAlignment);
            if (!zeroBetween(node, m_translatedFile, memberEnd, std::min<uint64_t>(end, node.size))) {
                why = describe(path) + " has bytes other than zero after its member " + std::to_string(k);
                return false;
            }
        }
        if (node.size != end || GetU32(header.memoryData + kArchiveSizeField) != end) {
            why = describe(path) + " is " + std::to_string(node.size) + " bytes (archiveSize " +
                  std::to_string(GetU32(header.memoryData + kArchiveSizeField)) + "); the relayout makes it " +
                  std::to_string(end);
            return false;
        }
        return true;
    }

    // Appends the records for one node pair, in ascending order of their member paths.
    void Diff(const ArchiveNode& original, const ArchiveNode& translated, std::vector<uint32_t>& path,
              std::vector<ArchivePatchInput>& out) {
        if (original.IsArchive() && translated.IsArchive() && original.memberCount == translated.memberCount &&
            sameHeader(original, translated)) {
            for (uint32_t k = 1; k <= translated.memberCount; ++k) {
                path.push_back(k);
                Diff(*original.Child(k), *translated.Child(k), path, out);
                path.pop_back();
            }
            return;
        }
        if (!original.IsArchive() && !translated.IsArchive() && original.size == translated.size &&
            sameBytes(original, translated))
            return;
        replace(translated, path, out);
    }

private:
    void replace(const ArchiveNode& translated, const std::vector<uint32_t>& path,
                 std::vector<ArchivePatchInput>& out) {
        ArchivePatchInput record;
        record.memberPath = path;
        record.content.resize(translated.size);
        read(translated, m_translatedFile, 0, record.content.data(), translated.size);
        out.push_back(std::move(record));
    }

    // The header regions agree except where the relayout writes: archiveSize and each member's
    // offset and size.
    static bool sameHeader(const ArchiveNode& original, const ArchiveNode& translated) {
        const ArchiveNode& a = *original.Child(0);
        const ArchiveNode& b = *translated.Child(0);
        if (a.size != b.size || a.memoryData == nullptr || b.memoryData == nullptr) return false;
        std::vector<uint8_t> left(a.memoryData, a.memoryData + a.size);
        std::vector<uint8_t> right(b.memoryData, b.memoryData + b.size);
        auto clear = [&](uint64_t at) {
            if (at + 4 > left.size()) return;
            std::memset(left.data() + at, 0, 4);
            std::memset(right.data() + at, 0, 4);
        };
        clear(kArchiveSizeField);
        for (uint64_t k = 1; k <= translated.memberCount; ++k) {
            clear(kTableEntryBytes * k);
            clear(kTableEntryBytes * k + kEntrySizeField);
        }
        return left == right;
    }

    bool sameBytes(const ArchiveNode& original, const ArchiveNode& translated) {
        std::vector<uint8_t> a(std::min(original.size, kChunkBytes)), b(a.size());
        for (uint32_t done = 0; done < original.size;) {
            const uint32_t n = std::min(kChunkBytes, original.size - done);
            read(original, m_originalFile, done, a.data(), n);
            read(translated, m_translatedFile, done, b.data(), n);
            if (std::memcmp(a.data(), b.data(), n) != 0) return false;
            done += n;
        }
        return true;
    }

    bool zeroBetween(const ArchiveNode& node, ImageFile* file, uint64_t from, uint64_t to) {
        if (from >= to) return true;
        std::vector<uint8_t> gap(static_cast<size_t>(to - from));
        read(node, file, static_cast<uint32_t>(from), gap.data(), static_cast<uint32_t>(gap.size()));
        return std::all_of(gap.begin(), gap.end(), [](uint8_t b) { return b == 0; });
    }

    // A node's own bytes as it was opened: in memory, or at its place in the image file.
    static void read(const ArchiveNode& node, ImageFile* file, uint32_t position, uint8_t* out, uint32_t n) {
        if (n == 0) return;
        if (node.memoryData != nullptr) std::memcpy(out, node.memoryData + position, n);
        else if (file != nullptr) file->ReadAt(uint64_t{node.streamBase} + position, out, n);
        else std::memset(out, 0, n);
    }

    ImageFile* m_originalFile;
    ImageFile* m_translatedFile;
};

}  // namespace

ArchiveDiff DiffArchives(const ArchiveSide& original, const ArchiveSide& translated) {
    ArchiveDiff diff;
    Differ differ(original, translated);
    std::vector<uint32_t> path;
    if (!original.root.valid || !original.root.IsArchive()) {
        diff.reason = "the original file is not a GPDA archive";
        return diff;
    }
    if (!translated.root.IsArchive()) {
        diff.reason = "the translated file is not a GPDA archive";
        return diff;
    }
    if (!differ.Conforms(translated.root, path, diff.reason)) return diff;
    differ.Diff(original.root, translated.root, path, diff.records);
    diff.expressible = true;
    return diff;
}

uint64_t EncodedRecordBytes(const std::vector<ArchivePatchInput>& records) {
    uint64_t total = 4;
    for (const auto& r : records) total += recordCost(r.memberPath.size(), r.content.size());
    return total;
}

}  // namespace tessaly::maker
