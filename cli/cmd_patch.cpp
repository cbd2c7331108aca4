#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "builder/image_build_job.h"
#include "builder/output_checks.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/package_source.h"
#include "cli/terminal_progress.h"
#include "iso/disc_identity.h"
#include "package/patch_package.h"
#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/text.h"
#include "resources/messages.h"

namespace tessaly::cli {

namespace {

constexpr const char* kUsage = "tessaly patch [--package FILE] [-f|--force] [-q|--quiet] SOURCE OUTPUT\n"
                               "       tessaly patch --dry-run [--package FILE] SOURCE";
constexpr const char* kHelp =
    "tessaly patch [--package FILE] [-f|--force] [-q|--quiet] SOURCE OUTPUT\n"
    "tessaly patch --dry-run [--package FILE] [-q|--quiet] SOURCE\n\n"
    "Builds the translated image OUTPUT from SOURCE, the untouched image of the game's first disc.\n"
    "SOURCE is checked first (its product code); OUTPUT must not be SOURCE under any name, its\n"
    "volume needs room for the whole image, and an existing OUTPUT is only replaced with --force.\n"
    "Every file written is verified by CRC-32. Ctrl-C stops the build (the partial OUTPUT stays).\n\n"
    "options:\n"
    "  --package FILE  use this patch package instead of the one built into the program\n"
    "  -f, --force     replace OUTPUT if it exists\n"
    "  -q, --quiet     print only the result (also when stdout is not a terminal)\n"
    "  --dry-run       do everything but write: read and rebuild every file and check its CRC-32\n\n"
    "exit codes: 0 done, every file verified; 1 written but some files failed verification;\n"
    "            2 cancelled; 3 the build stopped (message says why); 4 read/write error;\n"
    "            5 other error; 11-14 SOURCE is not the right disc; 20 OUTPUT is SOURCE;\n"
    "            21 not enough free space; 22 OUTPUT exists (use --force); 30 corrupt package;\n"
    "            64 usage error\n";

int messageForDisc(DiscIdentity identity) {
    switch (identity) {
        case DiscIdentity::SecondDisc: return 146;
        case DiscIdentity::EarlierGame: return 147;
        case DiscIdentity::EarlierGameBonus: return 148;
        default: return 145;
    }
}

int messageForResult(JobResult result, int messageId) {
    switch (result) {
        case JobResult::Ok: return 154;
        case JobResult::VerifyFailed: return 155;
        case JobResult::PathError: return messageId;
        case JobResult::FileError: return 152;
        default: return 153;
    }
}

class CommandLineBuild : public BuildContext {
public:
    CommandLineBuild(std::filesystem::path source, std::filesystem::path output, PatchPackage& package,
                     bool dryRun, bool showProgress, uint64_t totalBytes)
        : m_source(std::move(source)),
          m_output(std::move(output)),
          m_package(package),
          m_dryRun(dryRun) {
        if (showProgress) m_progress = std::make_unique<TerminalProgress>(stdout, totalBytes);
    }

