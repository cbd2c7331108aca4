// The full-scale demo disc: the real disc's shape (sizes, sector positions, file modes, the
// resource archive's nesting and its 1,003 replacement records), so the build job can be measured
// on a 1.3 GB image. File contents are patterns and held header bytes, streamed on demand.

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string>

#include "archive/archive_patch.h"
#include "archive/archive_writer.h"
#include "tools/demo/demo_disc.h"
#include "tools/demo/full_scale.h"
#include "tools/demo/member_paths.h"
#include "tools/demo/pattern.h"
#include "tools/demo/random.h"

namespace tessaly::demo {

namespace {

// The facts of the real disc.
constexpr uint32_t kVolumeSectors = 644877;
constexpr uint32_t kHeaderSectors = 27;
constexpr uint32_t kBootSector = 1783;
constexpr uint32_t kBootSize = 3524257;
constexpr uint32_t kFontSize = 1597884;
constexpr uint32_t kLargestFile = 857504644;
constexpr uint32_t kArchiveSize = 202237952;
constexpr uint32_t kRecordCount = 1003;
constexpr uint32_t kGzipRecords = 1001;
constexpr uint32_t kRecordBytes = 6135323;
constexpr uint64_t kPackageBytes = 14344788;
constexpr uint32_t kPieces = 1278;

constexpr const char* kArchivePath = "/PSP_GAME/INSDIR/RES.DAT";
constexpr uint32_t kNameFieldWidth = 20;
constexpr uint32_t kPiece = 1024 * 1024;

struct FileSpec {
    const char* path;
    uint32_t mode;
    uint32_t originalSize;
    uint32_t translatedSize;
};

// Package order. The sizes put BOOT.BIN at sector 1783, end the volume at sector 644,877, make the
// package 14,344,788 bytes and the writing 1,278 pieces of at most 1 MiB.
constexpr FileSpec kFiles[] = {
    {"/UMD_DATA.BIN", 0, 48, 48},
    {"/PSP_GAME/PARAM.SFO", 0, 1264, 1296},
    {"/PSP_GAME/ICON0.PNG", 0, 13421, 14087},
    {"/PSP_GAME/PIC0.PNG", 0, 58312, 61950},
    {"/PSP_GAME/PIC1.PNG", 0, 356844, 381223},
    {"/PSP_GAME/SND0.AT3", 1, 3130158, 3130158},
    {"/PSP_GAME/SYSDIR/BOOT.BIN", 1, 3170304, kBootSize},  // the boot-file rule: a copy of EBOOT.BIN
    {"/PSP_GAME/SYSDIR/EBOOT.BIN", 0, 3170304, kBootSize},
    {"/PSP_GAME/INSDIR/VOICE.DAT", 1, 41948040, 41948040},
    {kArchivePath, 2, 0, 0},
    {"/PSP_GAME/USRDIR/fonts.pgf", 0, 803412, kFontSize},
    {"/PSP_GAME/USRDIR/BGM.PHD", 1, 16384, 16384},
    {"/PSP_GAME/USRDIR/BGM.PBD", 1, 32235057, 32235057},
    {"/PSP_GAME/USRDIR/SE.PHD", 0, 8192, 8192},
    {"/PSP_GAME/USRDIR/SE.PBD", 1, 12587012, 12587012},
    {"/PSP_GAME/USRDIR/MENU.BIN", 0, 40960, 45913},
    {"/PSP_GAME/USRDIR/SCRIPT.BIN", 0, 1498211, 1776686},
    {"/PSP_GAME/USRDIR/TEXT.BIN", 0, 429507, 546240},
    {"/PSP_GAME/USRDIR/NAME.BIN", 0, 2048, 2048},
    {"/PSP_GAME/USRDIR/EVENT.BIN", 0, 161440, 172704},
    {"/PSP_GAME/USRDIR/SYSTEM.BIN", 0, 20000, 20480},
    {"/PSP_GAME/USRDIR/EMPTY.DAT", 0, 0, 0},
    {"/PSP_GAME/USRDIR/OP.PMF", 1, kLargestFile, kLargestFile},
    {"/PSP_GAME/USRDIR/ED.PMF", 1, 104991051, 104991051},
    {"/PSP_GAME/USRDIR/EV01.PMF", 1, 48555817, 48555817},
    {"/PSP_GAME/USRDIR/LOGO.PMF", 1, 5249080, 5249080},
};

// One node of the archive model: a leaf (a pattern, or held bytes) or an archive of members.
struct Node {
    std::string name;
    uint32_t reserved = 0;
    uint32_t headerReserved = 0;
    bool isArchive = false;
    std::vector<Node> members;
    uint64_t seed = 0;
    uint32_t size = 0;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
};

// Per archive level below the root: nested archives, leaves, and the leaves' size range.
struct LevelShape {
    uint32_t archives;
    uint32_t leaves;
    uint32_t minLeaf;
    uint32_t maxLeaf;
};
// Root: 12 packs, 6 large media members and one last member that sets the archive's size.
constexpr uint32_t kRootPacks = 12;
constexpr uint32_t kRootMedia = 6;
constexpr LevelShape kLevels[] = {
    {4, 24, 4 << 10, 400 << 10},  // members at depth 2
    {2, 12, 2 << 10, 120 << 10},  // depth 3
    {1, 8, 1 << 10, 40 << 10},    // depth 4
    {0, 6, 1 << 10, 20 << 10},    // depth 5
};

uint64_t measure(const Node& node);

ArchiveLayout layOut(const Node& archive) {
    std::vector<ArchiveMemberSpec> recipes;
    for (const Node& m : archive.members) recipes.push_back({m.name, m.reserved, measure(m)});
    ArchiveWriteOptions options;
    options.headerReserved = archive.headerReserved;
    options.nameFieldWidth = kNameFieldWidth;
    return LayOutArchive(recipes, options);
}

uint64_t measure(const Node& node) { return node.isArchive ? layOut(node).archiveSize : node.size; }

void emit(const Node& node, uint64_t base, std::vector<Segment>& out) {
    if (!node.isArchive) {
        if (node.size > 0) out.push_back({base, node.size, node.bytes, node.seed});
        return;
    }
    ArchiveLayout layout = layOut(node);
    const auto headerBytes = static_cast<uint32_t>(layout.header.size());
    out.push_back({base, headerBytes, std::make_shared<const std::vector<uint8_t>>(std::move(layout.header)), 0});
    for (size_t k = 0; k < node.members.size(); ++k) emit(node.members[k], base + layout.memberOffsets[k], out);
}

Contents compose(const Node& root) {
    std::vector<Segment> segments;
    emit(root, 0, segments);
    return Contents::Composed(std::move(segments), static_cast<uint32_t>(measure(root)));
}

Node makeArchive(Random& random, uint32_t level, uint64_t& serial) {
    const LevelShape& shape = kLevels[level];
    Node archive;
    archive.isArchive = true;
    archive.headerReserved = 0x20090000u + level;
    const uint32_t count = shape.archives + shape.leaves;
    // Nested archives spread among the leaves.
    const uint32_t stride = shape.archives == 0 ? 0 : count / shape.archives;
    for (uint32_t k = 0; k < count; ++k) {
        Node m;
        if (stride != 0 && k % stride == 1 && k / stride < shape.archives) {
            m = makeArchive(random, level + 1, serial);
            m.name = "arc" + std::to_string(serial++);
        } else {
            m.name = "item" + std::to_string(serial) + (k % 2 ? ".gz" : " dat");
            m.seed = 0xF5000000u + serial++;
            m.size = random.Between(shape.minLeaf, shape.maxLeaf);
        }
        m.reserved = 0xA5000000u | static_cast<uint32_t>(serial & 0xFFFFFF);
        archive.members.push_back(std::move(m));
    }
    return archive;
}

// A gzip stream's header followed by incompressible bytes: the shape of the replacement members.
std::vector<uint8_t> gzipLike(Random& random, uint32_t size) {
    std::vector<uint8_t> out(size);
    FillPattern(random.Next(), 0, out.data(), size);
    const uint8_t header[] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03};
    std::copy_n(header, std::min<size_t>(size, sizeof header), out.begin());
    return out;
}

std::vector<uint8_t> rawTable(Random& random, uint32_t size) {
    std::vector<uint8_t> out(size);
    FillPattern(random.Next(), 0, out.data(), size);
    const uint8_t magic[] = {'T', 'B', 'L', '1'};
    std::copy_n(magic, std::min<size_t>(size, sizeof magic), out.begin());
    return out;
}

constexpr uint32_t kReplacedLeafLimit = 64 << 10;

uint32_t recordOverhead(const std::vector<uint32_t>& path) { return 8 + 4 * static_cast<uint32_t>(path.size()); }

// RES.DAT before and after the translation, and the 1,003 records that turn one into the other:
// 1,001 gzip-like members, one leaf that becomes an archive (whose member 2 a later record
// replaces again), one raw table.
void makeResourceArchive(Random& random, DemoFile& file, uint32_t& recordCount) {
    uint64_t serial = 0;
    Node original;
    original.isArchive = true;
    original.headerReserved = 0x20090000u;
    for (uint32_t k = 0; k < kRootPacks; ++k) {
        Node pack = makeArchive(random, 0, serial);
        pack.name = "pack" + std::to_string(k) + ".gpda";
        original.members.push_back(std::move(pack));
        if (k % 2 == 1 && k / 2 < kRootMedia) {
            Node media;
            media.name = "media" + std::to_string(k / 2) + ".pmf";
            media.seed = 0xF6000000u + k;
            media.size = random.Between(6 << 20, 10 << 20);
            original.members.push_back(std::move(media));
        }
    }
    Node filler;
    filler.name = "bgm.pack";
    filler.seed = 0xF7000000u;
    original.members.push_back(std::move(filler));

    // The replaced leaves, ascending by path: small members (scripts and texts), as in the game.
    std::vector<std::vector<uint32_t>> leaves;
    std::vector<uint32_t> path;
    CollectReplaceableLeaves(original, path, leaves);
    std::erase_if(leaves, [&](const auto& p) { return MemberAt(original, p).size > kReplacedLeafLimit; });
    for (size_t i = leaves.size(); i > 1; --i) std::swap(leaves[i - 1], leaves[random.Below(static_cast<uint32_t>(i))]);
    const uint32_t leafRecords = kRecordCount - 1;  // one more record reaches inside a new archive
    if (leaves.size() < leafRecords) throw std::logic_error("full-scale archive: too few leaves");
    leaves.resize(leafRecords);
    std::sort(leaves.begin(), leaves.end());

    // The leaf that becomes an archive: the first one at depth 3, so its members are at depth 4.
    const auto nested = std::find_if(leaves.begin(), leaves.end(), [](const auto& p) { return p.size() == 3; });
    const auto raw = std::find_if(leaves.begin(), leaves.end(), [](const auto& p) { return p.size() == 2; });
    if (nested == leaves.end() || raw == leaves.end()) throw std::logic_error("full-scale archive: shape");
    Node sub;
    sub.isArchive = true;
    for (uint32_t k = 1; k <= 3; ++k) {
        Node leaf;
        leaf.name = "new" + std::to_string(k);
        leaf.bytes = std::make_shared<const std::vector<uint8_t>>(gzipLike(random, random.Between(1500, 5000)));
        leaf.size = static_cast<uint32_t>(leaf.bytes->size());
        sub.members.push_back(std::move(leaf));
    }
    std::vector<uint8_t> subBytes(measure(sub));
    compose(sub).Read(0, subBytes.data(), static_cast<uint32_t>(subBytes.size()));
    std::vector<uint32_t> innerPath = *nested;
    innerPath.push_back(2);

    // Content sizes: random, then scaled so the records fill exactly their stated length.
    std::vector<std::vector<uint32_t>> gzipPaths;
    uint64_t fixedBytes = 4 + subBytes.size() + recordOverhead(*nested) + recordOverhead(innerPath);
    for (const auto& p : leaves) {
        if (p != *nested && p != *raw) gzipPaths.push_back(p);
        if (p != *nested) fixedBytes += recordOverhead(p);
    }
    gzipPaths.push_back(innerPath);
    std::vector<uint64_t> weights;
    for (size_t i = 0; i <= gzipPaths.size(); ++i) weights.push_back(random.Between(600, 11600));
    const uint64_t contentBytes = kRecordBytes - fixedBytes;
    const uint64_t weightSum = std::accumulate(weights.begin(), weights.end(), uint64_t{0});
    std::vector<uint32_t> sizes;
    for (uint64_t w : weights) sizes.push_back(static_cast<uint32_t>(std::max<uint64_t>(16, w * contentBytes / weightSum)));
    const uint64_t sizeSum = std::accumulate(sizes.begin(), sizes.end(), uint64_t{0});
    if (sizeSum > contentBytes) throw std::logic_error("full-scale archive: record sizes");
    sizes.back() += static_cast<uint32_t>(contentBytes - sizeSum);  // the rounding left over

    Node translated = original;
    std::vector<ArchivePatchInput> records;
    size_t nextSize = 0;
    for (const auto& p : leaves) {
        if (p == *nested) {
            records.push_back({p, subBytes});
            Node& target = MemberAt(translated, p);
            const std::string name = target.name;
            const uint32_t reserved = target.reserved;
            target = sub;
            target.name = name;
            target.reserved = reserved;
            auto content = gzipLike(random, sizes[nextSize++]);
            Node& inner = MemberAt(translated, innerPath);
            inner.bytes = std::make_shared<const std::vector<uint8_t>>(content);
            inner.size = static_cast<uint32_t>(content.size());
            records.push_back({innerPath, std::move(content)});
            continue;
        }
        auto content = p == *raw ? rawTable(random, sizes[nextSize++]) : gzipLike(random, sizes[nextSize++]);
        Node& target = MemberAt(translated, p);
        target.bytes = std::make_shared<const std::vector<uint8_t>>(content);
        target.size = static_cast<uint32_t>(content.size());
        records.push_back({p, std::move(content)});
    }

    // The last root member ends the rebuilt archive exactly at its stated size.
    const ArchiveLayout rebuilt = layOut(translated);
    const uint32_t fillerOffset = rebuilt.memberOffsets.back();
    if (fillerOffset >= kArchiveSize) throw std::logic_error("full-scale archive: members exceed the archive");
    original.members.back().size = kArchiveSize - fillerOffset;
    translated.members.back().size = kArchiveSize - fillerOffset;

    recordCount = static_cast<uint32_t>(records.size());
    file.original = compose(original);
    file.translated = compose(translated);
    file.records = EncodeArchivePatchRecords(records);
}

}  // namespace

