#pragma once
// The image build job: lays the new image out from the package and the user's image, writes it
// through one 1 MiB transfer buffer, verifies every file by CRC-32 and reports per-mille progress.

#include <cstdint>

#include "builder/build_context.h"
#include "builder/job_result.h"

namespace tessaly {

constexpr uint32_t kTransferBufferBytes = 1024 * 1024;
constexpr const char* kFontPath = "/PSP_GAME/USRDIR/fonts.pgf";
constexpr uint32_t kFontSlotSectors = 1024;

class ImageBuildJob {
public:
    // Ok, VerifyFailed or Cancelled; expected failures throw CPathException, file failures
    // CFileException.
    static JobResult Run(BuildContext& context);
};

// The worker thread's entry: runs the job, turns its outcome into a JobResult once, then either
// reports it through BuildComplete or, when the cancel flag is raised, lowers the flag and
// reports nothing. Returns the thread's exit code (the result).
uint32_t BuildThreadProc(BuildContext* context);

}  // namespace tessaly
