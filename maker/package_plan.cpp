#include "maker/package_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "builder/build_context.h"
#include "builder/image_build_job.h"
#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "maker/archive_diff.h"
#include "maker/image_file.h"
#include "package/crc32.h"
#include "platform/text.h"
#include "resources/messages.h"

namespace tessaly::maker {

namespace {

using Kind = MakeError::Kind;

constexpr uint32_t kIndexedSectors = IsoIndex::kImageIndexBytes / kSectorBytes;
// How far to look for directories when the first 512 KiB do not index, to say why.
constexpr uint64_t kDiagnosisBytes = uint64_t{64} << 20;
constexpr uint64_t kVolumeSectorLimit = uint64_t{1} << 21;
constexpr uint32_t kFirstDescriptorSector = 16;
constexpr uint8_t kPrimaryDescriptor = 1;
constexpr uint8_t kSupplementaryDescriptor = 2;
constexpr uint8_t kTerminatorDescriptor = 255;
constexpr uint32_t kRootExtentInDescriptor = 156 + 2;  // the root directory record's extent
constexpr uint32_t kVolumeSizeInDescriptor = 80;
constexpr uint32_t kPvdOffset = kFirstDescriptorSector * kSectorBytes;
constexpr uint32_t kPathTableSizeField = 132;
constexpr uint32_t kPathTableFields[4] = {140, 144, 148, 152};  // L, optional L, M, optional M
constexpr uint32_t kRecordExtentField = 2;
constexpr uint32_t kRecordSizeField = 10;
constexpr uint32_t kRecordFixedBytes = 33;
constexpr uint32_t kXaSignatureOffset = 6;  // "XA" inside the CD-XA system-use field
constexpr uint32_t kPackageFixedBytes = 12;
constexpr uint32_t kEntryFixedBytes = 4 + 1 + 16;
constexpr size_t kMovesNamed = 3;

struct IndexedImage {
    explicit IndexedImage(const char* name) : label(name) {}
    std::string label;
    ImageFile file;
    std::vector<uint8_t> block;  // the first 512 KiB, which is what the build job indexes
    IsoIndex index;
};

// Appended, not prepended: GCC 12 warns falsely (-Wrestrict) on a literal + std::string.
std::string quoted(const std::filesystem::path& path) {
    std::string text(1, '\'');
    text += PathToUtf8(path);
    text += '\'';
    return text;
}

uint32_t getLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint32_t getBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) | static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[0]) << 24;
}
void putBoth32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
        p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}
