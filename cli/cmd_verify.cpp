#include <ostream>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/package_source.h"
#include "maker/image_verify.h"
#include "package/patch_package.h"
#include "platform/text.h"

namespace tessaly::cli {

namespace {

constexpr const char* kUsage = "tessaly verify IMAGE [--package FILE]";
constexpr const char* kHelp =
    "tessaly verify IMAGE [--package FILE]\n\n"
    "Checks a translated image against the patch package (the embedded one without --package): the\n"
    "header sectors as `tessaly patch` lays them out, and every file by CRC-32 at the place the\n"
    "image's own directory gives. Prints one line per file that differs, then a summary.\n\n"
    "exit codes: 0 everything matches; 1 something differs or IMAGE cannot be read;\n"
    "            30 corrupt package; 64 usage error\n";

}  // namespace

int RunVerify(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    const auto packageFile = scan.value("--package");
    if (scan.missingValue()) return UsageError(call, kUsage, "--package needs a FILE");
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() != 1) return UsageError(call, kUsage, "expected IMAGE");

    PackageSource source;
    PatchPackage package;
    if (const auto failed = LoadCommandPackage(call, packageFile, source, package)) return *failed;

    const maker::VerifyOutcome outcome = maker::VerifyImage(package, PathFromUtf8(rest[0]));
    if (!outcome.readable) {
        call.out << "verify: " << outcome.problem << "\n";
        return kExitVerifyFailed;
    }
    if (!outcome.differences.empty()) call.out << "differences from the package:\n";
    for (const auto& d : outcome.differences) call.out << "  " << d.path << ": " << d.detail << "\n";
    const size_t files = outcome.differences.size() - (outcome.headerMatches ? 0 : 1);
    if (outcome.Ok()) {
        call.out << "verify: the header sectors and all " << outcome.filesChecked << " files match the package\n";
        return kExitOk;
    }
    call.out << "verify: " << files << " of " << outcome.filesChecked << " files differ; the header sectors "
             << (outcome.headerMatches ? "match" : "differ") << "\n";
    return kExitVerifyFailed;
}

}  // namespace tessaly::cli
