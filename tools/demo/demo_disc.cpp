// The demo disc's files and its RES.DAT archive, with the translation's replacements.

#include <algorithm>
#include <stdexcept>
#include <string>
#include <zlib.h>

#include "archive/archive_patch.h"
#include "archive/archive_writer.h"
#include "tools/demo/demo_disc.h"
#include "tools/demo/full_scale.h"
#include "tools/demo/member_paths.h"
#include "tools/demo/pattern.h"
#include "tools/demo/random.h"

namespace tessaly::demo {

namespace {

// Names are stored padded with trailing spaces, as the game's archives keep them.
constexpr uint32_t kNameFieldWidth = 20;

// One member of the archive model: leaf bytes, or a nested archive of members.
struct Member {
    std::string name;
    uint32_t reserved = 0;
    std::vector<uint8_t> bytes;
    bool isArchive = false;
    uint32_t headerReserved = 0;
    std::vector<Member> members;
};

std::vector<uint8_t> serialise(const Member& archive) {
    std::vector<ArchiveMember> members;
    for (const Member& m : archive.members) {
        ArchiveMember w;
        w.name = m.name;
        w.reserved = m.reserved;
        w.bytes = m.isArchive ? serialise(m) : m.bytes;
        members.push_back(std::move(w));
    }
    ArchiveWriteOptions options;
    options.headerReserved = archive.headerReserved;
    options.nameFieldWidth = kNameFieldWidth;
    return WriteArchive(members, options);
}

std::vector<uint8_t> pattern(uint64_t seed, uint32_t size) {
    std::vector<uint8_t> out(size);
    FillPattern(seed, 0, out.data(), size);
    return out;
}

// A gzip stream, as most of the translation's replacement members are.
std::vector<uint8_t> gzip(const std::string& text) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(text.size())) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("zlib deflate");
    return out;
}

std::string translatedText(Random& random, uint32_t lines) {
    static const char* const kLines[] = {
        "欢迎来到奎尔摩尔。\n", "你好，旅行者！今天想买点什么？\n", "存档完成。\n",
        "要继续吗？ 是 / 否\n", "这扇门被锁住了。\n", "获得了【古老的钥匙】。\n",
    };
    std::string text;
    for (uint32_t i = 0; i < lines; ++i) text += kLines[random.Below(6)];
    return text;
}

// Nested archives down to `maxDepth` levels; member names padded by the writer.
Member makeArchive(Random& random, uint32_t depth, uint32_t maxDepth, uint32_t& serial) {
    Member archive;
    archive.isArchive = true;
    archive.headerReserved = 0x20060000u + depth;
    const uint32_t count = depth == 0 ? 6 : 4 + random.Below(3);
    for (uint32_t k = 1; k <= count; ++k) {
        Member m;
        m.name = (depth == 0 ? "pack" : "item") + std::to_string(serial++) + (k % 2 ? ".bin" : " data");
        m.reserved = 0xA5000000u | serial;
        // Member 2 of every archive goes one level deeper, so paths reach the full depth.
        if (depth + 1 < maxDepth && (k == 2 || (depth < 2 && k == 5))) {
            m = makeArchive(random, depth + 1, maxDepth, serial);
            m.name = "arc" + std::to_string(serial++);
        } else {
            const uint32_t size = k == 3 ? 0 : 1 + random.Below(depth < 2 ? 600000u : 90000u);
            m.bytes = pattern(0xAC000000u + serial, size);
        }
        archive.members.push_back(std::move(m));
    }
    return archive;
}

// RES.DAT before and after the translation, and the records that turn one into the other.
void makeResourceArchive(Random& random, DemoFile& file, uint32_t& recordCount) {
    uint32_t serial = 0;
    Member original = makeArchive(random, 0, 5, serial);
    Member translated = original;

    std::vector<std::vector<uint32_t>> leaves;
    std::vector<uint32_t> path;
    CollectReplaceableLeaves(original, path, leaves);
    std::vector<std::vector<uint32_t>> chosen;
    for (size_t i = 0; i < leaves.size(); i += 3) chosen.push_back(leaves[i]);

    std::vector<ArchivePatchInput> records;
    for (size_t i = 0; i < chosen.size(); ++i) {
        Member& target = MemberAt(translated, chosen[i]);
        if (i == 1 && chosen[i].size() == 2) {
            // A leaf that becomes an archive, and a later record that replaces a member inside it.
            Member sub;
            sub.isArchive = true;
            for (uint32_t k = 1; k <= 3; ++k) {
                Member leaf;
                leaf.name = "new" + std::to_string(k);
                leaf.bytes = gzip(translatedText(random, 20 + k));
                sub.members.push_back(std::move(leaf));
            }
            target = sub;
            target.name = MemberAt(original, chosen[i]).name;
            records.push_back({chosen[i], serialise(sub)});
            auto inner = chosen[i];
            inner.push_back(2);
            MemberAt(translated, inner).bytes = gzip(translatedText(random, 40));
            records.push_back({inner, MemberAt(translated, inner).bytes});
            continue;
        }
        target.bytes = i % 4 == 3 ? pattern(0xBE000000u + i, 1 + random.Below(70000))
                                  : gzip(translatedText(random, 10 + random.Below(400)));
        records.push_back({chosen[i], target.bytes});
    }
    recordCount = static_cast<uint32_t>(records.size());
    file.original = Contents::Bytes(serialise(original));
    file.translated = Contents::Bytes(serialise(translated));
    file.records = EncodeArchivePatchRecords(records);
}

