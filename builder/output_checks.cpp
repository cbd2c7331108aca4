#include "builder/output_checks.h"

#include <system_error>

#include "iso/iso_index.h"
#include "package/patch_package.h"

namespace tessaly {

uint64_t RequiredFreeBytes(const PatchPackage& package) {
    constexpr uint64_t kMiB = 1024 * 1024;
    const uint8_t* p = package.header.get() + package.headerIndex->volume->volumeSizeOffset;
    const uint64_t sectors = static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[1]) << 8 |
                             static_cast<uint64_t>(p[2]) << 16 | static_cast<uint64_t>(p[3]) << 24;
    return (sectors * kSectorBytes + kMiB - 1) / kMiB * kMiB;
}

std::optional<uint64_t> AvailableBytesFor(const std::filesystem::path& output) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(output, error).parent_path();
    if (error) return std::nullopt;
    const auto info = std::filesystem::space(folder, error);
    if (error || info.available == static_cast<std::uintmax_t>(-1)) return std::nullopt;
    return static_cast<uint64_t>(info.available);
}

}  // namespace tessaly
