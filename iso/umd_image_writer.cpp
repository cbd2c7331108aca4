#include "iso/umd_image_writer.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "iso/iso_index.h"

namespace tessaly {

namespace {

constexpr uint32_t kPvdSector = 16;
constexpr uint32_t kFirstPathTableSector = 18;
constexpr uint16_t kXaFileAttributes = 0x0D55;       // readable, file
constexpr uint16_t kXaDirectoryAttributes = 0x8D55;  // readable, directory

void put16le(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put16be(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
void put32le(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
void put32be(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i)); }
void putBoth16(uint8_t* p, uint32_t v) { put16le(p, v); put16be(p + 2, v); }
void putBoth32(uint8_t* p, uint32_t v) { put32le(p, v); put32be(p + 4, v); }
void putText(uint8_t* p, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) p[i] = i < text.size() ? uint8_t(text[i]) : uint8_t(' ');
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}
std::string leafOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

struct Directory {
    std::string path;
    uint32_t number = 0;  // 1-based, path-table order
    uint32_t parentNumber = 1;
    uint32_t sector = 0;
    uint32_t bytes = 0;  // whole sectors
    std::vector<std::pair<std::string, bool>> entries;  // name, isDirectory; sorted by name
};

uint32_t recordLength(size_t nameLength) {
    const uint32_t n = static_cast<uint32_t>(nameLength);
    return 33 + n + ((n % 2 == 0) ? 1 : 0) + 14;
}

// Bytes a directory's records take, starting each sector afresh where a record would cross it.
uint32_t directoryBytes(const Directory& d) {
    uint32_t used = recordLength(1) * 2;  // "." and ".."
    for (const auto& entry : d.entries) {
        const uint32_t len = recordLength(entry.first.size());
        if (used % 2048 + len > 2048) used = (used / 2048 + 1) * 2048;
        used += len;
    }
    return SectorsFor(used) * 2048;
}

struct Plan {
    std::vector<Directory> directories;  // path-table order
    uint32_t pathTableBytes = 0;
    uint32_t pathTableSectors = 1;
    uint32_t headerSectors = 0;
};

Plan plan(const UmdLayout& layout) {
    std::set<std::string> dirPaths{"/"};
    auto addWithParents = [&](std::string p) {
        while (p != "/" && dirPaths.insert(p).second) p = parentOf(p);
    };
    for (const auto& d : layout.directories) addWithParents(d);
    for (const auto& f : layout.files) {
        if (f.path.empty() || f.path[0] != '/') throw std::invalid_argument("ISO path must begin with '/': " + f.path);
        addWithParents(parentOf(f.path));
    }
    // Path-table order: by depth, then parent number, then name.
    Plan result;
    std::map<std::string, uint32_t> numberOf;
    std::vector<std::string> level{"/"};
    while (!level.empty()) {
        std::vector<std::pair<std::pair<uint32_t, std::string>, std::string>> next;
        for (const auto& p : level) {
            Directory d;
            d.path = p;
            d.number = static_cast<uint32_t>(result.directories.size() + 1);
            d.parentNumber = p == "/" ? 1 : numberOf.at(parentOf(p));
            numberOf[p] = d.number;
            result.directories.push_back(d);
        }
        for (const auto& p : dirPaths) {
            if (p == "/") continue;
            const std::string parent = parentOf(p);
            if (std::find(level.begin(), level.end(), parent) != level.end())
                next.push_back({{numberOf.at(parent), leafOf(p)}, p});
        }
        std::sort(next.begin(), next.end());
        level.clear();
        for (auto& n : next) level.push_back(n.second);
    }
    for (auto& d : result.directories) {
        for (const auto& p : dirPaths)
            if (p != "/" && parentOf(p) == d.path) d.entries.push_back({leafOf(p), true});
        for (const auto& f : layout.files)
            if (parentOf(f.path) == d.path) d.entries.push_back({leafOf(f.path), false});
        std::sort(d.entries.begin(), d.entries.end());
        d.bytes = directoryBytes(d);
        const uint32_t idLength = d.path == "/" ? 1 : static_cast<uint32_t>(leafOf(d.path).size());
        result.pathTableBytes += 8 + idLength + (idLength % 2);
    }
    result.pathTableSectors = SectorsFor(result.pathTableBytes);
    uint32_t sector = kFirstPathTableSector + 4 * result.pathTableSectors;
    for (auto& d : result.directories) {
        d.sector = sector;
        sector += d.bytes / 2048;
    }
    result.headerSectors = sector;
    return result;
}

void writeRecord(uint8_t* p, const std::string& name, uint8_t marker, uint32_t extent, uint32_t size, bool isDirectory) {
    const size_t nameLength = name.empty() ? 1 : name.size();
    const uint32_t len = recordLength(nameLength);
    p[0] = uint8_t(len);
    putBoth32(p + 2, extent);
    putBoth32(p + 10, size);
    const uint8_t date[7] = {126, 1, 1, 0, 0, 0, 0};  // 2026-01-01 00:00:00 GMT
    std::copy(date, date + 7, p + 18);
    p[25] = isDirectory ? 2 : 0;
    putBoth16(p + 28, 1);
    p[32] = uint8_t(nameLength);
    if (name.empty()) p[33] = marker;
    else std::copy(name.begin(), name.end(), p + 33);
    uint8_t* xa = p + 33 + nameLength + (nameLength % 2 == 0 ? 1 : 0);
    put16be(xa + 4, isDirectory ? kXaDirectoryAttributes : kXaFileAttributes);
    xa[6] = 'X';
    xa[7] = 'A';
}

}  // namespace

uint32_t UmdHeaderSectors(const UmdLayout& layout) { return plan(layout).headerSectors; }

std::vector<uint8_t> BuildUmdHeader(const UmdLayout& layout) {
    const Plan p = plan(layout);
    std::vector<uint8_t> out(static_cast<size_t>(p.headerSectors) * 2048, 0);
    std::map<std::string, const Directory*> dirByPath;
    for (const auto& d : p.directories) dirByPath[d.path] = &d;
    std::map<std::string, const UmdFile*> fileByPath;
    uint32_t end = p.headerSectors;
    for (const auto& f : layout.files) {
        fileByPath[f.path] = &f;
        end = std::max(end, f.startSector + SectorsFor(f.size));
    }
    const uint32_t volumeSectors = layout.volumeSectors != 0 ? layout.volumeSectors : end;

    // Directory records.
    for (const auto& d : p.directories) {
        uint8_t* base = out.data() + static_cast<size_t>(d.sector) * 2048;
        const Directory& parent = p.directories[d.parentNumber - 1];
        uint32_t used = 0;
        writeRecord(base, "", 0, d.sector, d.bytes, true);
        used += recordLength(1);
        writeRecord(base + used, "", 1, parent.sector, parent.bytes, true);
        used += recordLength(1);
        for (const auto& [name, isDirectory] : d.entries) {
            const uint32_t len = recordLength(name.size());
            if (used % 2048 + len > 2048) used = (used / 2048 + 1) * 2048;
            const std::string full = (d.path == "/" ? "" : d.path) + "/" + name;
            if (isDirectory) {
                const Directory& child = *dirByPath.at(full);
                writeRecord(base + used, name, 0, child.sector, child.bytes, true);
            } else {
                const UmdFile& f = *fileByPath.at(full);
                writeRecord(base + used, name, 0, f.startSector, f.size, false);
            }
            used += len;
        }
    }

    // Path tables: L and its optional copy, then M and its optional copy.
    for (int table = 0; table < 4; ++table) {
        const bool bigEndian = table >= 2;
        uint8_t* q = out.data() + static_cast<size_t>(kFirstPathTableSector + table * p.pathTableSectors) * 2048;
        for (const auto& d : p.directories) {
            const std::string id = d.path == "/" ? std::string(1, '\0') : leafOf(d.path);
            q[0] = uint8_t(id.size());
            if (bigEndian) { put32be(q + 2, d.sector); put16be(q + 6, d.parentNumber); }
            else { put32le(q + 2, d.sector); put16le(q + 6, d.parentNumber); }
            std::copy(id.begin(), id.end(), q + 8);
            q += 8 + id.size() + (id.size() % 2);
        }
    }

    // Primary volume descriptor and terminator.
    uint8_t* pvd = out.data() + kPvdSector * 2048;
    pvd[0] = 1;
    std::copy_n("CD001", 5, pvd + 1);
    pvd[6] = 1;
    putText(pvd + 8, 32, "PSP GAME");
    putText(pvd + 40, 32, layout.volumeId);
    putBoth32(pvd + 80, volumeSectors);
    putBoth16(pvd + 120, 1);
    putBoth16(pvd + 124, 1);
    putBoth16(pvd + 128, 2048);
    putBoth32(pvd + 132, p.pathTableBytes);
    put32le(pvd + 140, kFirstPathTableSector);
    put32le(pvd + 144, kFirstPathTableSector + p.pathTableSectors);
    put32be(pvd + 148, kFirstPathTableSector + 2 * p.pathTableSectors);
    put32be(pvd + 152, kFirstPathTableSector + 3 * p.pathTableSectors);
    const Directory& root = p.directories.front();
    // The descriptor's root record is the 34-byte ISO form, without system use.
    pvd[156] = 34;
    putBoth32(pvd + 156 + 2, root.sector);
    putBoth32(pvd + 156 + 10, root.bytes);
    const uint8_t date[7] = {126, 1, 1, 0, 0, 0, 0};
    std::copy(date, date + 7, pvd + 156 + 18);
    pvd[156 + 25] = 2;
    putBoth16(pvd + 156 + 28, 1);
    pvd[156 + 32] = 1;
    for (size_t field : {190u, 318u, 446u, 574u}) putText(pvd + field, 128, "");
    for (size_t field : {702u, 739u, 776u}) putText(pvd + field, 37, "");
    for (size_t field : {813u, 830u, 864u}) std::copy_n("2026010100000000", 16, pvd + field);
    std::copy_n("0000000000000000", 16, pvd + 847);
    pvd[881] = 1;
    uint8_t* terminator = out.data() + (kPvdSector + 1) * 2048;
    terminator[0] = 255;
    std::copy_n("CD001", 5, terminator + 1);
    terminator[6] = 1;
    return out;
}

}  // namespace tessaly
