#include "platform/fault_injection.h"

#include <mutex>
#include <optional>

namespace tessaly {

namespace {
struct Plan {
    bool shortRead = false;
    FileOperation operation = FileOperation::Read;
    std::string fileNamePart;
    uint64_t skip = 0;
    uint32_t maxBytes = 0;
    bool fired = false;
};
std::mutex s_mutex;
std::optional<Plan> s_plan;
}  // namespace

std::atomic<bool> FaultInjection::s_armed{false};

void FaultInjection::ArmFailure(FileOperation operation, std::string fileNamePart, uint64_t skip) {
    std::lock_guard lock(s_mutex);
    s_plan = Plan{false, operation, std::move(fileNamePart), skip, 0, false};
    s_armed = true;
}

void FaultInjection::ArmShortRead(std::string fileNamePart, uint64_t skip, uint32_t maxBytes) {
    std::lock_guard lock(s_mutex);
    s_plan = Plan{true, FileOperation::Read, std::move(fileNamePart), skip, maxBytes, false};
    s_armed = true;
}

void FaultInjection::Disarm() {
    std::lock_guard lock(s_mutex);
    s_plan.reset();
    s_armed = false;
}

bool FaultInjection::Check(FileOperation operation, const std::string& fileName) {
    std::lock_guard lock(s_mutex);
    if (!s_plan || s_plan->shortRead || s_plan->fired || s_plan->operation != operation ||
        fileName.find(s_plan->fileNamePart) == std::string::npos)
        return false;
    if (s_plan->skip > 0) {
        --s_plan->skip;
        return false;
    }
    s_plan->fired = true;
    return true;
}

uint32_t FaultInjection::Limit(const std::string& fileName, uint32_t count) {
    std::lock_guard lock(s_mutex);
    if (!s_plan || !s_plan->shortRead || s_plan->fired || fileName.find(s_plan->fileNamePart) == std::string::npos)
        return count;
    if (s_plan->skip > 0) {
        --s_plan->skip;
        return count;
    }
    s_plan->fired = true;
    return count < s_plan->maxBytes ? count : s_plan->maxBytes;
}

}  // namespace tessaly
