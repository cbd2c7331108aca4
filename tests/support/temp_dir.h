#pragma once
// A fresh directory per test, removed afterwards; and small whole-file helpers.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaly::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteFileBytes(const std::filesystem::path& path, const uint8_t* bytes, size_t length);

// Deterministic bytes that are not all zero (xorshift), for file contents.
std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed);

}  // namespace tessaly::test
