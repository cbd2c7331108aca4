#pragma once
// Exceptions of the file layer and the build job. Thrown by value, caught by reference;
// the build job's thread entry turns each kind into a result code exactly once.

#include <cstdint>
#include <exception>
#include <string>

namespace tessaly {

class CException : public std::exception {
public:
    CException() = default;
    explicit CException(std::string what) : m_what(std::move(what)) {}
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_what;
};

// A failed operation on an open file (or a failed creation when the caller asks for an exception).
class CFileException : public CException {
public:
    enum class Cause { Generic, ReadFailed, WriteFailed, SeekFailed, LengthFailed, DiskFull, CloseFailed, NotOpen };

    CFileException(Cause cause, int osError, std::string fileName, const char* operation);

    Cause m_cause;
    int m_osError;          // errno on POSIX, GetLastError() on Windows
    std::string m_fileName; // UTF-8
};

}  // namespace tessaly
