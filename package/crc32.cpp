#include "package/crc32.h"

#if defined(TESSALY_CRC_LIBDEFLATE)
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace tessaly {

uint32_t Crc32Table[256];

bool BuildCrc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        Crc32Table[i] = c;
    }
    return true;
}

namespace {
[[maybe_unused]] const bool s_tableBuilt = BuildCrc32Table();
}

void Crc32UpdateReference(const uint8_t* data, uint32_t& running, uint64_t length) {
    uint32_t c = ~running;
    for (uint64_t i = 0; i < length; ++i) c = (c >> 8) ^ Crc32Table[(c ^ data[i]) & 0xFF];
    running = ~c;
}

void Crc32Update(const uint8_t* data, uint32_t& running, uint64_t length) {
#if defined(TESSALY_CRC_LIBDEFLATE)
    // libdeflate takes a size_t; feed in pieces so a 64-bit count is safe on every platform.
    while (length > 0) {
        const uint64_t piece = length > 0x40000000u ? 0x40000000u : length;
        running = libdeflate_crc32(running, data, static_cast<size_t>(piece));
        data += piece;
        length -= piece;
    }
#else
    running = static_cast<uint32_t>(crc32_z(running, data, static_cast<z_size_t>(length)));
#endif
}

const char* Crc32Implementation() {
#if defined(TESSALY_CRC_LIBDEFLATE)
    return "libdeflate";
#else
    return "zlib";
#endif
}

}  // namespace tessaly
