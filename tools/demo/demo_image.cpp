// Images of the demo disc: the original in its own layout, and the translated one laid out as the
// patch must lay it out (package order, back to back, the font's fixed slot, empty files sharing).

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "iso/umd_image_writer.h"
#include "package/crc32.h"
#include "package/package_writer.h"
#include "tools/demo/demo_disc.h"
#include "tools/demo/pattern.h"

namespace tessaly::demo {

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kChunk = 1024 * 1024;
constexpr const char* kFont = "/PSP_GAME/USRDIR/fonts.pgf";
constexpr uint32_t kFontSlot = 1024;

struct Placed {
    const Contents* contents;
    uint32_t sector;
};

// Streams the header and the files to `path` (when given) and returns size and CRC-32.
ImageFacts writeImage(const std::vector<uint8_t>& header, std::vector<Placed> files, uint32_t volumeSectors,
                      const std::filesystem::path& path) {
    std::sort(files.begin(), files.end(), [](const Placed& a, const Placed& b) { return a.sector < b.sector; });
    std::ofstream out;
    if (!path.empty()) {
        out.open(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + path.string());
    }
    std::vector<uint8_t> chunk(kChunk);
    uint32_t crc = 0;
    uint64_t at = 0;
    auto emit = [&](const uint8_t* data, uint64_t n) {
        Crc32Update(data, crc, n);
        if (out.is_open()) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
        at += n;
    };
    auto zeros = [&](uint64_t n) {
        std::fill(chunk.begin(), chunk.end(), 0);
        while (n > 0) {
            const uint64_t piece = std::min<uint64_t>(n, kChunk);
            emit(chunk.data(), piece);
            n -= piece;
        }
    };
    emit(header.data(), header.size());
    for (const Placed& f : files) {
        const uint64_t start = static_cast<uint64_t>(f.sector) * kSector;
        if (start < at) throw std::logic_error("demo image files overlap");
        zeros(start - at);
        for (uint32_t done = 0; done < f.contents->size;) {
            const uint32_t n = std::min(kChunk, f.contents->size - done);
            f.contents->Read(done, chunk.data(), n);
            emit(chunk.data(), n);
            done += n;
        }
    }
    zeros(static_cast<uint64_t>(volumeSectors) * kSector - at);
    if (out.is_open() && !out.flush()) throw std::runtime_error("cannot write " + path.string());
    return {at, crc};
}

}  // namespace

UmdLayout TranslatedLayout(const DemoDisc& disc) {
    UmdLayout layout;
    layout.volumeId = "QUILLMOOR2_DISC1";
    for (const auto& f : disc.files) layout.files.push_back({f.path, f.translated.size, 0});
    uint32_t next = UmdHeaderSectors(layout);
    for (auto& f : layout.files) {
        f.startSector = next;
        next += f.path == kFont ? std::max(kFontSlot, SectorsFor(f.size)) : SectorsFor(f.size);
    }
    layout.volumeSectors = next;
    return layout;
}

ImageFacts WriteOriginalImage(const DemoDisc& disc, const std::filesystem::path& path) {
    UmdLayout layout;
    layout.volumeId = "QUILLMOOR2_DISC1";
    // Another order than the package's (reversed by default), so copied files move.
    std::vector<const DemoFile*> order;
    if (disc.originalOrder.empty()) {
        for (const auto& f : disc.files) order.push_back(&f);
        std::reverse(order.begin(), order.end());
    } else {
        for (size_t index : disc.originalOrder) order.push_back(&disc.files.at(index));
    }
    order.erase(std::remove_if(order.begin(), order.end(), [](const DemoFile* f) { return !f->inOriginal; }),
                order.end());
    for (const DemoFile* f : order) layout.files.push_back({f->path, f->original.size, 0});
    uint32_t next = UmdHeaderSectors(layout);
    std::vector<Placed> placed;
    for (size_t i = 0; i < order.size(); ++i) {
        layout.files[i].startSector = next;
        placed.push_back({&order[i]->original, next});
        next += SectorsFor(order[i]->original.size) + disc.originalGapSectors;
    }
    layout.volumeSectors = next;
    return writeImage(BuildUmdHeader(layout), placed, next, path);
}

ImageFacts WriteTranslatedImage(const DemoDisc& disc, const std::filesystem::path& path) {
    const UmdLayout layout = TranslatedLayout(disc);
    std::vector<Placed> placed;
    for (size_t i = 0; i < disc.files.size(); ++i) placed.push_back({&disc.files[i].translated, layout.files[i].startSector});
    return writeImage(BuildUmdHeader(layout), placed, layout.volumeSectors, path);
}

std::vector<uint8_t> MakePackage(const DemoDisc& disc) {
    const UmdLayout layout = TranslatedLayout(disc);
    std::vector<PackageEntryInput> entries;
    for (const auto& f : disc.files) {
        PackageEntryInput e;
        e.path = f.path;
        e.size = f.translated.size;
        e.crc = f.translated.Crc();
        e.mode = f.mode;
        if (f.mode == 0) e.stored = f.translated.Materialise();
        if (f.mode == 2) e.stored = f.records;
        entries.push_back(std::move(e));
    }
    return EncodePatchPackage(BuildUmdHeader(layout), entries);
}

Contents Contents::Bytes(std::vector<uint8_t> data) {
    Contents c;
    c.size = static_cast<uint32_t>(data.size());
    c.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(data));
    return c;
}

Contents Contents::Pattern(uint64_t seed, uint32_t size) {
    Contents c;
    c.seed = seed;
    c.size = size;
    return c;
}

Contents Contents::Composed(std::vector<Segment> segments, uint32_t size) {
    Contents c;
    c.size = size;
    c.segments = std::make_shared<const std::vector<Segment>>(std::move(segments));
    return c;
}

void Contents::Read(uint64_t offset, uint8_t* out, uint32_t n) const {
    if (bytes) {
        std::copy_n(bytes->data() + offset, n, out);
    } else if (segments) {
        std::fill_n(out, n, 0);
        const uint64_t end = offset + n;
        // The first segment that ends after `offset`; segments do not overlap.
        auto it = std::upper_bound(segments->begin(), segments->end(), offset,
                                   [](uint64_t at, const Segment& s) { return at < s.offset + s.length; });
        for (; it != segments->end() && it->offset < end; ++it) {
            const uint64_t from = std::max(offset, it->offset);
            const uint64_t to = std::min(end, it->offset + it->length);
            uint8_t* target = out + (from - offset);
            if (it->bytes) std::copy_n(it->bytes->data() + (from - it->offset), to - from, target);
            else FillPattern(it->seed, from - it->offset, target, to - from);
        }
    } else {
        FillPattern(seed, offset, out, n);
    }
}

uint32_t Contents::Crc() const {
    if (bytes) {
        uint32_t crc = 0;
        Crc32Update(bytes->data(), crc, bytes->size());
        return crc;
    }
    std::vector<uint8_t> chunk(kChunk);
    uint32_t crc = 0;
    for (uint32_t done = 0; done < size;) {
        const uint32_t n = std::min(kChunk, size - done);
        Read(done, chunk.data(), n);
        Crc32Update(chunk.data(), crc, n);
        done += n;
    }
    return crc;
}

std::vector<uint8_t> Contents::Materialise() const {
    if (bytes) return *bytes;
    std::vector<uint8_t> out(size);
    Read(0, out.data(), size);
    return out;
}

}  // namespace tessaly::demo