struct FileSpec {
    const char* path;
    uint32_t mode;
    uint32_t originalSize;  // the translated size differs for stored files
    uint32_t translatedSize;
};

// Package order = the translated image's order. 15 stored, 10 copied, 1 rebuilt archive.
constexpr FileSpec kFiles[] = {
    {"/UMD_DATA.BIN", 0, 48, 48},
    {"/PSP_GAME/PARAM.SFO", 0, 1264, 1296},
    {"/PSP_GAME/ICON0.PNG", 0, 13421, 14087},
    {"/PSP_GAME/PIC0.PNG", 0, 58312, 61950},
    {"/PSP_GAME/PIC1.PNG", 0, 170844, 181223},
    {"/PSP_GAME/SND0.AT3", 1, 254976, 254976},
    {"/PSP_GAME/SYSDIR/BOOT.BIN", 1, 1503232, 0},  // the boot-file rule: a copy of EBOOT.BIN
    {"/PSP_GAME/SYSDIR/EBOOT.BIN", 0, 1503232, 1536211},
    {"/PSP_GAME/INSDIR/VOICE.DAT", 1, 3145728, 3145728},
    {"/PSP_GAME/INSDIR/RES.DAT", 2, 0, 0},
    {"/PSP_GAME/USRDIR/fonts.pgf", 0, 803412, 1597884},
    {"/PSP_GAME/USRDIR/BGM.PHD", 1, 16384, 16384},
    {"/PSP_GAME/USRDIR/BGM.PBD", 1, 2621440, 2621440},
    {"/PSP_GAME/USRDIR/SE.PHD", 1, 8192, 8192},
    {"/PSP_GAME/USRDIR/SE.PBD", 1, 786432, 786432},
    {"/PSP_GAME/USRDIR/MENU.BIN", 0, 40960, 45913},
    {"/PSP_GAME/USRDIR/SCRIPT.BIN", 0, 398211, 455102},
    {"/PSP_GAME/USRDIR/TEXT.BIN", 0, 129507, 146240},
    {"/PSP_GAME/USRDIR/NAME.BIN", 0, 2048, 2048},
    {"/PSP_GAME/USRDIR/EVENT.BIN", 0, 61440, 72704},
    {"/PSP_GAME/USRDIR/SYSTEM.BIN", 0, 20000, 20480},
    {"/PSP_GAME/USRDIR/EMPTY.DAT", 0, 0, 0},
    {"/PSP_GAME/USRDIR/OP.PMF", 1, 4194304, 4194304},
    {"/PSP_GAME/USRDIR/ED.PMF", 1, 3407872, 3407872},
    {"/PSP_GAME/USRDIR/EV01.PMF", 1, 1835008, 1835008},
    {"/PSP_GAME/USRDIR/LOGO.PMF", 1, 524288, 524288},
};

}  // namespace

DemoDisc MakeDemoDisc(const DemoOptions& options) {
    if (options.fullScale) return MakeFullScaleDisc(options.seed);
    Random random(options.seed);
    DemoDisc disc;
    for (const FileSpec& recipe : kFiles) {
        DemoFile f;
        f.path = recipe.path;
        f.mode = recipe.mode;
        const uint64_t seed = options.seed * 1000003u + disc.files.size();
        if (f.path == "/UMD_DATA.BIN") {
            const std::string text = "KVXM-20417|0123456789ABCDEF|0001|G|DEMO DISC FOR TESSALY  ";
            f.original = Contents::Bytes(std::vector<uint8_t>(text.begin(), text.begin() + recipe.originalSize));
            f.translated = f.original;
        } else if (recipe.mode == 2) {
            makeResourceArchive(random, f, disc.recordCount);
        } else {
            f.original = Contents::Pattern(seed, recipe.originalSize);
            f.translated = recipe.mode == 1 ? f.original : Contents::Pattern(seed + 0x5000, recipe.translatedSize);
        }
        disc.files.push_back(std::move(f));
    }
    // The translated BOOT.BIN is a second copy of the translated EBOOT.BIN.
    auto find = [&](const char* path) -> DemoFile& {
        for (auto& f : disc.files)
            if (f.path == path) return f;
        throw std::logic_error(path);
    };
    find("/PSP_GAME/SYSDIR/BOOT.BIN").translated = find("/PSP_GAME/SYSDIR/EBOOT.BIN").translated;
    return disc;
}

}  // namespace tessaly::demo
