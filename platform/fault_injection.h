#pragma once
// A test seam in the file layer: tests arm a failure of one kind of operation on files whose
// name contains a given text, after a given number of successful calls. Unarmed, each check is
// one relaxed atomic load.

#include <atomic>
#include <cstdint>
#include <string>

namespace tessaly {

enum class FileOperation { Open, Read, Write, Seek, Length, SetLength, Close };

class FaultInjection {
public:
    // The (skip + 1)-th matching call of operation on a matching file fails.
    static void ArmFailure(FileOperation operation, std::string fileNamePart, uint64_t skip = 0);
    // The (skip + 1)-th matching read delivers at most maxBytes (a short read, as at a cut-off end).
    static void ArmShortRead(std::string fileNamePart, uint64_t skip, uint32_t maxBytes);
    static void Disarm();

    static bool ShouldFail(FileOperation operation, const std::string& fileName) {
        return s_armed.load(std::memory_order_relaxed) && Check(operation, fileName);
    }
    static uint32_t LimitRead(const std::string& fileName, uint32_t count) {
        return s_armed.load(std::memory_order_relaxed) ? Limit(fileName, count) : count;
    }

private:
    static bool Check(FileOperation operation, const std::string& fileName);
    static uint32_t Limit(const std::string& fileName, uint32_t count);
    static std::atomic<bool> s_armed;
};

}  // namespace tessaly
