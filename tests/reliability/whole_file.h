#pragma once
// Whole files read in large blocks: images here are tens of MB, and reading them a byte at a time
// through a stream iterator is slow under the sanitizers.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace tessaly::test {

inline std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::vector<uint8_t> bytes(static_cast<size_t>(std::filesystem::file_size(path)));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) throw std::runtime_error("short read of " + path.string());
    return bytes;
}

}  // namespace tessaly::test
