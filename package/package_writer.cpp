#include "package/package_writer.h"

#include <stdexcept>

#include "package/crc32.h"

namespace tessaly {

namespace {
void put32(std::vector<uint8_t>& out, uint64_t v) {
    if (v > 0xFFFFFFFFu) throw std::length_error("patch package field does not fit 32 bits");
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
}  // namespace

std::vector<uint8_t> EncodePatchPackage(const std::vector<uint8_t>& header,
                                        const std::vector<PackageEntryInput>& entries) {
    uint64_t total = 12 + header.size();
    for (const auto& e : entries) total += 21 + e.path.size() + e.stored.size();
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(total));
    uint32_t headerCrc = 0;
    Crc32Update(header.data(), headerCrc, header.size());
    put32(out, entries.size());
    put32(out, header.size());
    put32(out, headerCrc);
    out.insert(out.end(), header.begin(), header.end());
    for (const auto& e : entries) {
        put32(out, e.path.size());
        out.insert(out.end(), e.path.begin(), e.path.end());
        out.push_back(0);
        put32(out, e.size);
        put32(out, e.crc);
        put32(out, e.mode);
        put32(out, e.stored.size());
        out.insert(out.end(), e.stored.begin(), e.stored.end());
    }
    return out;
}

}  // namespace tessaly
