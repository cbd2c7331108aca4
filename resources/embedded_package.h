#pragma once
// The patch package built into the program (the demo package unless the build names another).

#include <cstddef>
#include <cstdint>

namespace tessaly {

const uint8_t* EmbeddedPackageBytes();
size_t EmbeddedPackageSize();

}  // namespace tessaly
