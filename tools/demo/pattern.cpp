#include "tools/demo/pattern.h"

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
    uint64_t word = offset / 8;
    uint64_t at = 0;
    uint64_t skip = offset % 8;
    while (at < n) {
        const uint64_t value = splitmix(key ^ (word * 0xD6E8FEB86659FD93ull));
        for (uint64_t b = skip; b < 8 && at < n; ++b) out[at++] = static_cast<uint8_t>(value >> (8 * b));
        skip = 0;
        ++word;
    }
}

}  // namespace tessaly::demo
