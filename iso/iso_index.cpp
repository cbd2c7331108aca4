#include "iso/iso_index.h"

#include <map>

namespace tessaly {

namespace {

constexpr uint64_t kSector = kSectorBytes;
constexpr uint32_t kVolumeSizeEnd = 32852;            // end of the volume space size field
constexpr uint32_t kPathTableLocation = 32908;        // type-L path table sector
constexpr uint32_t kOptionalPathTableLocation = 32912;
constexpr uint32_t kPathTableFieldsEnd = 32916;
constexpr uint32_t kVolumeSectorLimit = 1u << 21;     // 4 GiB: byte offsets then fit in 32 bits
constexpr uint32_t kDirectoryRecordFixedBytes = 33;   // before the identifier
constexpr uint32_t kSystemUseBytes = 14;              // CD-XA attributes after the identifier
constexpr uint8_t kXaFileAttribute = 0x0D;            // high byte of the XA attribute word

uint32_t u32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t roundUpEven(uint64_t v) { return v + (v & 1); }

// The identifier of length `declared` at p, cut at its first zero byte.
std::string identifier(const uint8_t* p, uint32_t declared) {
    uint32_t k = 0;
    while (k < declared && p[k] != 0) ++k;
    return std::string(reinterpret_cast<const char*>(p), k);
}

}  // namespace

IsoIndex::~IsoIndex() { clear(); }

void IsoIndex::fail(const char* gbkText) {
    errorText = std::make_unique<std::string>(gbkText);
    clear();
}

void IsoIndex::clear() { volume.reset(); }

void IsoIndex::build(const uint8_t* bytes, size_t length) {
    volume = std::make_unique<IsoVolume>();
    const uint64_t n = length;
    if (n < kVolumeSizeEnd) return fail(IsoErrors::kHeaderTooSmallForSize);

    IsoVolume& v = *volume;
    v.volumeSizeOffset = kVolumeSizeOffset;
    v.volumeSectors = u32le(bytes + kVolumeSizeOffset);
    v.firstFreeSector = 0;
    if (v.volumeSectors >= kVolumeSectorLimit) return fail(IsoErrors::kVolumeTooLarge);
    if (n < kPathTableFieldsEnd) return fail(IsoErrors::kHeaderTooSmallForFolders);

    const uint64_t pathTable = u32le(bytes + kPathTableLocation);
    const uint64_t optionalPathTable = u32le(bytes + kOptionalPathTableLocation);
    if (n < (optionalPathTable + 1) * kSector) return fail(IsoErrors::kHeaderTooSmallForFolders);

    // Path-table walk: the set of directory sectors, and which one is the root (empty identifier).
    std::map<uint32_t, std::string> directories;
    const uint64_t tableEnd = optionalPathTable * kSector;
    for (uint64_t p = pathTable * kSector; p < tableEnd;) {
        if (p + 2 > tableEnd) return fail(IsoErrors::kBadFolderOffset);
        if (bytes[p] == 0 && bytes[p + 1] == 0) {
            p += 2;
            continue;
        }
        const uint32_t declared = bytes[p];
        // A record must lie wholly inside the walked range: 8 fixed bytes and its identifier.
        if (p + 8 + declared > tableEnd) return fail(IsoErrors::kBadFolderOffset);
        const uint32_t extent = u32le(bytes + p + 2);
        if ((static_cast<uint64_t>(extent) + 1) * kSector > n) return fail(IsoErrors::kBadFolderOffset);
        std::string name = identifier(bytes + p + 8, declared);
        p = roundUpEven(p + 8 + name.size());
        if (!directories.emplace(extent, std::move(name)).second) return fail(IsoErrors::kFolderLinkedTwice);
    }

    // Directory-record walk, directories in ascending sector order: a directory's own record
    // exists only when its parent lies at a lower sector.
    const uint64_t volumeBytes = static_cast<uint64_t>(v.volumeSectors) * kSector;
    uint64_t limit = kSector;
    for (const auto& [sector, dirName] : directories) {
        limit = kSector;
        const uint64_t base = static_cast<uint64_t>(sector) * kSector;
        IsoFileRecord* current = nullptr;
        for (uint64_t q = base; q < base + limit;) {
            if (q + 2 > n) return fail(IsoErrors::kBadFolderOffset);
            if (bytes[q] == 0 && bytes[q + 1] == 0) {
                q += 2;
                continue;
            }
            // The fixed part and the identifier's first byte (which marks "." and "..") lie in the block.
            if (q + kDirectoryRecordFixedBytes + 1 > n) return fail(IsoErrors::kBadFolderOffset);
            const uint32_t start = u32le(bytes + q + 2);
            const uint32_t dataLength = u32le(bytes + q + 10);
            if (static_cast<uint64_t>(start) * kSector + dataLength > volumeBytes)
                return fail(IsoErrors::kBeyondVolume);
            const uint32_t declared = bytes[q + 32];
            // The identifier and the system-use field must lie inside the block.
            if (q + kDirectoryRecordFixedBytes + declared > n) return fail(IsoErrors::kBadFolderOffset);
            std::string name = identifier(bytes + q + 33, declared);
            const uint64_t attribute = roundUpEven(q + 37 + name.size());  // byte 4 of the system-use field
            if (attribute - 4 + kSystemUseBytes > n) return fail(IsoErrors::kBadFolderOffset);
            const uint32_t type = bytes[attribute] == kXaFileAttribute ? IsoFileRecord::File : IsoFileRecord::Directory;
            const uint8_t first = bytes[q + 33];

            if (first == 0) {  // the "." record
                if (type != IsoFileRecord::Directory) return fail(IsoErrors::kNotAFolder);
                const auto listed = directories.find(start);
                if (listed == directories.end()) return fail(IsoErrors::kFolderMissing);
                if (listed->second.empty()) {
                    auto root = std::make_unique<IsoFileRecord>();
                    root->startSector = start;
                    root->size = dataLength;
                    root->recordOffset = static_cast<uint32_t>(q);
                    root->type = IsoFileRecord::Directory;
                    current = root.get();
                    v.root = current;
                    v.bySector.emplace(start, std::move(root));
                    ++v.directoryCount;
                } else {
                    const auto own = v.bySector.find(start);
                    if (own == v.bySector.end()) return fail(IsoErrors::kFolderMissing);
                    current = own->second.get();
                }
                limit = dataLength;
                // The directory's data must lie inside the block: never read past it.
                if (base + limit > n) return fail(IsoErrors::kBadFolderOffset);
            } else if (first == 1) {  // the ".." record
                if (v.bySector.find(start) == v.bySector.end()) return fail(IsoErrors::kFolderMissing);
            } else {
                // Records before the "." record have no directory to belong to.
                if (current == nullptr) return fail(IsoErrors::kFolderMissing);
                auto record = std::make_unique<IsoFileRecord>();
                record->startSector = start;
                record->size = dataLength;
                record->recordOffset = static_cast<uint32_t>(q);
                record->name = std::move(name);
                record->type = type;
                record->parent = current;
                current->children.emplace(record->name, record.get());
                v.bySector.emplace(start, std::move(record));
                if (type == IsoFileRecord::File) ++v.fileCount; else ++v.directoryCount;
            }
            q = attribute + 10;
        }
    }
    if (!directories.empty()) {
        const uint64_t last = directories.rbegin()->first;
        v.firstFreeSector = static_cast<uint32_t>(last + (limit + kSector - 1) / kSector);
    }
    if (v.root == nullptr || v.bySector.empty()) return fail(IsoErrors::kIllegalHeader);
}

IsoFileRecord* IsoIndex::find(std::string_view path) const {
    if (!volume || volume->root == nullptr) return nullptr;
    IsoFileRecord* current = volume->root;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string_view::npos) slash = path.size();
        const std::string_view piece = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (piece.empty()) continue;
        const auto child = current->children.find(std::string(piece));
        if (child == current->children.end()) return nullptr;
        current = child->second;
    }
    return current;
}

}  // namespace tessaly
