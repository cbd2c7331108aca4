#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "maker/make_report.h"
#include "maker/package_plan.h"
#include "platform/file_identity.h"
#include "platform/text.h"

namespace tessaly::cli {

namespace {

constexpr const char* kUsage = "tessaly make-package ORIGINAL TRANSLATED -o PACKAGE [--report FILE]";
constexpr const char* kHelp =
    "tessaly make-package ORIGINAL TRANSLATED -o PACKAGE [--report FILE]\n\n"
    "Makes the patch package that turns ORIGINAL, the untouched image of the game's first disc, into\n"
    "TRANSLATED, the translation team's finished image of the same disc. Each file of TRANSLATED is\n"
    "copied from ORIGINAL when the bytes there are the same, rebuilt from ORIGINAL's GPDA archive with\n"
    "the members that differ replaced, or stored. The header sectors are TRANSLATED's, with the files\n"
    "laid out the way `tessaly patch` lays them out; when TRANSLATED already follows that layout the\n"
    "patched image equals it byte for byte, otherwise the report says what moves.\n"
    "Before PACKAGE is written, a dry run of the build over ORIGINAL must reproduce every CRC-32.\n\n"
    "options:\n"
    "  -o, --output PACKAGE  where to write the package (replaced when it exists)\n"
    "  --report FILE         write the report there instead of to standard output\n\n"
    "exit codes: 0 package written; 1 the dry run did not reproduce TRANSLATED (nothing written);\n"
    "            3 refused: the images cannot make a package (the message says why); 4 read/write\n"
    "            error; 11-14 ORIGINAL is not the right disc; 20 PACKAGE or FILE is one of the images;\n"
    "            64 usage error\n";

int exitFor(const maker::MakeError& e) {
    using Kind = maker::MakeError::Kind;
    switch (e.kind) {
        case Kind::NotTargetDisc: return kExitDiscRefusedBase + static_cast<int>(e.identity);
        case Kind::SelfCheckFailed: return kExitVerifyFailed;
        default: return kExitPathError;
    }
}

}  // namespace

int RunMakePackage(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    const auto output = scan.value("--output", "-o");
    const auto report = scan.value("--report");
    if (scan.missingValue()) return UsageError(call, kUsage, "-o and --report need a FILE");
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() != 2) return UsageError(call, kUsage, "expected ORIGINAL and TRANSLATED");
    if (!output) return UsageError(call, kUsage, "expected -o PACKAGE");

    const std::filesystem::path original = PathFromUtf8(rest[0]);
    const std::filesystem::path translated = PathFromUtf8(rest[1]);
    const std::filesystem::path packagePath = PathFromUtf8(*output);
    const std::filesystem::path reportPath = report ? PathFromUtf8(*report) : std::filesystem::path();
    for (const auto& written : {packagePath, reportPath}) {
        if (!written.empty() && (IsSameFile(written, original) || IsSameFile(written, translated))) {
            call.err << "tessaly: '" << PathToUtf8(written) << "' is one of the images; it would be overwritten\n";
            return kExitOutputIsSource;
        }
    }

    try {
        maker::PackagePlan plan = maker::PlanPackage(original, translated);
        const std::vector<uint8_t> package = maker::FinishPackage(plan);
        maker::WritePackageFile(packagePath, package);
        if (report) {
            std::ofstream file(reportPath, std::ios::binary | std::ios::trunc);
            maker::WriteMakeReport(file, plan, package.size());
            if (!file.flush()) {
                call.err << "tessaly: cannot write the report to '" << *report << "'\n";
                return kExitFileError;
            }
            call.out << "package written: " << *output << " (" << package.size() << " bytes); report: " << *report
                     << "\n";
        } else {
            maker::WriteMakeReport(call.out, plan, package.size());
            call.out << "package written: " << *output << "\n";
        }
        return kExitOk;
    } catch (const maker::MakeError& e) {
        const bool selfCheck = e.kind == maker::MakeError::Kind::SelfCheckFailed;
        call.err << "tessaly: " << (selfCheck ? "no package written: " : "refused: ") << e.what() << "\n";
        return exitFor(e);
    } catch (const CFileException& e) {
        call.err << "tessaly: " << e.what() << "\n";
        return kExitFileError;
    }
}

}  // namespace tessaly::cli