DemoDisc MakeFullScaleDisc(uint64_t seed) {
    Random random(seed);
    DemoDisc disc;
    for (const FileSpec& recipe : kFiles) {
        DemoFile f;
        f.path = recipe.path;
        f.mode = recipe.mode;
        const uint64_t fileSeed = seed * 1000003u + 0xF00000u + disc.files.size();
        if (f.path == "/UMD_DATA.BIN") {
            const std::string text = "KVXM-20417|0123456789ABCDEF|0001|G|FULL-SCALE DEMO DISC  ";
            f.original = Contents::Bytes(std::vector<uint8_t>(text.begin(), text.begin() + recipe.originalSize));
            f.translated = f.original;
        } else if (recipe.mode == 2) {
            makeResourceArchive(random, f, disc.recordCount);
        } else {
            f.original = Contents::Pattern(fileSeed, recipe.originalSize);
            f.translated = recipe.mode == 1 ? f.original : Contents::Pattern(fileSeed + 0x5000, recipe.translatedSize);
        }
        disc.files.push_back(std::move(f));
    }
    auto find = [&](const char* path) -> DemoFile& {
        for (auto& f : disc.files)
            if (f.path == path) return f;
        throw std::logic_error(path);
    };
    find("/PSP_GAME/SYSDIR/BOOT.BIN").translated = find("/PSP_GAME/SYSDIR/EBOOT.BIN").translated;
    // The original disc keeps the same order, so a binary delta of the two images stays small.
    disc.originalOrder.resize(disc.files.size());
    std::iota(disc.originalOrder.begin(), disc.originalOrder.end(), size_t{0});
    return disc;
}

