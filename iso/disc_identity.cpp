#include "iso/disc_identity.h"

#include <cstring>

#include "iso/iso_index.h"
#include "platform/file.h"

namespace tessaly {

namespace {
struct KnownDisc {
    const char* code;
    DiscIdentity identity;
};
// Compared in this order.
constexpr KnownDisc kKnownDiscs[] = {
    {"KVXM-20417", DiscIdentity::Target},
    {"KVXM-20418", DiscIdentity::SecondDisc},
    {"KVXL-00815", DiscIdentity::EarlierGame},
    {"KVXL-00814", DiscIdentity::EarlierGameBonus},
};
}  // namespace

DiscIdentity identifyDisc(const std::filesystem::path& path) {
    std::string ignored;
    return identifyDisc(path, ignored);
}

DiscIdentity identifyDisc(const std::filesystem::path& path, std::string& productCode) {
    productCode.clear();
    uint32_t codeSector = 0;
    {
        IsoIndex index;  // destroyed before the second opening
        index.openImage(path);
        if (!index.volume) return DiscIdentity::Unrecognised;
        const IsoFileRecord* record = index.find(kProductCodeFile);
        if (record == nullptr) return DiscIdentity::Unrecognised;
        codeSector = record->startSector;
    }
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary))
        return DiscIdentity::Unrecognised;
    // The record's size is not consulted: the code is the first 10 bytes wherever the file starts.
    char code[kProductCodeBytes] = {};
    file.Seek(static_cast<int64_t>(codeSector) * kSectorBytes, CFile::begin);
    const uint32_t got = file.Read(code, kProductCodeBytes);
    file.Close();
    if (got < kProductCodeBytes) return DiscIdentity::Unrecognised;
    productCode.assign(code, kProductCodeBytes);
    for (const KnownDisc& disc : kKnownDiscs)
        if (std::memcmp(code, disc.code, kProductCodeBytes) == 0) return disc.identity;
    return DiscIdentity::Unrecognised;
}

}  // namespace tessaly
