#include <windows.h>

#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/text.h"

namespace tessaly {

namespace {
HANDLE asHandle(void* h) { return static_cast<HANDLE>(h); }
int lastError() { return static_cast<int>(GetLastError()); }
}  // namespace

CFile::~CFile() { Abort(); }

bool CFile::Open(const std::filesystem::path& path, unsigned flags) {
    Abort();
    m_fileName = PathToUtf8(path);
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeWrite) {
        access = GENERIC_WRITE;
        share = FILE_SHARE_READ;  // no other writer while we write; readers (ours included) may stay
        disposition = (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    }
    if (FaultInjection::ShouldFail(FileOperation::Open, m_fileName)) return false;
    HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_handle = h;
    m_position = 0;
    return true;
}

bool CFile::IsOpen() const { return m_handle != nullptr; }

void CFile::Require(const char* operation) const {
    if (m_handle == nullptr) Fail(CFileException::Cause::NotOpen, ERROR_INVALID_HANDLE, operation);
}

void CFile::Fail(CFileException::Cause cause, int osError, const char* operation) const {
    throw CFileException(cause, osError, m_fileName, operation);
}

uint64_t CFile::GetLength() const {
    Require("length");
    LARGE_INTEGER size{};
    if (FaultInjection::ShouldFail(FileOperation::Length, m_fileName))
        Fail(CFileException::Cause::Generic, ERROR_READ_FAULT, "length");
    if (!GetFileSizeEx(asHandle(m_handle), &size)) Fail(CFileException::Cause::Generic, lastError(), "length");
    return static_cast<uint64_t>(size.QuadPart);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    Require("seek");
    int64_t base = 0;
    if (from == current) base = static_cast<int64_t>(m_position);
    if (from == end) base = static_cast<int64_t>(GetLength());
    const int64_t target = base + offset;
    if (target < 0 || FaultInjection::ShouldFail(FileOperation::Seek, m_fileName))
        Fail(CFileException::Cause::SeekFailed, ERROR_NEGATIVE_SEEK, "seek");
    m_position = static_cast<uint64_t>(target);
    return m_position;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    Require("read");
    if (FaultInjection::ShouldFail(FileOperation::Read, m_fileName))
        Fail(CFileException::Cause::ReadFailed, ERROR_READ_FAULT, "read");
    const uint32_t allowed = FaultInjection::LimitRead(m_fileName, count);
    auto* out = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < allowed) {
        OVERLAPPED at{};
        const uint64_t pos = m_position + done;
        at.Offset = static_cast<DWORD>(pos);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        DWORD got = 0;
        if (!ReadFile(asHandle(m_handle), out + done, allowed - done, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            Fail(CFileException::Cause::ReadFailed, lastError(), "read");
        }
        if (got == 0) break;
        done += got;
    }
    m_position += done;
    return done;
}

void CFile::Write(const void* buffer, uint32_t count) {
    Require("write");
    if (FaultInjection::ShouldFail(FileOperation::Write, m_fileName))
        Fail(CFileException::Cause::WriteFailed, ERROR_WRITE_FAULT, "write");
    const auto* in = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        const uint64_t pos = m_position + done;
        at.Offset = static_cast<DWORD>(pos);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        DWORD put = 0;
        if (!WriteFile(asHandle(m_handle), in + done, count - done, &put, &at) || put == 0) {
            const int err = lastError();
            Fail(err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? CFileException::Cause::DiskFull
                                                                         : CFileException::Cause::WriteFailed,
                 err, "write");
        }
        done += put;
    }
    m_position += done;
}

void CFile::SetLength(uint64_t length) {
    Require("set length");
    if (FaultInjection::ShouldFail(FileOperation::SetLength, m_fileName))
        Fail(CFileException::Cause::DiskFull, ERROR_DISK_FULL, "set length");
    // SetEndOfFile allocates the clusters, so a volume too small fails here.
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFilePointerEx(asHandle(m_handle), to, nullptr, FILE_BEGIN) || !SetEndOfFile(asHandle(m_handle))) {
        const int err = lastError();
        Fail(err == ERROR_DISK_FULL ? CFileException::Cause::DiskFull : CFileException::Cause::LengthFailed, err,
             "set length");
    }
}

void CFile::Close() {
    if (m_handle == nullptr) return;
    HANDLE h = asHandle(m_handle);
    m_handle = nullptr;
    const bool injected = FaultInjection::ShouldFail(FileOperation::Close, m_fileName);
    if (!CloseHandle(h) || injected)
        Fail(CFileException::Cause::CloseFailed, injected ? ERROR_WRITE_FAULT : lastError(), "close");
}

void CFile::Abort() noexcept {
    if (m_handle != nullptr) CloseHandle(asHandle(m_handle));
    m_handle = nullptr;
}

}  // namespace tessaly
