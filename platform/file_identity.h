#pragma once
// Whether two paths name the same file: by identity (device and inode; volume serial and file
// index on Windows), so case variants, relative paths, "..", links and short names are all caught.

#include <filesystem>

namespace tessaly {

// True when both paths exist and are one file. A path that does not exist is no alias of anything.
bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tessaly
