#pragma once
// Our file class: byte-exact files by std::filesystem::path (UTF-16 on Windows, UTF-8 on POSIX),
// 64-bit positions and lengths. Open reports failure by its result; every other operation
// throws CFileException. A file opened for reading never denies other readers or writers.

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/exceptions.h"

namespace tessaly {

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,  // create, or truncate an existing file
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Read: modeRead [| shareDenyNone | typeBinary]; write: modeCreate | modeWrite [| typeBinary].
    bool Open(const std::filesystem::path& path, unsigned flags);
    bool IsOpen() const;

    uint64_t GetLength() const;
    uint64_t GetPosition() const { Require("position"); return m_position; }
    uint64_t Seek(int64_t offset, SeekPosition from);
    void SeekToBegin() { Seek(0, begin); }

    // Reads up to count bytes at the position; fewer only at the end of the file.
    uint32_t Read(void* buffer, uint32_t count);
    // Stores every byte or throws.
    void Write(const void* buffer, uint32_t count);
    // Sets the length and reserves the space, so a disk too small fails here and not mid-write.
    void SetLength(uint64_t length);
    void Close();
    // Closes without throwing; for clean-up on an error path.
    void Abort() noexcept;

    const std::string& FileName() const { return m_fileName; }

private:
    void Require(const char* operation) const;
    [[noreturn]] void Fail(CFileException::Cause cause, int osError, const char* operation) const;

#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    uint64_t m_position = 0;
    std::string m_fileName;  // UTF-8, for messages
};

}  // namespace tessaly
