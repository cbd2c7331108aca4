// The patch package loader over arbitrary bytes with their length: it must never read past them,
// never allocate by an unchecked count, and a package it accepts must keep its invariants.

#include <cstring>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "package/patch_package.h"

namespace {

using tessaly::PatchEntry;
using tessaly::PatchPackage;

bool inside(const uint8_t* begin, size_t size, const uint8_t* p, uint64_t length) {
    return p >= begin && static_cast<uint64_t>(p - begin) <= size && length <= size - static_cast<size_t>(p - begin);
}

void checkLoaded(const PatchPackage& package, const uint8_t* data, size_t size) {
    TESSALY_FUZZ_CHECK(package.headerIndex && package.headerIndex->volume);
    TESSALY_FUZZ_CHECK(package.header && package.entries);
    TESSALY_FUZZ_CHECK(package.entryCount > 0);
    const PatchEntry& head = package.entries[0];
    TESSALY_FUZZ_CHECK(head.data == package.header.get() && head.size == package.headerLength);
    TESSALY_FUZZ_CHECK(std::memcmp(package.header.get(), data + 12, package.headerLength) == 0);
    bool sawBoot = false, sawEboot = false;
    for (uint32_t i = 1; i <= package.entryCount; ++i) {
        const PatchEntry& e = package.entries[i];
        TESSALY_FUZZ_CHECK(e.newRecord != nullptr);
        // Paths and stored bytes point into the package bytes, never beyond them.
        const auto* path = reinterpret_cast<const uint8_t*>(e.path);
        const size_t pathLength = std::strlen(e.path);  // safe only because the loader found the NUL
        TESSALY_FUZZ_CHECK(inside(data, size, path, pathLength + 1));
        TESSALY_FUZZ_CHECK(inside(data, size, e.data, e.dataLength));
        TESSALY_FUZZ_CHECK(e.archive == nullptr && e.sourceFile == nullptr);
        const std::string_view p(e.path);
        sawBoot |= p == PatchPackage::kBootPath;
        sawEboot |= p == PatchPackage::kEbootPath;
        // The boot entry carries another entry's size, every other one its record's.
        if (p != PatchPackage::kBootPath) TESSALY_FUZZ_CHECK(e.size == e.newRecord->size);
        if (e.mode == 0) TESSALY_FUZZ_CHECK(e.dataLength == e.size);
        TESSALY_FUZZ_CHECK(package.headerIndex->find(p) == e.newRecord);
    }
    TESSALY_FUZZ_CHECK(sawBoot && sawEboot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PatchPackage package;
    package.load(data, size);
    if (package.corrupt) {
        TESSALY_FUZZ_CHECK(!package.headerIndex && !package.entries && !package.header);
    } else {
        checkLoaded(package, data, size);
    }
    package.release();
    package.release();
    TESSALY_FUZZ_CHECK(!package.headerIndex && !package.entries && !package.header);
    return 0;
}