void CheckFullScaleFacts(const DemoDisc& disc) {
    auto require = [](bool holds, const std::string& fact) {
        if (!holds) throw std::logic_error("full-scale disc: " + fact);
    };
    const UmdLayout layout = TranslatedLayout(disc);
    require(layout.volumeSectors == kVolumeSectors, "volume of 644,877 sectors");
    require(UmdHeaderSectors(layout) == kHeaderSectors, "header of 27 sectors");
    require(disc.files.size() == 26, "26 files");
    uint32_t modes[3] = {};
    uint64_t packageBytes = 12 + uint64_t{kHeaderSectors} * 2048;
    uint64_t pieces = 1;  // the header sectors
    uint32_t largest = 0;
    for (size_t i = 0; i < disc.files.size(); ++i) {
        const DemoFile& f = disc.files[i];
        require(f.mode <= 2, "modes 0 to 2");
        ++modes[f.mode];
        packageBytes += 21 + f.path.size() + (f.mode == 0 ? f.translated.size : f.mode == 2 ? f.records.size() : 0);
        pieces += (uint64_t{f.translated.size} + kPiece - 1) / kPiece;
        largest = std::max(largest, f.translated.size);
        const UmdFile& placed = layout.files[i];
        if (f.path == "/UMD_DATA.BIN") require(placed.startSector == 27 && placed.size == 48, "/UMD_DATA.BIN at 27");
        if (f.path == "/PSP_GAME/SYSDIR/BOOT.BIN")
            require(f.mode == 1 && placed.size == kBootSize && placed.startSector == kBootSector, "BOOT.BIN at 1783");
        if (f.path == "/PSP_GAME/USRDIR/fonts.pgf") require(placed.size == kFontSize, "fonts.pgf size");
        if (f.path == kArchivePath) require(f.translated.size == kArchiveSize, "RES.DAT rebuilt size");
    }
    require(modes[0] == 15 && modes[1] == 10 && modes[2] == 1, "15/10/1 entries in modes 0/1/2");
    require(largest == kLargestFile, "largest file");
    require(packageBytes == kPackageBytes, "package of 14,344,788 bytes");
    require(pieces == kPieces, "1,278 pieces");

    const DemoFile& archive = disc.files.at(9);
    require(archive.records.size() == kRecordBytes, "records fill 6,135,323 bytes");
    const auto records = DecodeArchivePatchRecords(archive.records.data(), archive.records.size());
    require(records && records->size() == kRecordCount, "1,003 records");
    uint32_t gzip = 0;
    for (size_t i = 0; i < records->size(); ++i) {
        const ArchivePatchRecord& r = (*records)[i];
        require(r.depth >= 2 && r.depth <= 5, "record depths 2 to 5");
        require(i == 0 || (*records)[i - 1].memberPath < r.memberPath, "records ascending by path");
        gzip += r.contentLength >= 2 && r.content[0] == 0x1F && r.content[1] == 0x8B;
    }
    require(gzip == kGzipRecords, "1,001 gzip contents");
}

}  // namespace tessaly::demo
