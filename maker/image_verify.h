#pragma once
// Checks a finished image against a patch package: the header sectors as the build job lays them
// out, and every file by CRC-32 where the image's own directory puts it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "package/patch_package.h"

namespace tessaly::maker {

struct VerifyDifference {
    std::string path;  // "(header sectors)" for the header
    std::string detail;
};

struct VerifyOutcome {
    bool readable = false;
    std::string problem;  // why the image could not be checked at all
    bool headerMatches = false;
    uint32_t filesChecked = 0;
    std::vector<VerifyDifference> differences;

    bool Ok() const { return readable && differences.empty(); }
};

inline constexpr const char* kHeaderSectorsName = "(header sectors)";

// `package` must be loaded; it is not changed.
VerifyOutcome VerifyImage(const PatchPackage& package, const std::filesystem::path& image);

}  // namespace tessaly::maker