    std::filesystem::path SourcePath() const override { return m_source; }
    std::filesystem::path OutputPath() const override { return m_output; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    bool DryRun() const override { return m_dryRun; }

    void ReportProgress(uint32_t perMille) override {
        if (m_progress) m_progress->Update(perMille);
    }
    void BuildComplete(JobResult result, int messageId) override {
        m_result = result;
        m_messageId = messageId;
        m_completed = true;
    }
    void FileMismatch(uint32_t entryIndex, uint32_t expectedCrc, uint32_t actualCrc) override {
        m_mismatches.push_back({entryIndex, expectedCrc, actualCrc});
    }

    struct Mismatch {
        uint32_t entry;
        uint32_t expected;
        uint32_t actual;
    };

    std::atomic<bool> m_cancel{false};
    JobResult m_result = JobResult::Cancelled;
    int m_messageId = 0;
    bool m_completed = false;
    std::vector<Mismatch> m_mismatches;
    std::unique_ptr<TerminalProgress> m_progress;

private:
    std::filesystem::path m_source;
    std::filesystem::path m_output;
    PatchPackage& m_package;
    bool m_dryRun;
};

void printMismatches(const Invocation& call, const CommandLineBuild& build, const PatchPackage& package) {
    if (build.m_mismatches.empty()) return;
    call.out << "files that failed verification:\n";
    bool fromSource = false;
    for (const auto& m : build.m_mismatches) {
        char line[64];
        std::snprintf(line, sizeof line, "expected CRC-32 %08X, got %08X", m.expected, m.actual);
        const PatchEntry& e = package.entries[m.entry];
        call.out << "  " << (e.path != nullptr ? e.path : "(header sectors)") << ": " << line << "\n";
        // A stored file comes from the package alone: its mismatch says nothing about the source.
        if (m.entry == 0 || e.mode != static_cast<uint32_t>(EntryMode::Stored)) fromSource = true;
    }
    if (!fromSource) {
        call.out << "These files are stored in the patch package itself: the package is damaged.\n";
        return;
    }
    call.out << "The source image is most likely a bad or modified dump of the disc: the files above do not\n"
                "have the contents this patch was made for. Make a new dump of the original disc and try again.\n";
}

}  // namespace

int RunPatch(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    const bool force = scan.flag("--force", "-f");
    const bool quiet = scan.flag("--quiet", "-q");
    const bool dryRun = scan.flag("--dry-run");
    const auto packageFile = scan.value("--package");
    if (scan.missingValue()) return UsageError(call, kUsage, "--package needs a FILE");
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() != (dryRun ? 1u : 2u))
        return UsageError(call, kUsage, dryRun ? "expected SOURCE" : "expected SOURCE and OUTPUT");

    PackageSource source;
    PatchPackage package;
    if (const auto failed = LoadCommandPackage(call, packageFile, source, package)) return *failed;

    const std::filesystem::path sourcePath = PathFromUtf8(rest[0]);
    const std::filesystem::path outputPath = dryRun ? std::filesystem::path() : PathFromUtf8(rest[1]);
    DiscIdentity identity = DiscIdentity::Unrecognised;
    try {
        identity = identifyDisc(sourcePath);
    } catch (const CFileException& e) {
        call.err << "tessaly: " << e.what() << "\n";
    }
    if (identity != DiscIdentity::Target) {
        call.out << MessageUtf8(messageForDisc(identity)) << "\n";
        return kExitDiscRefusedBase + static_cast<int>(identity);
    }

    if (!dryRun) {
        if (IsSameFile(sourcePath, outputPath)) {
            call.out << MessageUtf8(143) << "\n";
            return kExitOutputIsSource;
        }
        std::error_code error;
        const bool exists = std::filesystem::exists(outputPath, error);
        // A replaced output gives its own space back.
        uint64_t reclaimed = 0;
        if (exists && force && std::filesystem::is_regular_file(outputPath, error))
            reclaimed = static_cast<uint64_t>(std::filesystem::file_size(outputPath, error));
        if (error) reclaimed = 0;
        const auto available = AvailableBytesFor(outputPath);
        // When the volume cannot be asked, the build's own space reservation decides.
        if (available && *available + reclaimed < RequiredFreeBytes(package)) {
            call.out << MessageUtf8(144) << "\n";
            return kExitNoSpace;
        }
        if (exists && !force) {
            call.err << "tessaly: '" << rest[1] << "' already exists; use --force to replace it\n";
            return kExitOutputExists;
        }
    }

    const bool showProgress = !quiet && IsTerminal(stdout);
    CommandLineBuild build(sourcePath, outputPath, package, dryRun, showProgress, RequiredFreeBytes(package));
    InstallInterruptFlag(&build.m_cancel);
    uint32_t exitCode = 0;
    std::thread worker([&] { exitCode = BuildThreadProc(&build); });
    worker.join();
    InstallInterruptFlag(nullptr);
    if (build.m_progress) build.m_progress->Finish();

    if (!build.m_completed) {
        call.out << MessageUtf8(164) << "\n";
        return kExitCancelled;
    }
    printMismatches(call, build, package);
    if (dryRun && build.m_result == JobResult::Ok)
        call.out << "dry run: every file of the new image was built and verified; nothing was written\n";
    else if (dryRun && build.m_result == JobResult::VerifyFailed)
        call.out << "dry run: this source would give an image that fails verification; nothing was written\n";
    else
        call.out << MessageUtf8(messageForResult(build.m_result, build.m_messageId)) << "\n";
    return static_cast<int>(exitCode);
}

}  // namespace tessaly::cli
