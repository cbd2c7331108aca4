#include "maker/image_verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "builder/image_build_job.h"
#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "maker/image_file.h"
#include "package/crc32.h"
#include "platform/text.h"

namespace tessaly::maker {

namespace {

constexpr uint32_t kRecordExtentField = 2;
constexpr uint32_t kRecordSizeField = 10;
constexpr size_t kRecordsNamed = 3;

uint32_t getLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void putBoth32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
        p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

// Appended, not prepended: GCC 12 warns falsely (-Wrestrict) on a literal + std::string.
std::string quoted(const std::filesystem::path& path) {
    std::string text(1, '\'');
    text += PathToUtf8(path);
    text += '\'';
    return text;
}

std::string crcText(uint32_t expected, uint32_t actual) {
    char text[48];
    std::snprintf(text, sizeof text, "expected CRC-32 %08X, got %08X", expected, actual);
    return text;
}

// The header sectors as the build job writes them when every file has the package's size.
std::vector<uint8_t> laidOutHeader(const PatchPackage& package) {
    std::vector<uint8_t> header(package.header.get(), package.header.get() + package.headerLength);
    uint64_t next = package.headerIndex->volume->firstFreeSector;
    for (uint32_t i = 1; i <= package.entryCount; ++i) {
        const PatchEntry& e = package.entries[i];
        uint8_t* record = header.data() + e.newRecord->recordOffset;
        putBoth32(record + kRecordExtentField, static_cast<uint32_t>(next));
        putBoth32(record + kRecordSizeField, e.size);
        const uint64_t sectors = SectorsFor(e.size);
        next += std::strcmp(e.path, kFontPath) == 0 ? std::max<uint64_t>(sectors, kFontSlotSectors) : sectors;
    }
    putBoth32(header.data() + package.headerIndex->volume->volumeSizeOffset, static_cast<uint32_t>(next));
    return header;
}

// Which directory records of the image differ from the laid-out header, for the message.
std::string recordDifferences(const PatchPackage& package, const std::vector<uint8_t>& expected,
                              const std::vector<uint8_t>& actual) {
    std::string text;
    size_t named = 0, differing = 0;
    for (uint32_t i = 1; i <= package.entryCount; ++i) {
        const uint32_t at = package.entries[i].newRecord->recordOffset;
        const uint8_t* want = expected.data() + at;
        const uint8_t* got = actual.data() + at;
        if (std::memcmp(want + kRecordExtentField, got + kRecordExtentField, 16) == 0) continue;
        if (named++ < kRecordsNamed)
            text += std::string(text.empty() ? "" : "; ") + package.entries[i].path + " at sector " +
                    std::to_string(getLe32(got + kRecordExtentField)) + " with " +
                    std::to_string(getLe32(got + kRecordSizeField)) + " bytes, expected sector " +
                    std::to_string(getLe32(want + kRecordExtentField)) + " with " +
                    std::to_string(getLe32(want + kRecordSizeField));
        ++differing;
    }
    if (differing == 0) return {};
    return "directory records differ: " + text + (differing > kRecordsNamed ? "; ..." : "");
}

}  // namespace

VerifyOutcome VerifyImage(const PatchPackage& package, const std::filesystem::path& imagePath) {
    VerifyOutcome outcome;
    ImageFile image;
    if (!image.Open(imagePath)) {
        outcome.problem = "cannot open " + quoted(imagePath);
        return outcome;
    }
    IsoIndex index;
    index.openImage(imagePath);
    if (!index.volume) {
        outcome.problem = quoted(imagePath) + " cannot be read as a UMD disc image: " +
                          (index.errorText ? IsoErrorTextUtf8(*index.errorText) : std::string());
        return outcome;
    }
    outcome.readable = true;

    const std::vector<uint8_t> expected = laidOutHeader(package);
    std::vector<uint8_t> actual(expected.size());
    image.ReadAt(0, actual.data(), static_cast<uint32_t>(actual.size()));
    uint32_t expectedCrc = 0, actualCrc = 0;
    Crc32Update(expected.data(), expectedCrc, expected.size());
    Crc32Update(actual.data(), actualCrc, actual.size());
    outcome.headerMatches = actual == expected;
    if (!outcome.headerMatches) {
        std::string detail = recordDifferences(package, expected, actual);
        outcome.differences.push_back({kHeaderSectorsName, detail.empty() ? crcText(expectedCrc, actualCrc) : detail});
    } else if (expectedCrc != package.headerCrc) {
        // A build with this package reports its header sectors as failed, whatever the source.
        outcome.headerMatches = false;
        outcome.differences.push_back(
            {kHeaderSectorsName, "the package's header CRC-32 does not match its own layout: " +
                                     crcText(package.headerCrc, expectedCrc)});
    }

    for (uint32_t i = 1; i <= package.entryCount; ++i) {
        const PatchEntry& e = package.entries[i];
        ++outcome.filesChecked;
        const IsoFileRecord* record = index.find(e.path);
        if (record == nullptr || record->type != IsoFileRecord::File) {
            outcome.differences.push_back({e.path, "missing from the image"});
            continue;
        }
        const RangeScan scan = ScanRange(image, uint64_t{record->startSector} * kSectorBytes, record->size);
        std::string detail;
        if (scan.crc != e.crc || record->size != e.size) detail = crcText(e.crc, scan.crc);
        if (record->size != e.size)
            detail += std::string(" (") + std::to_string(record->size) + " bytes, expected " + std::to_string(e.size) +
                      ")";
        if (!scan.complete) detail += " (the image ends inside it)";
        if (!detail.empty()) outcome.differences.push_back({e.path, detail});
    }
    return outcome;
}

}  // namespace tessaly::maker
