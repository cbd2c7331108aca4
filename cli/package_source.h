#pragma once
// Where a command's patch package comes from: a file named by --package, or the package
// embedded in the program. The bytes stay in place while the loaded package points into them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "package/patch_package.h"

namespace tessaly::cli {

class PackageSource {
public:
    // Reads the file (UTF-8 path), or takes the embedded package when none is given.
    bool Load(const std::optional<std::string>& file, std::string& problem);
    const uint8_t* Bytes() const { return m_bytes; }
    size_t Size() const { return m_size; }
    const std::string& Description() const { return m_description; }

private:
    std::vector<uint8_t> m_fileBytes;
    const uint8_t* m_bytes = nullptr;
    size_t m_size = 0;
    std::string m_description;
};

// Loads the package of a command that builds or checks with it: the exit code when it cannot be
// read (usage, with the reason) or is corrupt (message 138), nothing when `package` is ready.
std::optional<int> LoadCommandPackage(const Invocation& call, const std::optional<std::string>& file,
                                      PackageSource& source, PatchPackage& package);

}  // namespace tessaly::cli
