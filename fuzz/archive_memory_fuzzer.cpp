// An archive tree opened over bytes in memory (nested archives parsed depth first), then laid out
// again and streamed out whole. Opening a private copy of the same bytes must give the same output,
// read in other chunks.

#include "fuzz/archive_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tessaly::ArchiveNode;
    if (size > UINT32_MAX) return 0;
    const auto length = static_cast<uint32_t>(size);

    ArchiveNode inPlace(data, length, false);
    tessaly::fuzz::CheckOpenedTree(inPlace);

    ArchiveNode copied(data, length, true);
    TESSALY_FUZZ_CHECK(copied.valid == inPlace.valid && copied.IsArchive() == inPlace.IsArchive());
    tessaly::fuzz::CheckSameOutput(inPlace, tessaly::fuzz::kLargeChunk, copied, tessaly::fuzz::kSmallChunk);

    inPlace.Clear();
    TESSALY_FUZZ_CHECK(!inPlace.valid && !inPlace.IsArchive());
    return 0;
}
