#include "maker/image_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "package/crc32.h"

namespace tessaly::maker {

bool ImageFile::Open(const std::filesystem::path& path) {
    m_path = path;
    if (!m_file.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return false;
    m_length = m_file.GetLength();
    return true;
}

uint32_t ImageFile::ReadAt(uint64_t offset, uint8_t* out, uint32_t n) {
    uint32_t got = 0;
    if (offset < m_length) {
        const auto wanted = static_cast<uint32_t>(std::min<uint64_t>(n, m_length - offset));
        m_file.Seek(static_cast<int64_t>(offset), CFile::begin);
        while (got < wanted) {
            const uint32_t piece = m_file.Read(out + got, wanted - got);
            if (piece == 0) break;
            got += piece;
        }
    }
    if (got < n) std::memset(out + got, 0, n - got);
    return got;
}

RangeScan ScanRange(ImageFile& image, uint64_t offset, uint32_t size, ImageFile* other, uint64_t otherOffset) {
    RangeScan scan;
    scan.identical = other != nullptr;
    std::vector<uint8_t> piece(std::min(size, kChunkBytes));
    std::vector<uint8_t> otherPiece(other != nullptr ? piece.size() : 0);
    for (uint32_t done = 0; done < size;) {
        const uint32_t n = std::min(kChunkBytes, size - done);
        if (image.ReadAt(offset + done, piece.data(), n) < n) scan.complete = false;
        Crc32Update(piece.data(), scan.crc, n);
        if (scan.identical) {
            // A short read of the other file is a difference even where the zeros would agree.
            const bool whole = other->ReadAt(otherOffset + done, otherPiece.data(), n) == n;
            scan.identical = whole && std::memcmp(piece.data(), otherPiece.data(), n) == 0;
        }
        done += n;
    }
    return scan;
}

}  // namespace tessaly::maker
