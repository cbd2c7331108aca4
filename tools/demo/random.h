#pragma once
// A small deterministic generator for the demo's choices (xorshift: the same on every platform).

#include <cstdint>

namespace tessaly::demo {

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
    uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }

private:
    uint64_t m_state;
};

}  // namespace tessaly::demo
