#pragma once
// How many files this process has open, where the platform tells (Linux: /proc/self/fd).

#include <cstddef>
#include <optional>

namespace tessaly::test {

std::optional<size_t> OpenFileCount();

}  // namespace tessaly::test
