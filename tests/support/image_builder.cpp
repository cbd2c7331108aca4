#include "support/image_builder.h"

#include <algorithm>
#include <stdexcept>

#include "support/temp_dir.h"

namespace tessaly::test {

namespace {

constexpr uint8_t kDirectoryFlag = 0x02;

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> pieces;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > pos) pieces.emplace_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return pieces;
}

void requireRange(const std::vector<uint8_t>& image, size_t offset, size_t count) {
    if (offset + count > image.size()) throw std::runtime_error("image too short for the structure looked for");
}

struct Extent {
    uint32_t sector = 0;
    uint32_t bytes = 0;
};

Extent rootExtent(const std::vector<uint8_t>& image) {
    requireRange(image, kRootRecordField, 34);
    return {GetLe32(image, kRootRecordField + 2), GetLe32(image, kRootRecordField + 10)};
}

// Records of one directory, found by their length bytes; a zero length byte ends a sector.
std::vector<size_t> recordsOf(const std::vector<uint8_t>& image, Extent dir) {
    std::vector<size_t> out;
    const size_t begin = static_cast<size_t>(dir.sector) * kSector;
    const size_t end = begin + dir.bytes;
    requireRange(image, begin, dir.bytes);
    for (size_t o = begin; o < end;) {
        const uint8_t length = image[o];
        if (length == 0) {
            o = (o / kSector + 1) * kSector;
            continue;
        }
        out.push_back(o);
        o += length;
    }
    return out;
}

bool isDotOrDotDot(const std::vector<uint8_t>& image, size_t record) {
    return image[record + 32] == 1 && image[record + 33] <= 1;
}

std::string nameOf(const std::vector<uint8_t>& image, size_t record) {
    return std::string(reinterpret_cast<const char*>(image.data() + record + 33), image[record + 32]);
}

Extent directoryExtent(const std::vector<uint8_t>& image, std::string_view path) {
    if (splitPath(path).empty()) return rootExtent(image);
    const size_t record = RecordOffset(image, path);
    if ((image[record + 25] & kDirectoryFlag) == 0) throw std::runtime_error("not a directory: " + std::string(path));
    return {GetLe32(image, record + 2), GetLe32(image, record + 10)};
}

void putBe32Raw(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint32_t getBe32(const std::vector<uint8_t>& image, size_t offset) {
    requireRange(image, offset, 4);
    return static_cast<uint32_t>(image[offset]) << 24 | static_cast<uint32_t>(image[offset + 1]) << 16 |
           static_cast<uint32_t>(image[offset + 2]) << 8 | image[offset + 3];
}

}  // namespace

const UmdFile& BuiltImage::file(std::string_view path) const {
    for (const UmdFile& f : layout.files)
        if (f.path == path) return f;
    throw std::runtime_error("no such file in the image: " + std::string(path));
}

BuiltImage BuildImage(const ImageSpec& recipe) {
    BuiltImage image;
    image.layout.directories = recipe.directories;
    for (const ImageFileSpec& f : recipe.files)
        image.layout.files.push_back({f.path, static_cast<uint32_t>(f.contents.size()), 0});
    image.headerSectors = UmdHeaderSectors(image.layout);

    uint32_t next = image.headerSectors;
    uint32_t end = image.headerSectors;
    for (size_t i = 0; i < recipe.files.size(); ++i) {
        UmdFile& f = image.layout.files[i];
        f.startSector = recipe.files[i].startSector.value_or(next);
        next = std::max(next, f.startSector + SectorsFor(f.size));
        end = std::max(end, f.startSector + SectorsFor(f.size));
    }
    image.layout.volumeSectors = recipe.volumeSectors != 0 ? recipe.volumeSectors : end;

    image.bytes = BuildUmdHeader(image.layout);
    const uint64_t length = std::max<uint64_t>(static_cast<uint64_t>(end) * kSector, recipe.minimumBytes);
    image.bytes.resize(static_cast<size_t>(length), 0);
    for (size_t i = 0; i < recipe.files.size(); ++i) {
        const auto& contents = recipe.files[i].contents;
        std::copy(contents.begin(), contents.end(),
                  image.bytes.begin() + static_cast<ptrdiff_t>(image.layout.files[i].startSector * kSector));
    }
    if (recipe.exactBytes) image.bytes.resize(static_cast<size_t>(*recipe.exactBytes), 0);
    return image;
}

ImageSpec SampleDiscSpec(std::string_view productCode) {
    std::string umdData(productCode);
    umdData += "|4F1C29A83B0D7E65|0001|G";
    umdData.resize(48, '\0');
    ImageSpec recipe;
    recipe.files = {
        {"/UMD_DATA.BIN", std::vector<uint8_t>(umdData.begin(), umdData.end()), std::nullopt},
        {"/PSP_GAME/PARAM.SFO", PatternBytes(700, 1), std::nullopt},
        {"/PSP_GAME/SYSDIR/BOOT.BIN", PatternBytes(5000, 2), std::nullopt},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN", PatternBytes(6100, 3), std::nullopt},
        {"/PSP_GAME/USRDIR/DATA.BIN", PatternBytes(3 * kSector, 4), std::nullopt},
    };
    recipe.minimumBytes = 600 * 1024;  // more than openImage reads
    return recipe;
}

uint32_t GetLe32(const std::vector<uint8_t>& image, size_t offset) {
    requireRange(image, offset, 4);
    return static_cast<uint32_t>(image[offset]) | static_cast<uint32_t>(image[offset + 1]) << 8 |
           static_cast<uint32_t>(image[offset + 2]) << 16 | static_cast<uint32_t>(image[offset + 3]) << 24;
}

void PutLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    requireRange(image, offset, 4);
    for (int i = 0; i < 4; ++i) image[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

void PutBe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    requireRange(image, offset, 4);
    putBe32Raw(image.data() + offset, value);
}

void PutBoth32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    PutLe32(image, offset, value);
    PutBe32(image, offset + 4, value);
}

size_t RecordOffset(const std::vector<uint8_t>& image, std::string_view path) {
    const std::vector<std::string> pieces = splitPath(path);
    Extent dir = rootExtent(image);
    if (pieces.empty()) return static_cast<size_t>(dir.sector) * kSector;
    size_t found = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        found = 0;
        for (size_t record : recordsOf(image, dir)) {
            if (!isDotOrDotDot(image, record) && nameOf(image, record) == pieces[i]) {
                found = record;
                break;
            }
        }
        if (found == 0) throw std::runtime_error("no record for " + std::string(path));
        dir = {GetLe32(image, found + 2), GetLe32(image, found + 10)};
    }
    return found;
}

size_t DotRecordOffset(const std::vector<uint8_t>& image, std::string_view directoryPath) {
    return static_cast<size_t>(directoryExtent(image, directoryPath).sector) * kSector;
}

std::vector<size_t> DirectoryRecords(const std::vector<uint8_t>& image, std::string_view directoryPath) {
    return recordsOf(image, directoryExtent(image, directoryPath));
}

size_t DotDotRecordOffset(const std::vector<uint8_t>& image, std::string_view directoryPath) {
    const size_t dot = DotRecordOffset(image, directoryPath);
    return dot + image[dot];
}

size_t XaAttributeOffset(const std::vector<uint8_t>& image, size_t recordOffset) {
    const size_t nameLength = image[recordOffset + 32];
    return recordOffset + 33 + nameLength + (nameLength % 2 == 0 ? 1 : 0) + 4;
}

size_t PathTableRecordOffset(const std::vector<uint8_t>& image, size_t index) {
    size_t p = static_cast<size_t>(GetLe32(image, kPathTableLField)) * kSector;
    for (size_t i = 0; i < index; ++i) {
        const size_t idLength = image[p];
        p += 8 + idLength + idLength % 2;
    }
    if (image[p] == 0) throw std::runtime_error("path table has no record " + std::to_string(index));
    return p;
}

void SetVolumeSectors(std::vector<uint8_t>& image, uint32_t sectors) { PutBoth32(image, kVolumeSizeField, sectors); }

void SetRecordExtent(std::vector<uint8_t>& image, size_t recordOffset, uint32_t sector) {
    PutBoth32(image, recordOffset + 2, sector);
}

void SetRecordSize(std::vector<uint8_t>& image, size_t recordOffset, uint32_t size) {
    PutBoth32(image, recordOffset + 10, size);
}

void MoveDirectory(std::vector<uint8_t>& image, std::string_view directoryPath, uint32_t newSector) {
    const bool isRoot = splitPath(directoryPath).empty();
    const Extent old = directoryExtent(image, directoryPath);
    const size_t sectors = (old.bytes + kSector - 1) / kSector;
    const size_t newEnd = (static_cast<size_t>(newSector) + sectors) * kSector;
    if (image.size() < newEnd) image.resize(newEnd, 0);

    const std::vector<size_t> records = recordsOf(image, old);
    std::vector<uint32_t> subdirectories;
    for (size_t record : records)
        if (!isDotOrDotDot(image, record) && (image[record + 25] & kDirectoryFlag) != 0)
            subdirectories.push_back(GetLe32(image, record + 2));

    const auto from = image.begin() + static_cast<ptrdiff_t>(old.sector * kSector);
    const std::vector<uint8_t> content(from, from + static_cast<ptrdiff_t>(sectors * kSector));
    std::fill(from, from + static_cast<ptrdiff_t>(sectors * kSector), uint8_t{0});
    std::copy(content.begin(), content.end(), image.begin() + static_cast<ptrdiff_t>(newSector * kSector));

    const size_t dot = static_cast<size_t>(newSector) * kSector;
    SetRecordExtent(image, dot, newSector);
    if (isRoot) {
        SetRecordExtent(image, dot + image[dot], newSector);  // the root's ".." is itself
        SetRecordExtent(image, kRootRecordField, newSector);
    } else {
        SetRecordExtent(image, RecordOffset(image, directoryPath), newSector);
    }
    for (uint32_t child : subdirectories) {
        const size_t childDot = static_cast<size_t>(child) * kSector;
        SetRecordExtent(image, childDot + image[childDot], newSector);
    }

    // The four path tables: L and optional L little-endian, M and optional M big-endian.
    const uint32_t tableBytes = GetLe32(image, kPvdOffset + 132);
    const size_t tables[4] = {GetLe32(image, kPvdOffset + 140), GetLe32(image, kPvdOffset + 144),
                              getBe32(image, kPvdOffset + 148), getBe32(image, kPvdOffset + 152)};
    for (int t = 0; t < 4; ++t) {
        if (tables[t] == 0) continue;
        const bool bigEndian = t >= 2;
        const size_t begin = tables[t] * kSector;
        for (size_t p = begin; p < begin + tableBytes;) {
            const size_t idLength = image[p];
            const uint32_t extent = bigEndian ? getBe32(image, p + 2) : GetLe32(image, p + 2);
            if (extent == old.sector) {
                if (bigEndian) PutBe32(image, p + 2, newSector);
                else PutLe32(image, p + 2, newSector);
            }
            p += 8 + idLength + idLength % 2;
        }
    }
    const uint32_t volume = GetLe32(image, kVolumeSizeField);
    if (volume < newSector + sectors) SetVolumeSectors(image, static_cast<uint32_t>(newSector + sectors));
}

}  // namespace tessaly::test
