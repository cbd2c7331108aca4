#pragma once
// Which disc a user's image is, by the product code that its "/UMD_DATA.BIN" begins with.

#include <filesystem>
#include <string>

namespace tessaly {

enum class DiscIdentity : int {
    Target = 0,            // KVXM-20417: the disc this patcher is made for
    Unrecognised = 1,      // unreadable, not indexable, no product code, or another code
    SecondDisc = 2,        // KVXM-20418
    EarlierGame = 3,       // KVXL-00815
    EarlierGameBonus = 4,  // KVXL-00814
};

inline constexpr const char* kTargetProductCode = "KVXM-20417";
inline constexpr const char* kProductCodeFile = "/UMD_DATA.BIN";
inline constexpr size_t kProductCodeBytes = 10;

DiscIdentity identifyDisc(const std::filesystem::path& path);

// identifyDisc that also hands back the product code it read (empty when none was read).
DiscIdentity identifyDisc(const std::filesystem::path& path, std::string& productCode);

}  // namespace tessaly
