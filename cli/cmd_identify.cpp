#include <ostream>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "iso/disc_identity.h"
#include "platform/exceptions.h"
#include "platform/text.h"
#include "resources/messages.h"

namespace tessaly::cli {

namespace {
constexpr const char* kUsage = "tessaly identify IMAGE";
constexpr const char* kHelp =
    "tessaly identify IMAGE\n\n"
    "Reads the product code in the image's /UMD_DATA.BIN and says whether the image is the disc\n"
    "this patcher is made for.\n\n"
    "exit codes: 0 the target disc; 11 not recognised; 12 the second disc; 13 the earlier game;\n"
    "            14 the earlier game's bonus disc; 64 usage error\n";

// The window's refusal text for each identity.
int refusalMessage(DiscIdentity identity) {
    switch (identity) {
        case DiscIdentity::SecondDisc: return 146;
        case DiscIdentity::EarlierGame: return 147;
        case DiscIdentity::EarlierGameBonus: return 148;
        default: return 145;
    }
}
}  // namespace

int RunIdentify(const Invocation& call) {
    ArgumentScanner scan(call.args);
    if (scan.flag("--help", "-h")) {
        call.out << kHelp;
        return kExitOk;
    }
    std::string unknown;
    const auto rest = scan.positional(unknown);
    if (!unknown.empty()) return UsageError(call, kUsage, "unknown option '" + unknown + "'");
    if (rest.size() != 1) return UsageError(call, kUsage, "expected one IMAGE");

    std::string code;
    DiscIdentity identity = DiscIdentity::Unrecognised;
    try {
        identity = identifyDisc(PathFromUtf8(rest[0]), code);
    } catch (const CFileException& e) {
        call.err << "tessaly: " << e.what() << "\n";
        identity = DiscIdentity::Unrecognised;
    }
    // The code is whatever bytes the file begins with: show them printable.
    for (char& c : code)
        if (c < 0x20 || c > 0x7E) c = '?';
    call.out << "product code: " << (code.empty() ? "(none)" : code) << "\n";
    if (identity == DiscIdentity::Target) {
        call.out << "the target disc: this image can be patched\n";
        return kExitOk;
    }
    call.out << MessageUtf8(refusalMessage(identity)) << "\n";
    return kExitDiscRefusedBase + static_cast<int>(identity);
}

}  // namespace tessaly::cli
