#include "support/package_builder.h"

#include <stdexcept>

#include "support/temp_dir.h"

namespace tessaly::test {

namespace {

void put32(std::vector<uint8_t>& out, uint64_t value) {
    if (value > 0xFFFFFFFFu) throw std::length_error("package field does not fit 32 bits");
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct ShapeFile {
    const char* path;
    uint32_t mode;
    uint32_t size;
};

// Package order, which is also the layout order from sector 27.
constexpr ShapeFile kShapeFiles[] = {
    {"/UMD_DATA.BIN", 0, 48},
    {"/PSP_GAME/PARAM.SFO", 0, 1168},
    {"/PSP_GAME/ICON0.PNG", 0, 9313},
    {"/PSP_GAME/ICON1.PMF", 1, 4500},
    {"/PSP_GAME/PIC0.PNG", 0, 2200},
    {"/PSP_GAME/PIC1.PNG", 0, 6001},
    {"/PSP_GAME/SND0.AT3", 1, 3072},
    {"/PSP_GAME/SYSDIR/BOOT.BIN", 1, 3000},
    {"/PSP_GAME/SYSDIR/EBOOT.BIN", 0, 4100},
    {"/PSP_GAME/SYSDIR/OPNSSMP.BIN", 0, 777},
    {"/PSP_GAME/INSDIR/RES.DAT", 2, 12000},
    {"/PSP_GAME/USRDIR/fonts.pgf", 0, 2500},
    {"/PSP_GAME/USRDIR/TEXT00.BIN", 0, 100},
    {"/PSP_GAME/USRDIR/TEXT01.BIN", 0, 2048},
    {"/PSP_GAME/USRDIR/TEXT02.BIN", 0, 2049},
    {"/PSP_GAME/USRDIR/TEXT03.BIN", 0, 1},
    {"/PSP_GAME/USRDIR/TEXT04.BIN", 0, 333},
    {"/PSP_GAME/USRDIR/TEXT05.BIN", 0, 4096},
    {"/PSP_GAME/USRDIR/TEXT06.BIN", 0, 17},
    {"/PSP_GAME/USRDIR/MOVIE00.PMF", 1, 8000},
    {"/PSP_GAME/USRDIR/MOVIE01.PMF", 1, 7000},
    {"/PSP_GAME/USRDIR/MOVIE02.PMF", 1, 6000},
    {"/PSP_GAME/USRDIR/MOVIE03.PMF", 1, 5000},
    {"/PSP_GAME/USRDIR/BGM00.AT3", 1, 3500},
    {"/PSP_GAME/USRDIR/BGM01.AT3", 1, 2500},
    {"/PSP_GAME/USRDIR/BGM02.AT3", 1, 1500},
};
constexpr ShapeFile kEbootOld = {"/PSP_GAME/SYSDIR/EBOOT.OLD", 0, 5123};

}  // namespace

uint32_t ReferenceCrc32(const uint8_t* data, size_t length) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        c ^= data[i];
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

EncodedPackage EncodePackage(const PackageSpec& recipe) {
    EncodedPackage out;
    out.headerCrc = ReferenceCrc32(recipe.header);
    std::vector<uint8_t>& b = out.bytes;
    put32(b, recipe.entries.size());
    put32(b, recipe.header.size());
    put32(b, out.headerCrc);
    b.insert(b.end(), recipe.header.begin(), recipe.header.end());
    for (const PackageEntrySpec& e : recipe.entries) {
        EntryOffsets at;
        at.pathLength = b.size();
        put32(b, e.path.size());
        at.path = b.size();
        b.insert(b.end(), e.path.begin(), e.path.end());
        at.terminator = b.size();
        b.push_back(0);
        at.size = b.size();
        put32(b, e.size);
        at.crc = b.size();
        put32(b, e.crc);
        at.mode = b.size();
        put32(b, e.mode);
        at.storedLength = b.size();
        put32(b, e.stored.size());
        at.stored = b.size();
        b.insert(b.end(), e.stored.begin(), e.stored.end());
        at.end = b.size();
        out.entries.push_back(at);
    }
    return out;
}

size_t ShippedShape::indexOf(std::string_view path) const {
    for (size_t i = 0; i < recipe.entries.size(); ++i)
        if (recipe.entries[i].path == path) return i;
    throw std::runtime_error("no entry for " + std::string(path));
}

const UmdFile& ShippedShape::file(std::string_view path) const {
    for (const UmdFile& f : layout.files)
        if (f.path == path) return f;
    throw std::runtime_error("no file for " + std::string(path));
}

ShippedShape ShippedShapePackage(bool withEbootOld) {
    std::vector<ShapeFile> files(std::begin(kShapeFiles), std::end(kShapeFiles));
    if (withEbootOld) files.push_back(kEbootOld);

    ShippedShape shape;
    for (const ShapeFile& f : files) shape.layout.files.push_back({f.path, f.size, 0});
    shape.headerSectors = UmdHeaderSectors(shape.layout);
    uint32_t next = shape.headerSectors;
    for (UmdFile& f : shape.layout.files) {
        f.startSector = next;
        next += SectorsFor(f.size);
    }
    shape.layout.volumeSectors = next;
    shape.recipe.header = BuildUmdHeader(shape.layout);

    uint32_t seed = 100;
    for (const ShapeFile& f : files) {
        PackageEntrySpec e;
        e.path = f.path;
        e.size = f.size;
        e.mode = f.mode;
        const std::vector<uint8_t> contents = PatternBytes(f.size, ++seed);
        e.crc = ReferenceCrc32(contents);
        if (f.mode == 0) e.stored = contents;
        if (f.mode == 2) e.stored = PatternBytes(321, ++seed);  // stand-in archive patch records
        shape.recipe.entries.push_back(std::move(e));
    }
    return shape;
}

}  // namespace tessaly::test
