#include "tools/demo/pattern.h"

#include <bit>
#include <cstring>

namespace tessaly::demo {

namespace {
uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
}  // namespace

void FillPattern(uint64_t seed, uint64_t offset, uint8_t* out, uint64_t n) {
    const uint64_t key = splitmix(seed);
    auto wordAt = [key](uint64_t word) { return splitmix(key ^ (word * 0xD6E8FEB86659FD93ull)); };
    uint64_t word = offset / 8;
    uint64_t at = 0;
    uint64_t skip = offset % 8;
    // Whole words are stored at once where the machine's byte order is the pattern's (a gigabyte
    // image is generated in seconds); the bytes are the same either way.
    if constexpr (std::endian::native == std::endian::little) {
        if (skip != 0 && n > 0) {
            const uint64_t value = wordAt(word++);
            for (uint64_t b = skip; b < 8 && at < n; ++b) out[at++] = static_cast<uint8_t>(value >> (8 * b));
            skip = 0;
        }
        for (; at + 8 <= n; at += 8) {
            const uint64_t value = wordAt(word++);
            std::memcpy(out + at, &value, 8);
        }
    }
    while (at < n) {
        const uint64_t value = wordAt(word);
        for (uint64_t b = skip; b < 8 && at < n; ++b) out[at++] = static_cast<uint8_t>(value >> (8 * b));
        skip = 0;
        ++word;
    }
}

}  // namespace tessaly::demo
