#include "resources/embedded_package.h"

// The package file is pulled in by the assembler, so a 14 MB package costs no compile time.
// TESSALY_PACKAGE_FILE is the absolute path of the file, set by the build.
#define TESSALY_STRINGIFY2(x) #x
#define TESSALY_STRINGIFY(x) TESSALY_STRINGIFY2(x)

#if defined(_WIN32)
#define TESSALY_RODATA ".section .rdata,\"dr\"\n"
#else
#define TESSALY_RODATA ".section .rodata\n"
#endif

__asm__(TESSALY_RODATA
        ".balign 16\n"
        ".globl tessaly_embedded_package_begin\n"
        ".globl tessaly_embedded_package_end\n"
        "tessaly_embedded_package_begin:\n"
        ".incbin \"" TESSALY_STRINGIFY(TESSALY_PACKAGE_FILE) "\"\n"
        "tessaly_embedded_package_end:\n"
        ".byte 0\n"
        ".text\n");

extern "C" const uint8_t tessaly_embedded_package_begin[];
extern "C" const uint8_t tessaly_embedded_package_end[];

namespace tessaly {

const uint8_t* EmbeddedPackageBytes() { return tessaly_embedded_package_begin; }
size_t EmbeddedPackageSize() {
    return static_cast<size_t>(tessaly_embedded_package_end - tessaly_embedded_package_begin);
}

}  // namespace tessaly
