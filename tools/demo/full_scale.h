#pragma once
// The full-scale demo disc (MakeDemoDisc with fullScale set).

#include <cstdint>

#include "tools/demo/demo_disc.h"

namespace tessaly::demo {

DemoDisc MakeFullScaleDisc(uint64_t seed);

}  // namespace tessaly::demo