void append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string hex32(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

std::string printableCode(std::string code) {
    if (code.empty()) return "(none)";
    for (char& c : code)
        if (c < 0x20 || c > 0x7E) c = '?';
    return code;
}

void indexImage(IndexedImage& image, const std::filesystem::path& path) {
    if (!image.file.Open(path))
        throw MakeError(Kind::CannotRead, image.label + " " + quoted(path) + " cannot be opened");
    const auto blockBytes = static_cast<uint32_t>(std::min<uint64_t>(image.file.Length(), IsoIndex::kImageIndexBytes));
    image.block.resize(blockBytes);
    image.file.ReadAt(0, image.block.data(), blockBytes);
    image.index.build(image.block.data(), image.block.size());
    if (image.index.volume) return;
    const std::string reason = image.index.errorText ? IsoErrorTextUtf8(*image.index.errorText) : "";
    const auto wider = static_cast<uint32_t>(std::min<uint64_t>(image.file.Length(), kDiagnosisBytes));
    if (wider > blockBytes) {
        std::vector<uint8_t> more(wider);
        image.file.ReadAt(0, more.data(), wider);
        IsoIndex probe;
        probe.build(more.data(), more.size());
        if (probe.volume && probe.volume->firstFreeSector > kIndexedSectors)
            throw MakeError(Kind::DirectoriesTooFar,
                            image.label + "'s directories reach sector " +
                                std::to_string(probe.volume->firstFreeSector - 1) +
                                "; the patcher reads an image's directories from its first 256 sectors (512 KiB) only");
    }
    throw MakeError(Kind::CannotRead, image.label + " " + quoted(path) +
                                          " cannot be read as a UMD disc image (ISO 9660 with CD-XA attributes): " +
                                          reason);
}

std::string pathOf(const IsoFileRecord* record) {
    std::string path;
    for (; record != nullptr && record->parent != nullptr; record = record->parent) path = "/" + record->name + path;
    return path.empty() ? "/" : path;
}

struct TranslatedFile {
    std::string path;
    const IsoFileRecord* record;
};

void collectFiles(const IsoFileRecord& directory, const std::string& prefix, std::vector<TranslatedFile>& out) {
    for (const auto& [name, child] : directory.children) {
        const std::string path = prefix + "/" + name;
        if (name.find('/') != std::string::npos)
            throw MakeError(Kind::Unsupported, "TRANSLATED names a file or directory with a '/' in it: " + path);
        // Paths are matched as stored: "EBOOT.BIN;1" would never meet ORIGINAL's "EBOOT.BIN".
        const size_t semicolon = name.rfind(';');
        if (semicolon != std::string::npos && semicolon + 1 < name.size() &&
            name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos)
            throw MakeError(Kind::Unsupported, "TRANSLATED's names carry ISO 9660 version suffixes (" + path +
                                                   "); UMD discs have none, so master the image without them");
        if (child->type == IsoFileRecord::Directory) collectFiles(*child, path, out);
        else out.push_back({path, child});
    }
}

// The primary descriptor, the terminator, and descriptors that share the primary directory (the
// enhanced descriptor of ISO 9660:1999 that level-4 mastering adds): the build job rewrites the primary
// directory and nothing else, so a second tree (Joliet) or a boot record would point at the old
// places. Returns the sectors of the copies, whose volume size must be rewritten too.
std::vector<uint32_t> checkDescriptors(const std::vector<uint8_t>& block) {
    std::vector<uint32_t> copies;
    for (uint32_t sector = kFirstDescriptorSector;; ++sector) {
        const size_t at = size_t{sector} * kSectorBytes;
        if (at + kSectorBytes > block.size() || std::memcmp(block.data() + at + 1, "CD001", 5) != 0)
            throw MakeError(Kind::Unsupported, "TRANSLATED's volume descriptors end without a terminator");
        const uint8_t type = block[at];
        if (type == kTerminatorDescriptor) return copies;
        if (sector == kFirstDescriptorSector && type == kPrimaryDescriptor) continue;
        const uint32_t root = getLe32(block.data() + at + kRootExtentInDescriptor);
        const bool sharesThePrimaryTree =
            type == kSupplementaryDescriptor && root == getLe32(block.data() + kPvdOffset + kRootExtentInDescriptor);
        if (!sharesThePrimaryTree)
            throw MakeError(Kind::Unsupported,
                            "TRANSLATED has a volume descriptor of type " + std::to_string(type) + " at sector " +
                                std::to_string(sector) +
                                " (a boot record, Joliet or another second directory tree); the patcher rewrites only "
                                "the primary directory, so master the image without it");
        copies.push_back(sector);
    }
}

void checkXa(const std::vector<uint8_t>& block, const IsoVolume& volume) {
    for (const auto& [sector, record] : volume.bySector) {
        uint64_t attribute = uint64_t{record->recordOffset} + kRecordFixedBytes + 4 + record->name.size();
        attribute += attribute & 1;
        const uint64_t field = attribute - 4;
        if (field + kXaSignatureOffset + 2 > block.size() || block[field + kXaSignatureOffset] != 'X' ||
            block[field + kXaSignatureOffset + 1] != 'A')
            throw MakeError(Kind::Unsupported,
                            "TRANSLATED's directory record of " + pathOf(record.get()) +
                                " carries no CD-XA attributes; UMD images need them on every record");
    }
}

// The path tables stay where they are in the header sectors: they must lie inside them.
void checkPathTables(const std::vector<uint8_t>& block, uint32_t descriptorSector, uint32_t headerSectors) {
    const uint8_t* descriptor = block.data() + size_t{descriptorSector} * kSectorBytes;
    const uint32_t tableBytes = getLe32(descriptor + kPathTableSizeField);
    for (int t = 0; t < 4; ++t) {
        const uint8_t* field = descriptor + kPathTableFields[t];
        const uint64_t sector = t < 2 ? getLe32(field) : getBe32(field);
        if (sector == 0) continue;
        if (sector + SectorsFor(tableBytes) > headerSectors)
            throw MakeError(Kind::Unsupported, "TRANSLATED's path table at sector " + std::to_string(sector) +
                                                   " lies after its directories, where the build job lays files out");
    }
}

uint32_t sectorsTaken(const PlannedFile& file) {
    const uint32_t sectors = SectorsFor(file.size);
    return file.path == kFontPath ? std::max(sectors, kFontSlotSectors) : sectors;
}

bool sameBytes(ImageFile& a, const IsoFileRecord& ra, ImageFile& b, const IsoFileRecord& rb) {
    if (ra.size != rb.size) return false;
    const uint64_t offsetA = uint64_t{ra.startSector} * kSectorBytes;
    const uint64_t offsetB = uint64_t{rb.startSector} * kSectorBytes;
    if (offsetA > a.Length() || offsetB > b.Length()) return false;
    return ScanRange(a, offsetA, ra.size, &b, offsetB).identical;
}

PlannedFile classify(IndexedImage& original, IndexedImage& translated, const TranslatedFile& file) {
    const IsoFileRecord& t = *file.record;
    PlannedFile f;
    f.path = file.path;
    f.size = t.size;
    f.translatedSector = t.startSector;
    const uint64_t translatedOffset = uint64_t{t.startSector} * kSectorBytes;

    // The build job refuses a copied file that starts past the end of ORIGINAL.
    const IsoFileRecord* o = original.index.find(file.path);
    if (o != nullptr &&
        (o->type != IsoFileRecord::File || uint64_t{o->startSector} * kSectorBytes > original.file.Length()))
        o = nullptr;
    const uint64_t originalOffset = o != nullptr ? uint64_t{o->startSector} * kSectorBytes : 0;

    const bool sameSize = o != nullptr && o->size == t.size;
    const RangeScan scan =
        ScanRange(translated.file, translatedOffset, t.size, sameSize ? &original.file : nullptr, originalOffset);
    if (!scan.complete) throw MakeError(Kind::Unsupported, "TRANSLATED ends inside " + file.path);
    f.crc = scan.crc;
    if (scan.identical) {
        f.mode = EntryMode::Copied;
        return f;
    }
    f.mode = EntryMode::Stored;
    if (o == nullptr || t.size == 0 || o->size == 0) return f;

    const ArchiveNode before(original.file.Path(), static_cast<uint32_t>(originalOffset), o->size);
    const ArchiveNode after(translated.file.Path(), static_cast<uint32_t>(translatedOffset), t.size);
    if (!before.IsArchive() || !after.IsArchive()) return f;
    ArchiveDiff diff = DiffArchives({before, &original.file}, {after, &translated.file});
    if (!diff.expressible) {
        f.note = "stored: " + diff.reason;
        return f;
    }
    const uint64_t recordBytes = EncodedRecordBytes(diff.records);
    if (recordBytes >= t.size) {
        f.note = "stored: its " + std::to_string(diff.records.size()) + " archive patch records (" +
                 std::to_string(recordBytes) + " bytes) would not be smaller than the file";
        return f;
    }
    f.mode = EntryMode::Archive;
    f.records = std::move(diff.records);
    f.recordBytes = recordBytes;
    return f;
}

PlannedFile* findPlanned(std::vector<PlannedFile>& files, const char* path) {
    for (auto& f : files)
        if (f.path == path) return &f;
    return nullptr;
}

const std::string kBootRuleFiles = std::string(PatchPackage::kBootPath) + ", " + PatchPackage::kEbootPath + " and " +
                                   PatchPackage::kEbootOldPath;

// The loader writes BOOT.BIN as a second copy of EBOOT.OLD (EBOOT.BIN without it): TRANSLATED's
// BOOT.BIN must be that copy, and the source entry must give it those bytes in every mode.
void applyBootRule(IndexedImage& original, IndexedImage& translated, std::vector<PlannedFile>& files) {
    PlannedFile* boot = findPlanned(files, PatchPackage::kBootPath);
    PlannedFile* eboot = findPlanned(files, PatchPackage::kEbootPath);
    PlannedFile* ebootOld = findPlanned(files, PatchPackage::kEbootOldPath);
    if (boot == nullptr || eboot == nullptr)
        throw MakeError(Kind::BootFileRule,
                        std::string("TRANSLATED has no ") +
                            (boot == nullptr ? PatchPackage::kBootPath : PatchPackage::kEbootPath) +
                            "; the patcher's boot-file rule (" + kBootRuleFiles +
                            ") needs both BOOT.BIN and EBOOT.BIN in every package");
    PlannedFile& source = ebootOld != nullptr ? *ebootOld : *eboot;
    const IsoFileRecord& bootRecord = *translated.index.find(boot->path);
    const IsoFileRecord& sourceRecord = *translated.index.find(source.path);
    if (!sameBytes(translated.file, bootRecord, translated.file, sourceRecord))
        throw MakeError(Kind::BootFileRule,
                        "TRANSLATED's " + boot->path + " is not a copy of its " + source.path +
                            ". The patcher's boot-file rule writes BOOT.BIN as a second copy of EBOOT.OLD when the "
                            "image has one, otherwise of EBOOT.BIN (files: " + kBootRuleFiles +
                            "); make BOOT.BIN a byte-for-byte copy of " + source.path + " in TRANSLATED");
    boot->bootCopy = true;
    boot->mode = EntryMode::Copied;  // its own entry carries nothing; the loader overrides it
    boot->records.clear();
    boot->note = "written by the boot-file rule as a copy of " + source.path;

    if (source.mode == EntryMode::Copied) {
        // Copied, BOOT.BIN would be ORIGINAL's BOOT.BIN checked against the source's CRC-32.
        const IsoFileRecord* originalBoot = original.index.find(PatchPackage::kBootPath);
        if (originalBoot == nullptr || !sameBytes(original.file, *originalBoot, translated.file, sourceRecord)) {
            source.mode = EntryMode::Stored;
            source.note = "stored, not copied: the boot-file rule builds BOOT.BIN from this entry, and ORIGINAL's "
                          "BOOT.BIN holds other bytes";
        }
    } else if (source.mode == EntryMode::Archive) {
        source.mode = EntryMode::Stored;
        source.records.clear();
        source.recordBytes = 0;
        source.note = "stored, not rebuilt: the boot-file rule builds BOOT.BIN from this entry";
    }
}

// Where TRANSLATED differs from the layout the build gives; empty when it follows it exactly.
std::vector<std::string> layoutDifferences(const PackagePlan& plan, IndexedImage& translated) {
    std::vector<std::string> notes;
    size_t moved = 0;
    std::string named;
    for (const auto& f : plan.files) {
        if (f.newSector == f.translatedSector) continue;
        if (moved++ < kMovesNamed)
            named += (named.empty() ? "" : "; ") + f.path + " from sector " + std::to_string(f.translatedSector) +
                     " to " + std::to_string(f.newSector);
    }
    if (moved > 0)
        notes.push_back(std::to_string(moved) + " of " + std::to_string(plan.files.size()) +
                        " files move (" + named + (moved > kMovesNamed ? "; ..." : "") + ")");
    if (plan.translatedVolumeSectors != plan.volumeSectors)
        notes.push_back("the volume is " + std::to_string(plan.translatedVolumeSectors) +
                        " sectors in TRANSLATED and " + std::to_string(plan.volumeSectors) + " in the layout");
    const bool sameHeader = std::equal(plan.header.begin(), plan.header.end(), translated.block.begin());
    if (notes.empty() && !sameHeader) notes.push_back("the header sectors differ from TRANSLATED's");
    const uint64_t volumeBytes = uint64_t{plan.volumeSectors} * kSectorBytes;
    if (plan.translatedBytes != volumeBytes)
        notes.push_back("TRANSLATED's file is " + std::to_string(plan.translatedBytes) + " bytes, the volume " +
                        std::to_string(volumeBytes));
    if (!notes.empty()) return notes;

    // Same places: the space the build leaves zero must be zero in TRANSLATED too.
    std::vector<uint8_t> gap;
    for (const auto& f : plan.files) {
        const uint64_t from = uint64_t{f.newSector} * kSectorBytes + f.size;
        const uint64_t to = uint64_t{f.newSector + sectorsTaken(f)} * kSectorBytes;
        if (from >= to) continue;
        gap.resize(static_cast<size_t>(to - from));
        translated.file.ReadAt(from, gap.data(), static_cast<uint32_t>(gap.size()));
        if (std::any_of(gap.begin(), gap.end(), [](uint8_t b) { return b != 0; })) {
            notes.push_back("TRANSLATED has bytes other than zero after " + f.path + ", where the build writes zeros");
            break;
        }
    }
    return notes;
}

class DryRunContext : public BuildContext {
public:
    DryRunContext(std::filesystem::path source, PatchPackage& package)
        : m_source(std::move(source)), m_package(package) {}

    std::filesystem::path SourcePath() const override { return m_source; }
    std::filesystem::path OutputPath() const override { return {}; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    void ReportProgress(uint32_t) override {}
    void BuildComplete(JobResult, int) override {}
    bool DryRun() const override { return true; }
    void FileMismatch(uint32_t entryIndex, uint32_t expectedCrc, uint32_t actualCrc) override {
        const PatchEntry& e = m_package.entries[entryIndex];
        mismatches.push_back({entryIndex, e.path != nullptr ? e.path : "(header sectors)", expectedCrc, actualCrc});
    }

    std::vector<CrcMismatch> mismatches;

private:
    std::filesystem::path m_source;
    PatchPackage& m_package;
    std::atomic<bool> m_cancel{false};
};

}  // namespace

uint64_t PlannedFile::StoredBytes() const {
    switch (mode) {
        case EntryMode::Stored: return size;
        case EntryMode::Archive: return recordBytes;
        default: return 0;
    }
}

PackagePlan PlanPackage(const std::filesystem::path& originalPath, const std::filesystem::path& translatedPath) {
    PackagePlan plan;
    plan.original = originalPath;
    plan.translated = translatedPath;
    IndexedImage original("ORIGINAL");
    IndexedImage translated("TRANSLATED");
    indexImage(original, originalPath);
    indexImage(translated, translatedPath);

    std::string originalCode, translatedCode;
    DiscIdentity identity = DiscIdentity::Unrecognised;
    try {
        identity = identifyDisc(originalPath, originalCode);
        identifyDisc(translatedPath, translatedCode);
    } catch (const CFileException&) {
        // Unreadable product codes are reported below as what they are: none.
    }
    if (identity != DiscIdentity::Target)
        throw MakeError(Kind::NotTargetDisc,
                        "ORIGINAL is not the game's first disc (product code " + printableCode(originalCode) +
                            ", expected " + kTargetProductCode + ")",
                        identity);
    if (translatedCode != originalCode)
        throw MakeError(Kind::DifferentDiscs, "the images are of different discs: ORIGINAL is " +
                                                  printableCode(originalCode) + ", TRANSLATED is " +
                                                  printableCode(translatedCode));
    plan.productCode = originalCode;

    const IsoVolume& volume = *translated.index.volume;
    const std::vector<uint32_t> descriptorCopies = checkDescriptors(translated.block);
    checkXa(translated.block, volume);
    checkPathTables(translated.block, kFirstDescriptorSector, volume.firstFreeSector);
    for (uint32_t sector : descriptorCopies) checkPathTables(translated.block, sector, volume.firstFreeSector);

    std::vector<TranslatedFile> files;
    collectFiles(*volume.root, "", files);
    if (files.size() != volume.fileCount)
        throw MakeError(Kind::Unsupported, "a directory of TRANSLATED lists the same name twice");
    // Translated order; an empty file shares its sector with the next one, so it goes first.
    std::sort(files.begin(), files.end(), [](const TranslatedFile& a, const TranslatedFile& b) {
        const auto key = [](const TranslatedFile& f) {
            return std::make_tuple(f.record->startSector, f.record->size != 0);
        };
        return key(a) != key(b) ? key(a) < key(b) : a.path < b.path;
    });

    for (const auto& f : files) plan.files.push_back(classify(original, translated, f));
    applyBootRule(original, translated, plan.files);

    // The header: TRANSLATED's leading sectors, every file record moved where the build puts it.
    const uint32_t headerSectors = volume.firstFreeSector;
    plan.header.assign(translated.block.begin(), translated.block.begin() + size_t{headerSectors} * kSectorBytes);
    uint64_t next = headerSectors;
    for (size_t i = 0; i < files.size(); ++i) {
        PlannedFile& f = plan.files[i];
        f.newSector = static_cast<uint32_t>(next);
        uint8_t* record = plan.header.data() + files[i].record->recordOffset;
        putBoth32(record + kRecordExtentField, f.newSector);
        putBoth32(record + kRecordSizeField, f.size);
        next += sectorsTaken(f);
        if (next >= kVolumeSectorLimit)
            throw MakeError(Kind::Unsupported, "laid out by the patcher, TRANSLATED's files would pass 4 GiB");
    }
    plan.volumeSectors = static_cast<uint32_t>(next);
    putBoth32(plan.header.data() + IsoIndex::kVolumeSizeOffset, plan.volumeSectors);
    for (uint32_t sector : descriptorCopies)
        putBoth32(plan.header.data() + size_t{sector} * kSectorBytes + kVolumeSizeInDescriptor, plan.volumeSectors);
    plan.translatedVolumeSectors = volume.volumeSectors;
    plan.translatedBytes = translated.file.Length();
    plan.layoutNotes = layoutDifferences(plan, translated);
    plan.followsLayout = plan.layoutNotes.empty();
    return plan;
}

std::vector<uint8_t> EncodePackage(const PackagePlan& plan) {
    uint64_t total = kPackageFixedBytes + plan.header.size();
    for (const auto& f : plan.files) total += kEntryFixedBytes + f.path.size() + f.StoredBytes();
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(total));
    uint32_t headerCrc = 0;
    Crc32Update(plan.header.data(), headerCrc, plan.header.size());
    append32(out, static_cast<uint32_t>(plan.files.size()));
    append32(out, static_cast<uint32_t>(plan.header.size()));
    append32(out, headerCrc);
    out.insert(out.end(), plan.header.begin(), plan.header.end());

    ImageFile translated;
    if (!translated.Open(plan.translated))
        throw MakeError(Kind::CannotRead, "TRANSLATED " + quoted(plan.translated) + " cannot be opened");
    for (const auto& f : plan.files) {
        append32(out, static_cast<uint32_t>(f.path.size()));
        out.insert(out.end(), f.path.begin(), f.path.end());
        out.push_back(0);
        append32(out, f.size);
        append32(out, f.crc);
        append32(out, static_cast<uint32_t>(f.mode));
        append32(out, static_cast<uint32_t>(f.StoredBytes()));
        if (f.mode == EntryMode::Stored) {
            const size_t at = out.size();
            out.resize(at + f.size);
            for (uint32_t done = 0; done < f.size;) {
                const uint32_t n = std::min(kChunkBytes, f.size - done);
                translated.ReadAt(uint64_t{f.translatedSector} * kSectorBytes + done, out.data() + at + done, n);
                done += n;
            }
        } else if (f.mode == EntryMode::Archive) {
            const std::vector<uint8_t> records = EncodeArchivePatchRecords(f.records);
            out.insert(out.end(), records.begin(), records.end());
        }
    }
    return out;
}

