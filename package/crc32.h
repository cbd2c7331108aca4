#pragma once
// The standard reflected CRC-32 (ISO-HDLC, polynomial 0xEDB88320: zip, gzip, PNG).
// The running value always holds the finished CRC of the bytes fed so far: it starts at 0 and
// chains over pieces of any size.

#include <cstdint>

namespace tessaly {

extern uint32_t Crc32Table[256];

// Fills Crc32Table; runs once during static initialisation.
bool BuildCrc32Table();

// Fast path (a vectorised library routine), identical in result to Crc32UpdateReference.
void Crc32Update(const uint8_t* data, uint32_t& running, uint64_t length);

// One table lookup per byte: the definition the fast path is tested against.
void Crc32UpdateReference(const uint8_t* data, uint32_t& running, uint64_t length);

// Name of the fast path's implementation, for benchmark output.
const char* Crc32Implementation();

}  // namespace tessaly
