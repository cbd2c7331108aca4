#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace tessaly::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = std::filesystem::temp_directory_path() /
             ("tessaly-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(path, bytes.data(), bytes.size());
}

std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

}  // namespace tessaly::test
