#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "package/patch_package.h"
#include "support/exact_bytes.h"
#include "support/image_builder.h"
#include "support/package_builder.h"

namespace tessaly {
namespace {

using test::EncodedPackage;
using test::EncodePackage;
using test::ExactBytes;
using test::PackageEntrySpec;
using test::ShippedShape;
using test::ShippedShapePackage;

constexpr const char* kUmdData = "/UMD_DATA.BIN";

void expectEmpty(const PatchPackage& package) {
    EXPECT_EQ(package.headerIndex, nullptr);
    EXPECT_EQ(package.entries, nullptr);
    EXPECT_EQ(package.header, nullptr);
}

// Loads from an exactly sized heap copy: any read past the length is an AddressSanitizer error.
class LoadedPackage {
public:
    explicit LoadedPackage(const std::vector<uint8_t>& bytes) : LoadedPackage(bytes, bytes.size()) {}
    LoadedPackage(const std::vector<uint8_t>& bytes, size_t length) : m_bytes(bytes, length) {
        package.load(m_bytes.data(), m_bytes.size());
    }
    const uint8_t* bytes() const { return m_bytes.data(); }

private:
    ExactBytes m_bytes;  // first: the package points into it

public:
    PatchPackage package;
};

TEST(PatchPackage, ShippedShapeLoadsWithEveryFieldSet) {
    const ShippedShape shape = ShippedShapePackage();
    ASSERT_EQ(shape.headerSectors, 27u);
    ASSERT_EQ(shape.recipe.entries.size(), 26u);
    const EncodedPackage encoded = EncodePackage(shape.recipe);
    LoadedPackage loaded(encoded.bytes);
    const PatchPackage& p = loaded.package;

    ASSERT_FALSE(p.corrupt);
    EXPECT_EQ(p.entryCount, 26u);
    EXPECT_EQ(p.headerLength, 27u * 2048);
    EXPECT_EQ(p.headerCrc, encoded.headerCrc);
    ASSERT_NE(p.header, nullptr);
    // A writable copy, not the package's own bytes.
    EXPECT_NE(p.header.get(), loaded.bytes() + test::kPackageHeaderStart);
    EXPECT_EQ(std::memcmp(p.header.get(), shape.recipe.header.data(), shape.recipe.header.size()), 0);

    ASSERT_NE(p.headerIndex, nullptr);
    ASSERT_NE(p.headerIndex->volume, nullptr);
    EXPECT_EQ(p.headerIndex->volume->directoryCount, 5u);
    EXPECT_EQ(p.headerIndex->volume->fileCount, 26u);
    EXPECT_EQ(p.headerIndex->volume->firstFreeSector, 27u);

    const PatchEntry& head = p.entries[0];
    EXPECT_EQ(head.newRecord, nullptr);
    EXPECT_EQ(head.path, nullptr);
    EXPECT_EQ(head.imageOffset, 0u);
    EXPECT_EQ(head.size, 27u * 2048);
    EXPECT_EQ(head.dataLength, 27u * 2048);
    EXPECT_EQ(head.mode, 0u);
    EXPECT_EQ(head.crc, encoded.headerCrc);
    EXPECT_EQ(head.data, p.header.get());

    const size_t bootIndex = shape.indexOf(PatchPackage::kBootPath);
    for (size_t i = 0; i < shape.recipe.entries.size(); ++i) {
        const PackageEntrySpec& want = shape.recipe.entries[i];
        const PatchEntry& e = p.entries[i + 1];
        SCOPED_TRACE(want.path);
        EXPECT_EQ(e.path, reinterpret_cast<const char*>(loaded.bytes() + encoded.entries[i].path));
        EXPECT_STREQ(e.path, want.path.c_str());
        ASSERT_NE(e.newRecord, nullptr);
        EXPECT_EQ(e.newRecord, p.headerIndex->find(want.path));
        EXPECT_EQ(e.imageOffset, shape.file(want.path).startSector * 2048u);
        EXPECT_EQ(e.sourceFile, nullptr);
        EXPECT_EQ(e.sourceOffset, 0u);
        EXPECT_EQ(e.archive, nullptr);
        if (i == bootIndex) continue;  // rewritten by the boot-file rule, checked below
        EXPECT_EQ(e.size, want.size);
        EXPECT_EQ(e.crc, want.crc);
        EXPECT_EQ(e.mode, want.mode);
        EXPECT_EQ(e.dataLength, want.stored.size());
        EXPECT_EQ(e.data, loaded.bytes() + encoded.entries[i].stored);
    }

    const PatchEntry& umdData = p.entries[1];
    EXPECT_STREQ(umdData.path, kUmdData);
    EXPECT_EQ(umdData.imageOffset, 27u * 2048);
    EXPECT_EQ(umdData.size, 48u);
}

TEST(PatchPackage, BootFileBecomesACopyOfEbootKeepingItsOwnPlace) {
    const ShippedShape shape = ShippedShapePackage();
    const EncodedPackage encoded = EncodePackage(shape.recipe);
    LoadedPackage loaded(encoded.bytes);
    ASSERT_FALSE(loaded.package.corrupt);

    const size_t bootIndex = shape.indexOf(PatchPackage::kBootPath);
    const size_t ebootIndex = shape.indexOf(PatchPackage::kEbootPath);
    ASSERT_EQ(shape.recipe.entries[bootIndex].mode, 1u);
    ASSERT_NE(shape.recipe.entries[bootIndex].size, shape.recipe.entries[ebootIndex].size);
    const PatchEntry& boot = loaded.package.entries[bootIndex + 1];
    const PatchEntry& eboot = loaded.package.entries[ebootIndex + 1];

    EXPECT_EQ(boot.mode, 0u);
    EXPECT_EQ(boot.data, eboot.data);
    EXPECT_EQ(boot.dataLength, eboot.dataLength);
    EXPECT_EQ(boot.crc, eboot.crc);
    EXPECT_EQ(boot.size, eboot.size);
    EXPECT_EQ(boot.imageOffset, shape.file(PatchPackage::kBootPath).startSector * 2048u);
    EXPECT_NE(boot.imageOffset, eboot.imageOffset);
    EXPECT_STREQ(boot.path, PatchPackage::kBootPath);
    EXPECT_EQ(boot.newRecord, loaded.package.headerIndex->find(PatchPackage::kBootPath));
    // EBOOT.BIN itself is untouched.
    EXPECT_EQ(eboot.mode, 0u);
    EXPECT_EQ(eboot.data, loaded.bytes() + encoded.entries[ebootIndex].stored);
}

TEST(PatchPackage, EbootOldIsTheBootSourceWhenPresent) {
    const ShippedShape shape = ShippedShapePackage(/*withEbootOld=*/true);
    ASSERT_EQ(shape.recipe.entries.size(), 27u);
    const EncodedPackage encoded = EncodePackage(shape.recipe);
    LoadedPackage loaded(encoded.bytes);
    ASSERT_FALSE(loaded.package.corrupt);

    const size_t oldIndex = shape.indexOf(PatchPackage::kEbootOldPath);
    const PatchEntry& boot = loaded.package.entries[shape.indexOf(PatchPackage::kBootPath) + 1];
    const PatchEntry& old = loaded.package.entries[oldIndex + 1];
    EXPECT_EQ(boot.data, loaded.bytes() + encoded.entries[oldIndex].stored);
    EXPECT_EQ(boot.dataLength, old.dataLength);
    EXPECT_EQ(boot.crc, shape.recipe.entries[oldIndex].crc);
    EXPECT_EQ(boot.size, shape.recipe.entries[oldIndex].size);
    EXPECT_EQ(boot.mode, old.mode);
    EXPECT_NE(boot.crc, shape.entry(PatchPackage::kEbootPath).crc);
    EXPECT_EQ(boot.imageOffset, shape.file(PatchPackage::kBootPath).startSector * 2048u);
}

// Packages that differ from the shipped shape in ways the loader accepts.
TEST(PatchPackage, AcceptedVariants) {
    struct Case {
        const char* name;
        std::function<void(ShippedShape&)> change;
        std::function<void(const ShippedShape&, const PatchPackage&)> check;
    };
    const auto bootOf = [](const ShippedShape& s, const PatchPackage& p) -> const PatchEntry& {
        return p.entries[s.indexOf(PatchPackage::kBootPath) + 1];
    };
    const Case cases[] = {
        {"mode-1 entry with stored bytes",
         [](ShippedShape& s) { s.recipe.entries[s.indexOf("/PSP_GAME/SND0.AT3")].stored = {1, 2, 3}; },
         [](const ShippedShape& s, const PatchPackage& p) {
             EXPECT_EQ(p.entries[s.indexOf("/PSP_GAME/SND0.AT3") + 1].dataLength, 3u);
         }},
        {"mode outside 0..2 is not validated",
         [](ShippedShape& s) { s.recipe.entries[s.indexOf("/PSP_GAME/SND0.AT3")].mode = 7; },
         [](const ShippedShape& s, const PatchPackage& p) {
             EXPECT_EQ(p.entries[s.indexOf("/PSP_GAME/SND0.AT3") + 1].mode, 7u);
         }},
        {"wrong CRC values are not checked",
         [](ShippedShape& s) { s.recipe.entries[0].crc ^= 0xFFFFFFFFu; },
         [](const ShippedShape& s, const PatchPackage& p) { EXPECT_EQ(p.entries[1].crc, s.recipe.entries[0].crc); }},
        {"not every file of the header has an entry",
         [](ShippedShape& s) { s.recipe.entries.erase(s.recipe.entries.begin() + static_cast<ptrdiff_t>(s.indexOf("/PSP_GAME/PIC1.PNG"))); },
         [](const ShippedShape&, const PatchPackage& p) { EXPECT_EQ(p.entryCount, 25u); }},
        {"a later EBOOT.BIN entry replaces the earlier as the boot source",
         [](ShippedShape& s) {
             PackageEntrySpec second = s.entry(PatchPackage::kEbootPath);
             second.stored.assign(second.size, 0xAB);
             second.crc = test::ReferenceCrc32(second.stored);
             s.recipe.entries.push_back(second);
         },
         [bootOf](const ShippedShape& s, const PatchPackage& p) {
             EXPECT_EQ(bootOf(s, p).crc, s.recipe.entries.back().crc);
             EXPECT_EQ(bootOf(s, p).data, p.entries[s.recipe.entries.size()].data);
         }},
        {"EBOOT.BIN path with bytes after its zero byte",
         [](ShippedShape& s) {
             s.recipe.entries[s.indexOf(PatchPackage::kEbootPath)].path += std::string("\0XY", 3);
         },
         [bootOf](const ShippedShape& s, const PatchPackage& p) {
             EXPECT_STREQ(p.entries[s.indexOf(std::string(PatchPackage::kEbootPath) + std::string("\0XY", 3)) + 1].path,
                          PatchPackage::kEbootPath);
             EXPECT_EQ(bootOf(s, p).crc, s.entry(std::string(PatchPackage::kEbootPath) + std::string("\0XY", 3)).crc);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShippedShape shape = ShippedShapePackage();
        c.change(shape);
        LoadedPackage loaded(EncodePackage(shape.recipe).bytes);
        ASSERT_FALSE(loaded.package.corrupt);
        c.check(shape, loaded.package);
    }
}

// Bytes made from the shipped shape, then damaged.
struct CorruptCase {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<CorruptCase> corruptCases() {
    std::vector<CorruptCase> cases;
    const ShippedShape base = ShippedShapePackage();
    const auto fromSpec = [&](std::string name, const std::function<void(ShippedShape&)>& change) {
        ShippedShape s = base;
        change(s);
        cases.push_back({std::move(name), EncodePackage(s.recipe).bytes});
    };
    const EncodedPackage encoded = EncodePackage(base.recipe);
    const auto fromBytes = [&](std::string name, const std::function<void(std::vector<uint8_t>&)>& change) {
        std::vector<uint8_t> bytes = encoded.bytes;
        change(bytes);
        cases.push_back({std::move(name), std::move(bytes)});
    };
    const auto erase = [](ShippedShape& s, const char* path) {
        s.recipe.entries.erase(s.recipe.entries.begin() + static_cast<ptrdiff_t>(s.indexOf(path)));
    };

    // The loader's own conditions.
    fromSpec("no EBOOT.BIN entry", [&](ShippedShape& s) { erase(s, PatchPackage::kEbootPath); });
    fromSpec("no BOOT.BIN entry", [&](ShippedShape& s) { erase(s, PatchPackage::kBootPath); });
    fromSpec("EBOOT.OLD does not stand in for EBOOT.BIN", [&](ShippedShape& s) {
        s = ShippedShapePackage(true);
        erase(s, PatchPackage::kEbootPath);
    });
    fromSpec("N = 0 and no entries", [](ShippedShape& s) { s.recipe.entries.clear(); });
    fromBytes("N = 0 with entries following", [](std::vector<uint8_t>& b) { test::PutLe32(b, 0, 0); });
    fromSpec("header too short for the size field", [](ShippedShape& s) { s.recipe.header.resize(32851); });
    fromSpec("header too short for the path tables", [](ShippedShape& s) { s.recipe.header.resize(32915); });
    fromSpec("header of no bytes", [](ShippedShape& s) { s.recipe.header.clear(); });
    fromSpec("header that cannot be indexed", [](ShippedShape& s) { test::SetVolumeSectors(s.recipe.header, 1u << 21); });
    fromSpec("path not in the header's directory",
             [](ShippedShape& s) { s.recipe.entries[3].path = "/PSP_GAME/SYSDIR/NOPE.BIN"; });
    fromSpec("path differing only in letter case",
             [](ShippedShape& s) { s.recipe.entries[s.indexOf("/PSP_GAME/USRDIR/fonts.pgf")].path = "/PSP_GAME/USRDIR/FONTS.PGF"; });
    fromSpec("path with a version suffix", [](ShippedShape& s) { s.recipe.entries[0].path = "/UMD_DATA.BIN;1"; });
    fromSpec("size one byte larger than the record", [](ShippedShape& s) {
        auto& e = s.recipe.entries[s.indexOf("/PSP_GAME/SND0.AT3")];
        e.size += 1;
    });
    fromSpec("size one byte smaller than the record (mode 0, stored to match)", [](ShippedShape& s) {
        auto& e = s.recipe.entries[0];
        e.size -= 1;
        e.stored.pop_back();
    });
    fromSpec("BOOT.BIN listed with EBOOT.BIN's size", [](ShippedShape& s) {
        s.recipe.entries[s.indexOf(PatchPackage::kBootPath)].size = s.entry(PatchPackage::kEbootPath).size;
    });
    fromSpec("mode-0 stored length one short of the size",
             [](ShippedShape& s) { s.recipe.entries[s.indexOf("/PSP_GAME/PARAM.SFO")].stored.pop_back(); });
    fromSpec("mode-0 stored length one beyond the size",
             [](ShippedShape& s) { s.recipe.entries[s.indexOf("/PSP_GAME/PARAM.SFO")].stored.push_back(0); });

    // Fields that run past the end of the bytes.
    const size_t last = encoded.entries.size() - 1;
    fromBytes("huge N", [](std::vector<uint8_t>& b) { test::PutLe32(b, 0, 0xFFFFFFFFu); });
    fromBytes("N one more than the entries present", [](std::vector<uint8_t>& b) { test::PutLe32(b, 0, 27); });
    fromBytes("huge H", [](std::vector<uint8_t>& b) { test::PutLe32(b, 4, 0xFFFFFFFFu); });
    fromBytes("H beyond the bytes", [](std::vector<uint8_t>& b) { test::PutLe32(b, 4, static_cast<uint32_t>(b.size())); });
    fromBytes("huge path length in the first entry",
              [&](std::vector<uint8_t>& b) { test::PutLe32(b, encoded.entries[0].pathLength, 0xFFFFFFFFu); });
    fromBytes("path length of the last entry beyond the bytes", [&](std::vector<uint8_t>& b) {
        test::PutLe32(b, encoded.entries[last].pathLength, static_cast<uint32_t>(b.size()));
    });
    fromBytes("path without its zero byte", [&](std::vector<uint8_t>& b) { b[encoded.entries[0].terminator] = 'X'; });
    fromBytes("last path without its zero byte, ending the bytes", [&](std::vector<uint8_t>& b) {
        b.resize(encoded.entries[last].terminator + 1);
        b.back() = 'X';
    });
    fromBytes("stored data of the last entry one byte past the end", [&](std::vector<uint8_t>& b) {
        test::PutLe32(b, encoded.entries[last].storedLength, test::GetLe32(b, encoded.entries[last].storedLength) + 1);
    });
    fromBytes("huge stored length", [&](std::vector<uint8_t>& b) {
        test::PutLe32(b, encoded.entries[base.indexOf("/PSP_GAME/ICON1.PMF")].storedLength, 0xFFFFFFFFu);
    });

    // Cut inside every field of the fixed header and of every entry.
    const auto cutAt = [&](const std::string& what, size_t length) {
        cases.push_back({"cut at byte " + std::to_string(length) + " (" + what + ")",
                         std::vector<uint8_t>(encoded.bytes.begin(), encoded.bytes.begin() + static_cast<ptrdiff_t>(length))});
    };
    for (size_t length = 0; length <= test::kPackageHeaderStart; ++length) cutAt("fixed header", length);
    cutAt("header bytes", test::kPackageHeaderStart + 1);
    cutAt("header bytes", test::kPackageHeaderStart + base.recipe.header.size() - 1);
    for (size_t i = 0; i < encoded.entries.size(); ++i) {
        const test::EntryOffsets& at = encoded.entries[i];
        const std::string entry = "entry " + std::to_string(i + 1) + " ";
        const std::pair<const char*, size_t> fields[] = {
            {"path length", at.pathLength}, {"path", at.path}, {"zero byte", at.terminator}, {"size", at.size},
            {"CRC", at.crc}, {"mode", at.mode}, {"stored length", at.storedLength}};
        for (const auto& [field, offset] : fields) {
            cutAt(entry + field, offset);
            if (field != std::string("zero byte")) cutAt(entry + field, offset + 2);
        }
        if (at.end > at.stored) {
            cutAt(entry + "stored bytes", at.stored + (at.end - at.stored) / 2);
            cutAt(entry + "stored bytes", at.end - 1);
        }
    }
    return cases;
}

TEST(PatchPackage, CorruptPackagesEndEmpty) {
    for (const CorruptCase& c : corruptCases()) {
        SCOPED_TRACE(c.name);
        LoadedPackage loaded(c.bytes);
        EXPECT_TRUE(loaded.package.corrupt);
        expectEmpty(loaded.package);
    }
}

TEST(PatchPackage, ExtraBytesAfterTheLastEntryAreIgnored) {
    std::vector<uint8_t> bytes = EncodePackage(ShippedShapePackage().recipe).bytes;
    const size_t exact = bytes.size();
    bytes.resize(exact + 100, 0xEE);
    LoadedPackage loaded(bytes);
    EXPECT_FALSE(loaded.package.corrupt);
    LoadedPackage cut(bytes, exact);
    EXPECT_FALSE(cut.package.corrupt);
}

TEST(PatchPackage, ReleaseEmptiesAndIsIdempotent) {
    PatchPackage empty;
    empty.release();
    empty.release();
    expectEmpty(empty);
    EXPECT_FALSE(empty.corrupt);

    const std::vector<uint8_t> bytes = EncodePackage(ShippedShapePackage().recipe).bytes;
    const ExactBytes exact(bytes);
    PatchPackage p;
    p.load(exact.data(), exact.size());
    ASSERT_FALSE(p.corrupt);
    p.release();
    expectEmpty(p);
    p.release();
    expectEmpty(p);

    // The same object loads again after a release, and after a corrupt load.
    p.load(exact.data(), exact.size());
    ASSERT_FALSE(p.corrupt);
    EXPECT_EQ(p.entryCount, 26u);
    p.load(exact.data(), 5);
    EXPECT_TRUE(p.corrupt);
    expectEmpty(p);
    p.load(exact.data(), exact.size());
    EXPECT_FALSE(p.corrupt);
    ASSERT_NE(p.entries, nullptr);
    EXPECT_STREQ(p.entries[1].path, kUmdData);
}

}  // namespace
}  // namespace tessaly
