// An archive tree opened over a stream (std::istringstream, as the image file is read), compared
// node by node with the tree the same bytes give from memory, then both streamed out whole (in
// different chunk sizes) with the same bytes.

#include <sstream>
#include <string>

#include "fuzz/archive_checks.h"

namespace {

using tessaly::ArchiveNode;

void checkSameShape(const ArchiveNode& fromStream, const ArchiveNode& fromMemory) {
    TESSALY_FUZZ_CHECK(fromStream.valid == fromMemory.valid);
    TESSALY_FUZZ_CHECK(fromStream.IsArchive() == fromMemory.IsArchive());
    TESSALY_FUZZ_CHECK(fromStream.size == fromMemory.size && fromStream.offset == fromMemory.offset);
    TESSALY_FUZZ_CHECK(fromStream.name == fromMemory.name && fromStream.nameOffset == fromMemory.nameOffset);
    if (!fromStream.IsArchive()) return;
    TESSALY_FUZZ_CHECK(fromStream.memberCount == fromMemory.memberCount);
    for (uint32_t k = 0; k <= fromStream.memberCount; ++k) checkSameShape(*fromStream.Child(k), *fromMemory.Child(k));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const auto length = static_cast<uint32_t>(size);
    // A few bytes before the archive, so stream positions and node positions differ.
    std::istringstream stream(std::string("pre") + std::string(reinterpret_cast<const char*>(data), size));
    stream.seekg(3);

    ArchiveNode fromStream(&stream, length);
    tessaly::fuzz::CheckOpenedTree(fromStream);
    TESSALY_FUZZ_CHECK(fromStream.streamBase == 3 && fromStream.stream == &stream && !fromStream.ownsStream);
    ArchiveNode fromMemory(data, length, false);
    checkSameShape(fromStream, fromMemory);

    tessaly::fuzz::CheckSameOutput(fromStream, tessaly::fuzz::kLargeChunk, fromMemory, tessaly::fuzz::kSmallChunk);
    return 0;
}
