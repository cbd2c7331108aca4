#pragma once
// Checks made on an output path before a build starts (by the window and the command line).

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tessaly {

class PatchPackage;

// Free bytes the output volume needs: the new image's size from the package's volume descriptor,
// rounded up to a whole MiB (1,321,205,760 for the shipped package's 644,877 sectors).
uint64_t RequiredFreeBytes(const PatchPackage& package);

// Free bytes for an output at `output` (its folder's volume); nullopt when the query fails.
std::optional<uint64_t> AvailableBytesFor(const std::filesystem::path& output);

}  // namespace tessaly
