#pragma once
// Exit codes of the tessaly command line.

namespace tessaly::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitVerifyFailed = 1,
    kExitCancelled = 2,
    kExitPathError = 3,
    kExitFileError = 4,
    kExitOtherError = 5,
    kExitDiscRefusedBase = 10,  // + DiscIdentity: 11 unrecognised, 12 second disc, 13 earlier game, 14 bonus disc
    kExitOutputIsSource = 20,
    kExitNoSpace = 21,
    kExitOutputExists = 22,
    kExitPackageCorrupt = 30,
    kExitUsage = 64,
};

}  // namespace tessaly::cli
