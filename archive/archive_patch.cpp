#include "archive/archive_patch.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "archive/archive_bytes.h"

namespace tessaly {

using archive_bytes::GetU32;

namespace {
constexpr size_t kFieldBytes = 4;
constexpr size_t kRecordFixedBytes = 8;  // contentLength, depth

void AppendU32(std::vector<uint8_t>& out, uint64_t value, const char* what) {
    if (value > 0xFFFFFFFFu)
        throw std::length_error(std::string("archive patch record: ") + what + " " + std::to_string(value) +
                                " does not fit 32 bits");
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

ArchivePatchReader::ArchivePatchReader(const uint8_t* data, size_t length) : m_data(data), m_length(length) {
    if (m_data == nullptr || m_length < kFieldBytes) {
        m_failed = true;
        return;
    }
    m_recordCount = GetU32(m_data);
    m_position = kFieldBytes;
}

bool ArchivePatchReader::next(ArchivePatchRecord& record) {
    if (m_failed || m_read == m_recordCount) return false;
    // Every length is compared with what is left, in 64 bits, before anything is read.
    const uint64_t left = m_length - m_position;
    const uint8_t* p = m_data + m_position;
    if (left < kRecordFixedBytes) {
        m_failed = true;
        return false;
    }
    const uint32_t contentLength = GetU32(p);
    const uint32_t depth = GetU32(p + kFieldBytes);
    const uint64_t pathBytes = uint64_t{depth} * kFieldBytes;
    if (pathBytes + contentLength > left - kRecordFixedBytes) {
        m_failed = true;
        return false;
    }
    record.contentLength = contentLength;
    record.depth = depth;
    record.memberPath.resize(depth);
    for (uint32_t i = 0; i < depth; ++i) record.memberPath[i] = GetU32(p + kRecordFixedBytes + i * kFieldBytes);
    record.content = p + kRecordFixedBytes + pathBytes;
    m_position += static_cast<size_t>(kRecordFixedBytes + pathBytes + contentLength);
    ++m_read;
    return true;
}

std::optional<std::vector<ArchivePatchRecord>> DecodeArchivePatchRecords(const uint8_t* data, size_t length) {
    ArchivePatchReader reader(data, length);
    std::vector<ArchivePatchRecord> records;
    // A record takes at least 8 bytes: never reserve more than the bytes could hold.
    records.reserve(std::min<size_t>(reader.recordCount(), length / kRecordFixedBytes));
    ArchivePatchRecord record;
    while (reader.next(record)) records.push_back(record);
    if (reader.failed()) return std::nullopt;
    return records;
}

bool ApplyArchivePatchRecords(ArchiveNode& root, const uint8_t* data, size_t length) {
    ArchivePatchReader reader(data, length);
    ArchivePatchRecord record;
    while (reader.next(record)) {
        const uint32_t* path = record.memberPath.data();
        if (!root.ReplaceMember(path, path + record.depth, record.content, record.contentLength)) return false;
    }
    return !reader.failed();
}

std::vector<uint8_t> EncodeArchivePatchRecords(const std::vector<ArchivePatchInput>& records) {
    size_t total = kFieldBytes;
    for (const ArchivePatchInput& r : records)
        total += kRecordFixedBytes + r.memberPath.size() * kFieldBytes + r.content.size();
    std::vector<uint8_t> out;
    out.reserve(total);
    AppendU32(out, records.size(), "record count");
    for (const ArchivePatchInput& r : records) {
        AppendU32(out, r.content.size(), "content length");
        AppendU32(out, r.memberPath.size(), "depth");
        for (uint32_t index : r.memberPath) AppendU32(out, index, "member index");
        out.insert(out.end(), r.content.begin(), r.content.end());
    }
    return out;
}

}  // namespace tessaly
