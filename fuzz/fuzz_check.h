#pragma once
// What the fuzz targets share: a check that stops the process (libFuzzer and the replay runner
// both report an abort as a finding), and the entry point every target defines.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#define TESSALY_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)
