#include "maker/make_report.h"

#include <cstdio>
#include <map>
#include <ostream>
#include <string>

#include "iso/iso_index.h"
#include "platform/text.h"

namespace tessaly::maker {

namespace {

const char* modeName(EntryMode mode) {
    switch (mode) {
        case EntryMode::Stored: return "0 stored";
        case EntryMode::Copied: return "1 copied";
        case EntryMode::Archive: return "2 archive";
    }
    return "?";
}

std::string depths(const PlannedFile& f) {
    std::map<size_t, size_t> byDepth;
    for (const auto& r : f.records) ++byDepth[r.memberPath.size()];
    std::string text = std::to_string(f.records.size()) + (f.records.size() == 1 ? " record" : " records");
    std::string separator = "; depth ";
    for (const auto& [depth, count] : byDepth) {
        text += separator + std::to_string(depth) + ": " + std::to_string(count);
        separator = ", depth ";
    }
    return text;
}

}  // namespace

void WriteMakeReport(std::ostream& out, const PackagePlan& plan, uint64_t packageBytes) {
    const uint64_t imageBytes = uint64_t{plan.volumeSectors} * kSectorBytes;
    out << "original:    " << PathToUtf8(plan.original) << " (" << plan.productCode << ")\n"
        << "translated:  " << PathToUtf8(plan.translated) << " (" << plan.translatedBytes << " bytes)\n";
    if (plan.followsLayout) {
        out << "layout:      TRANSLATED follows the patcher's layout; the patched image equals it byte for byte\n";
    } else {
        out << "layout:      TRANSLATED is laid out otherwise; the patched image holds the same files and\n"
               "             directories, laid out afresh:\n";
        for (const auto& note : plan.layoutNotes) out << "               " << note << "\n";
    }
    out << "header:      " << plan.header.size() / kSectorBytes << " sectors (" << plan.header.size()
        << " bytes); the image is " << plan.volumeSectors << " sectors\n\n";

    out << "   sector mode             size       stored  path\n";
    uint64_t storedFiles = 0, storedBytes = 0, copied = 0, archives = 0, archiveBytes = 0, records = 0;
    for (const auto& f : plan.files) {
        char line[80];
        std::snprintf(line, sizeof line, "%9u %-9s %10u %12llu  ", f.newSector, modeName(f.mode), f.size,
                      static_cast<unsigned long long>(f.StoredBytes()));
        out << line << f.path;
        if (f.mode == EntryMode::Archive) out << "  (" << depths(f) << ")";
        if (!f.note.empty()) out << "  [" << f.note << "]";
        out << "\n";
        switch (f.mode) {
            case EntryMode::Stored:
                ++storedFiles;
                storedBytes += f.size;
                break;
            case EntryMode::Copied: ++copied; break;
            case EntryMode::Archive:
                ++archives;
                archiveBytes += f.recordBytes;
                records += f.records.size();
                break;
        }
    }
    char share[32];
    const double percent = imageBytes == 0 ? 0.0 : 100.0 * double(packageBytes) / double(imageBytes);
    std::snprintf(share, sizeof share, "%.2f%%", percent);
    out << "\nfiles:       " << plan.files.size() << ": " << storedFiles << " stored (" << storedBytes << " bytes), "
        << copied << " copied, " << archives << " rebuilt from archives (" << records << " records, "
        << archiveBytes << " bytes)\n"
        << "package:     " << packageBytes << " bytes for an image of " << imageBytes << " bytes (" << share << ")\n"
        << "self-check:  a dry run of the build over ORIGINAL reproduced every CRC-32"
        << (plan.dryRuns > 1
                ? " after " + std::to_string(plan.dryRuns) + " runs (rebuilt archives that missed were stored)"
                : "")
        << "\n";
}

}  // namespace tessaly::maker
