#include <memory>
#include <new>

#include "iso/iso_index.h"
#include "platform/file.h"

namespace tessaly {

void IsoIndex::openImage(const std::filesystem::path& path) {
    volume.reset();
    errorText.reset();
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) {
        errorText = std::make_unique<std::string>(IsoErrors::kCannotOpenFile);
        return;
    }
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kImageIndexBytes]);
    if (!block) {
        errorText = std::make_unique<std::string>(IsoErrors::kCannotAllocate);
        return;
    }
    uint32_t got = 0;
    try {
        got = file.Read(block.get(), kImageIndexBytes);
    } catch (const CFileException&) {
        got = 0;  // a failing read counts as a short one
    }
    file.Abort();
    if (got < kImageIndexBytes) {
        errorText = std::make_unique<std::string>(IsoErrors::kReadFailed);
        return;
    }
    build(block.get(), kImageIndexBytes);
}

}  // namespace tessaly
