#include <cstdio>
#include <ostream>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/package_source.h"
#include "package/patch_package.h"
#include "resources/messages.h"

namespace tessaly::cli {

namespace {
constexpr const char* kUsage = "tessaly package-info [FILE]";
constexpr const char* kHelp =
    "tessaly package-info [FILE]\n\n"
    "Loads a patch package (the embedded one when FILE is not given) and prints its header facts\n"
    "and one line per entry: index, mode, size, CRC-32, offset in the new image, path.\n\n"
    "exit codes: 0 loaded; 30 the package is corrupt; 64 usage error\n";

std::string hex32(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}
}  // namespace

int RunPackageInfo(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() > 1) return UsageError(call, kUsage, "expected at most one FILE");

    PackageSource source;
    std::string problem;
    if (!source.Load(rest.empty() ? std::nullopt : std::optional<std::string>(rest[0]), problem)) {
        call.err << "tessaly: " << problem << "\n";
        return kExitUsage;
    }
    PatchPackage package;
    package.load(source.Bytes(), source.Size());
    if (package.corrupt) {
        call.out << "corrupt\n" << MessageUtf8(138) << "\n";
        return kExitPackageCorrupt;
    }
    const IsoVolume& volume = *package.headerIndex->volume;
    call.out << "package:            " << source.Description() << " (" << source.Size() << " bytes)\n"
             << "header length:      " << package.headerLength << " bytes (" << package.headerLength / 2048
             << " sectors)\n"
             << "header CRC-32:      " << hex32(package.headerCrc) << "\n"
             << "volume size:        " << volume.volumeSectors << " sectors ("
             << static_cast<uint64_t>(volume.volumeSectors) * 2048 << " bytes)\n"
             << "first free sector:  " << volume.firstFreeSector << "\n"
             << "directories:        " << volume.directoryCount << "\n"
             << "files:              " << volume.fileCount << "\n"
             << "entries:            " << package.entryCount << "\n\n"
             << "index mode       size      crc32   offset path\n";
    for (uint32_t i = 0; i <= package.entryCount; ++i) {
        const PatchEntry& e = package.entries[i];
        char line[96];
        std::snprintf(line, sizeof line, "%5u %4u %10u %s %10u ", i, e.mode, e.size, hex32(e.crc).c_str(),
                      e.imageOffset);
        call.out << line << (e.path != nullptr ? e.path : "(header sectors)") << "\n";
    }
    return kExitOk;
}

}  // namespace tessaly::cli
