#pragma once
// Writes patch package bytes: the format the loader reads. Used by the package maker and the
// demo-disc generator.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

struct PackageEntryInput {
    std::string path;             // ISO path in the new image
    uint32_t size = 0;            // size of the file in the new image
    uint32_t crc = 0;             // CRC-32 of the file as written
    uint32_t mode = 0;            // 0 stored, 1 copied, 2 archive rebuilt
    std::vector<uint8_t> stored;  // mode 0: the file; mode 2: archive patch records; mode 1: empty
};

// The header's CRC-32 is computed here from the header bytes.
std::vector<uint8_t> EncodePatchPackage(const std::vector<uint8_t>& header,
                                        const std::vector<PackageEntryInput>& entries);

}  // namespace tessaly
