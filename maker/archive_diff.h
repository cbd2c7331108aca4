#pragma once
// The smallest archive patch records that turn one GPDA archive tree into another, as the build
// job will apply them: descend while both sides are archives with the same member count and the
// same header (apart from the words the relayout rewrites), replace the members that differ.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "archive/archive_patch.h"
#include "maker/image_file.h"

namespace tessaly::maker {

// Where a tree's bytes are: its image file for a tree opened over a file, none for memory.
struct ArchiveSide {
    const ArchiveNode& root;
    ImageFile* file = nullptr;
};

struct ArchiveDiff {
    // False when the build job cannot produce the translated archive from any records: it lays
    // every archive out again, so the translated one must already follow that layout.
    bool expressible = false;
    std::string reason;
    std::vector<ArchivePatchInput> records;  // in ascending order of their member paths
};

ArchiveDiff DiffArchives(const ArchiveSide& original, const ArchiveSide& translated);

// Bytes of the encoded records (the record count included).
uint64_t EncodedRecordBytes(const std::vector<ArchivePatchInput>& records);

}  // namespace tessaly::maker