DryRunOutcome DryRunPackage(const std::vector<uint8_t>& bytes, const std::filesystem::path& source) {
    DryRunOutcome outcome;
    PatchPackage package;
    package.load(bytes.data(), bytes.size());
    if (package.corrupt) return outcome;
    outcome.loaded = true;
    DryRunContext context(source, package);
    try {
        outcome.result = ImageBuildJob::Run(context);
    } catch (const CPathException& e) {
        outcome.result = JobResult::PathError;
        outcome.messageId = e.m_nMessageId;
    } catch (const CFileException&) {
        outcome.result = JobResult::FileError;
    } catch (const std::exception&) {
        outcome.result = JobResult::OtherError;
    }
    outcome.mismatches = std::move(context.mismatches);
    return outcome;
}

std::vector<uint8_t> FinishPackage(PackagePlan& plan) {
    plan.dryRuns = 0;
    for (;;) {
        std::vector<uint8_t> bytes = EncodePackage(plan);
        const DryRunOutcome check = DryRunPackage(bytes, plan.original);
        ++plan.dryRuns;
        if (!check.loaded)
            throw MakeError(Kind::SelfCheckFailed, "the package made from these images does not load");
        if (check.result == JobResult::Ok) return bytes;
        if (check.result != JobResult::VerifyFailed) {
            std::string text = "rebuilding TRANSLATED from ORIGINAL stopped (result " +
                               std::to_string(static_cast<uint32_t>(check.result));
            if (check.messageId != 0)
                text += ", message " + std::to_string(check.messageId) + " " + MessageUtf8(check.messageId);
            throw MakeError(Kind::SelfCheckFailed, text + ")");
        }
        // A rebuilt archive that misses its CRC-32 is stored instead; anything else is fatal.
        bool changed = false;
        std::string failures;
        for (const auto& m : check.mismatches) {
            failures += "\n  " + m.path + ": expected CRC-32 " + hex32(m.expected) + ", got " + hex32(m.actual);
            if (m.entry == 0) continue;  // follows from a file whose size came out different
            PlannedFile& f = plan.files.at(m.entry - 1);
            if (f.mode != EntryMode::Archive) continue;
            f.mode = EntryMode::Stored;
            f.records.clear();
            f.recordBytes = 0;
            f.note = "stored: rebuilt from ORIGINAL's archive it came out with CRC-32 " + hex32(m.actual);
            changed = true;
        }
        if (!changed)
            throw MakeError(Kind::SelfCheckFailed,
                            "a dry run of the package over ORIGINAL does not reproduce TRANSLATED:" + failures);
    }
}

void WritePackageFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::filesystem::path partial = path;
    partial += ".part";
    CFile out;
    if (!out.Open(partial, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary))
        throw CFileException(CFileException::Cause::Generic, 0, PathToUtf8(partial), "open");
    try {
        for (size_t done = 0; done < bytes.size();) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, kChunkBytes));
            out.Write(bytes.data() + done, n);
            done += n;
        }
        out.Close();
    } catch (...) {
        out.Abort();
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        // Renaming over an existing file fails on some systems: make room and try once more.
        std::filesystem::remove(path, error);
        std::filesystem::rename(partial, path, error);
    }
    if (error) {
        std::filesystem::remove(partial, error);
        throw CFileException(CFileException::Cause::WriteFailed, 0, PathToUtf8(path), "rename");
    }
}

}  // namespace tessaly::maker
