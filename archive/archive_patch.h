#pragma once
// Archive patch records: the stored data of a mode-2 package entry. Each record gives one member,
// by its path of member indices through the nested archives, new contents.
//
// Bytes (u32 little-endian, packed): recordCount, then per record
// { contentLength, depth, depth member indices (outermost first), contentLength content bytes }.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/archive_node.h"

namespace tessaly {

struct ArchivePatchRecord {
    uint32_t contentLength = 0;
    uint32_t depth = 0;
    std::vector<uint32_t> memberPath;  // depth indices, each 1..N of the archive reached so far
    const uint8_t* content = nullptr;  // inside the record bytes
};

// Walks the records one at a time without reading past `length`.
class ArchivePatchReader {
public:
    ArchivePatchReader(const uint8_t* data, size_t length);

    uint32_t recordCount() const { return m_recordCount; }
    // The next record; false after the last one, or when the bytes end before the record count
    // or inside a record (then failed() is true).
    bool next(ArchivePatchRecord& record);
    bool failed() const { return m_failed; }

private:
    const uint8_t* m_data;
    size_t m_length;
    size_t m_position = 0;
    uint32_t m_recordCount = 0;
    uint32_t m_read = 0;
    bool m_failed = false;
};

// All records, or nullopt when they do not fit in `length`. Bytes after the last record are
// ignored: the records are counted, not measured.
std::optional<std::vector<ArchivePatchRecord>> DecodeArchivePatchRecords(const uint8_t* data, size_t length);

// Applies the records to the tree in stored order through ReplaceMember; stops at the first
// record that is cut short or that ReplaceMember refuses. The contents are taken by reference:
// `data` must outlive the tree.
bool ApplyArchivePatchRecords(ArchiveNode& root, const uint8_t* data, size_t length);

// For writers (package maker, demo generator).
struct ArchivePatchInput {
    std::vector<uint32_t> memberPath;
    std::vector<uint8_t> content;
};

// Throws std::length_error when a count or length does not fit 32 bits.
std::vector<uint8_t> EncodeArchivePatchRecords(const std::vector<ArchivePatchInput>& records);

}  // namespace tessaly
