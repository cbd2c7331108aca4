#pragma once
// What a build needs from whoever runs it (the window or the command line): the paths, the
// package, the cancel flag, and where progress and the outcome go. The job never knows which.

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "builder/job_result.h"

namespace tessaly {

class PatchPackage;

class BuildContext {
public:
    virtual ~BuildContext() = default;

    virtual std::filesystem::path SourcePath() const = 0;
    virtual std::filesystem::path OutputPath() const = 0;
    virtual PatchPackage& Package() = 0;
    // Raised by the runner to stop the job; lowered by the thread entry as its acknowledgement.
    virtual std::atomic<bool>& CancelFlag() = 0;

    // Per-mille progress, synchronous: returns when the runner is done with the value.
    virtual void ReportProgress(uint32_t perMille) = 0;
    // The outcome, synchronous; not called when the job was cancelled.
    virtual void BuildComplete(JobResult result, int messageId) = 0;

    // A dry run does everything but create and write the output: every file is read, rebuilt
    // and checked, so a source can be tried before any disk space is spent.
    virtual bool DryRun() const { return false; }

    // A written file whose CRC-32 differs from the package's (entry 0 is the header sectors).
    virtual void FileMismatch(uint32_t /*entryIndex*/, uint32_t /*expectedCrc*/, uint32_t /*actualCrc*/) {}
};

}  // namespace tessaly
