#pragma once
// Deterministic file contents that are not all zero, computable at any offset (so a file of any
// size can be streamed without holding it).

#include <cstdint>

namespace tessaly::demo {

// Fills out[0, n) with the bytes at [offset, offset + n) of the pattern named by seed.
void FillPattern(uint64_t seed, uint64_t offset, uint8_t* out, uint64_t n);

}  // namespace tessaly::demo
