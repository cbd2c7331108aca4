#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fault_injection.h"
#include "platform/file.h"

namespace tessaly {

CFile::~CFile() { Abort(); }

bool CFile::Open(const std::filesystem::path& path, unsigned flags) {
    Abort();
    m_fileName = path.native();
    int oflags = O_CLOEXEC;
    if (flags & modeWrite) {
        oflags |= O_WRONLY;
        if (flags & modeCreate) oflags |= O_CREAT | O_TRUNC;
    } else {
        oflags |= O_RDONLY;
    }
    if (FaultInjection::ShouldFail(FileOperation::Open, m_fileName)) return false;
    const int fd = ::open(path.c_str(), oflags, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a directory opens on POSIX but is no file
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_position = 0;
    return true;
}

bool CFile::IsOpen() const { return m_fd >= 0; }

void CFile::Require(const char* operation) const {
    if (m_fd < 0) Fail(CFileException::Cause::NotOpen, EBADF, operation);
}

void CFile::Fail(CFileException::Cause cause, int osError, const char* operation) const {
    throw CFileException(cause, osError, m_fileName, operation);
}

uint64_t CFile::GetLength() const {
    Require("length");
    struct stat st {};
    if (FaultInjection::ShouldFail(FileOperation::Length, m_fileName))
        Fail(CFileException::Cause::Generic, EIO, "length");
    if (::fstat(m_fd, &st) != 0) Fail(CFileException::Cause::Generic, errno, "length");
    return static_cast<uint64_t>(st.st_size);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    Require("seek");
    int64_t base = 0;
    if (from == current) base = static_cast<int64_t>(m_position);
    if (from == end) base = static_cast<int64_t>(GetLength());
    const int64_t target = base + offset;
    if (target < 0 || FaultInjection::ShouldFail(FileOperation::Seek, m_fileName))
        Fail(CFileException::Cause::SeekFailed, EINVAL, "seek");
    m_position = static_cast<uint64_t>(target);
    return m_position;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    Require("read");
    auto* out = static_cast<char*>(buffer);
    uint32_t done = 0;
    const uint32_t allowed = FaultInjection::LimitRead(m_fileName, count);
    if (FaultInjection::ShouldFail(FileOperation::Read, m_fileName))
        Fail(CFileException::Cause::ReadFailed, EIO, "read");
    while (done < allowed) {
        const ssize_t n = ::pread(m_fd, out + done, allowed - done, static_cast<off_t>(m_position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(CFileException::Cause::ReadFailed, errno, "read");
        }
        if (n == 0) break;  // end of file
        done += static_cast<uint32_t>(n);
    }
    m_position += done;
    return done;
}

void CFile::Write(const void* buffer, uint32_t count) {
    Require("write");
    const auto* in = static_cast<const char*>(buffer);
    if (FaultInjection::ShouldFail(FileOperation::Write, m_fileName))
        Fail(CFileException::Cause::WriteFailed, EIO, "write");
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd, in + done, count - done, static_cast<off_t>(m_position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno == ENOSPC ? CFileException::Cause::DiskFull : CFileException::Cause::WriteFailed, errno,
                 "write");
        }
        if (n == 0) Fail(CFileException::Cause::WriteFailed, EIO, "write");
        done += static_cast<uint32_t>(n);
    }
    m_position += done;
}

void CFile::SetLength(uint64_t length) {
    Require("set length");
    if (FaultInjection::ShouldFail(FileOperation::SetLength, m_fileName))
        Fail(CFileException::Cause::DiskFull, ENOSPC, "set length");
    // Reserve the blocks first, so a disk too small fails here and not in the middle of writing.
    const int rc = length == 0 ? 0 : ::posix_fallocate(m_fd, 0, static_cast<off_t>(length));
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
        (void)::ftruncate(m_fd, 0);  // give back what was reserved before the failure
        Fail(rc == ENOSPC ? CFileException::Cause::DiskFull : CFileException::Cause::LengthFailed, rc,
             "set length");
    }
    // Shrinks, or extends sparsely where the file system cannot reserve.
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
        Fail(CFileException::Cause::LengthFailed, errno, "set length");
}

void CFile::Close() {
    if (m_fd < 0) return;
    const int fd = m_fd;
    m_fd = -1;
    const bool injected = FaultInjection::ShouldFail(FileOperation::Close, m_fileName);
    if (::close(fd) != 0 || injected) Fail(CFileException::Cause::CloseFailed, injected ? EIO : errno, "close");
}

void CFile::Abort() noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

}  // namespace tessaly
