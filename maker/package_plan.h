#pragma once
// Making a patch package from two images of the disc: ORIGINAL, the untouched disc the users
// own, and TRANSLATED, the translation team's finished image. Every file of TRANSLATED becomes an
// entry (copied when ORIGINAL has the same bytes at the same path, the archive rebuilt with
// member replacements when both sides are GPDA archives, stored otherwise), and TRANSLATED's
// header sectors are rewritten by the layout the build job will apply. The package is only
// handed back once a dry run of the build job over ORIGINAL has reproduced every CRC-32.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive_patch.h"
#include "builder/job_result.h"
#include "iso/disc_identity.h"
#include "package/patch_package.h"

namespace tessaly::maker {

class MakeError : public std::runtime_error {
public:
    enum class Kind {
        CannotRead,         // an image cannot be opened, read or indexed
        NotTargetDisc,      // ORIGINAL is not the game's first disc
        DifferentDiscs,     // the two images carry different product codes
        DirectoriesTooFar,  // directories beyond the first 256 sectors
        BootFileRule,       // BOOT.BIN is not what the loader's boot-file rule makes of it
        Unsupported,        // TRANSLATED holds something the build job cannot reproduce
        SelfCheckFailed,    // the package would not rebuild TRANSLATED from ORIGINAL
    };
    MakeError(Kind what, const std::string& message, DiscIdentity disc = DiscIdentity::Unrecognised)
        : std::runtime_error(message), kind(what), identity(disc) {}

    Kind kind;
    DiscIdentity identity;  // NotTargetDisc: what ORIGINAL is
};

struct PlannedFile {
    std::string path;
    uint32_t size = 0;
    uint32_t crc = 0;
    EntryMode mode = EntryMode::Stored;
    uint32_t translatedSector = 0;  // where TRANSLATED has it
    uint32_t newSector = 0;         // where the build job will put it
    std::vector<ArchivePatchInput> records;  // mode 2
    uint64_t recordBytes = 0;                // mode 2: the encoded records
    bool bootCopy = false;  // BOOT.BIN: the loader replaces its entry by the boot-file rule's source
    std::string note;       // why the mode is not the obvious one

    uint64_t StoredBytes() const;
};

struct PackagePlan {
    std::filesystem::path original;
    std::filesystem::path translated;
    std::string productCode;
    std::vector<uint8_t> header;     // TRANSLATED's leading sectors, rewritten by the layout
    std::vector<PlannedFile> files;  // in package order
    uint32_t volumeSectors = 0;      // of the image the package builds
    uint32_t translatedVolumeSectors = 0;
    uint64_t translatedBytes = 0;    // length of TRANSLATED's file
    bool followsLayout = false;      // the build reproduces TRANSLATED byte for byte
    std::vector<std::string> layoutNotes;  // otherwise: where TRANSLATED differs from the layout
    uint32_t dryRuns = 0;            // self-check runs FinishPackage needed
};

// Compares the images and decides every entry; throws MakeError for what cannot be a package.
PackagePlan PlanPackage(const std::filesystem::path& original, const std::filesystem::path& translated);

// The package bytes; stored files are read from TRANSLATED again.
std::vector<uint8_t> EncodePackage(const PackagePlan& plan);

struct CrcMismatch {
    uint32_t entry = 0;  // 0: the header sectors
    std::string path;
    uint32_t expected = 0;
    uint32_t actual = 0;
};

struct DryRunOutcome {
    bool loaded = false;  // false: the loader found the package corrupt
    JobResult result = JobResult::OtherError;
    int messageId = 0;
    std::vector<CrcMismatch> mismatches;
};

// Runs the build job over `source` without writing an image.
DryRunOutcome DryRunPackage(const std::vector<uint8_t>& package, const std::filesystem::path& source);

// Encodes the plan and dry-runs it against ORIGINAL; a rebuilt archive that misses its CRC-32 is
// stored instead and the check runs again. Throws SelfCheckFailed when that cannot help.
std::vector<uint8_t> FinishPackage(PackagePlan& plan);

// Writes beside `path` first and renames, so a failure never leaves a partial package there.
void WritePackageFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace tessaly::maker
