#pragma once
// An image file read by byte ranges, for the package maker and the verifier. Bytes past the end of
// the file read as zeros, as the build job writes them, and are counted so callers can say so.

#include <cstdint>
#include <filesystem>

#include "platform/file.h"

namespace tessaly::maker {

constexpr uint32_t kChunkBytes = 1024 * 1024;

class ImageFile {
public:
    ImageFile() = default;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool Open(const std::filesystem::path& path);
    uint64_t Length() const { return m_length; }
    const std::filesystem::path& Path() const { return m_path; }

    // Fills out[0, n) from the image at `offset`; returns how many bytes came from the file.
    uint32_t ReadAt(uint64_t offset, uint8_t* out, uint32_t n);

private:
    CFile m_file;
    std::filesystem::path m_path;
    uint64_t m_length = 0;
};

struct RangeScan {
    uint32_t crc = 0;        // CRC-32 of the first range
    bool identical = false;  // the second range holds the same bytes (false without one)
    bool complete = true;    // the first range lies wholly inside its file
};

// Streams [offset, offset + size) of `image` in 1 MiB pieces; compares with `other` at
// `otherOffset` while they agree.
RangeScan ScanRange(ImageFile& image, uint64_t offset, uint32_t size, ImageFile* other = nullptr,
                    uint64_t otherOffset = 0);

}  // namespace tessaly::maker
