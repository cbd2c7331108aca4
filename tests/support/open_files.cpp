#include "support/open_files.h"

#include <filesystem>
#include <system_error>

namespace tessaly::test {

std::optional<size_t> OpenFileCount() {
#ifdef __linux__
    std::error_code error;
    size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
        ++count;
    if (error) return std::nullopt;
    return count;  // includes the iterator's own descriptor, the same on every call
#else
    return std::nullopt;
#endif
}

}  // namespace tessaly::test
