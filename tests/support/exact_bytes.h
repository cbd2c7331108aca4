#pragma once
// Bytes in a heap block of exactly their length, so AddressSanitizer reports any read past the end
// (a std::vector may hold spare capacity behind its last byte).

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tessaly::test {

class ExactBytes {
public:
    // The first `length` bytes of `bytes`.
    ExactBytes(const std::vector<uint8_t>& bytes, size_t length) : m_bytes(new uint8_t[length]), m_length(length) {
        if (length > bytes.size()) throw std::out_of_range("ExactBytes: length beyond the source bytes");
        if (length != 0) std::memcpy(m_bytes.get(), bytes.data(), length);
    }
    explicit ExactBytes(const std::vector<uint8_t>& bytes) : ExactBytes(bytes, bytes.size()) {}

    const uint8_t* data() const { return m_bytes.get(); }
    size_t size() const { return m_length; }

private:
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_length;
};

}  // namespace tessaly::test
