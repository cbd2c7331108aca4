#pragma once
// Small helpers shared by the iso tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iso/iso_index.h"
#include "support/exact_bytes.h"

namespace tessaly::test {

// Builds over an exactly sized heap copy of the first `length` bytes, so that AddressSanitizer
// reports any read outside the block.
inline void BuildExact(IsoIndex& index, const std::vector<uint8_t>& bytes, size_t length) {
    const ExactBytes block(bytes, length);
    index.build(block.data(), block.size());
}
inline void BuildExact(IsoIndex& index, const std::vector<uint8_t>& bytes) { BuildExact(index, bytes, bytes.size()); }

// The error text in UTF-8 (or "(none)"), for readable failure messages.
inline std::string ErrorOf(const IsoIndex& index) {
    return index.errorText ? IsoErrorTextUtf8(*index.errorText) : std::string("(none)");
}

}  // namespace tessaly::test
