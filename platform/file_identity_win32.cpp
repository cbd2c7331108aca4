#include <windows.h>

#include "platform/file_identity.h"

namespace tessaly {

namespace {
bool identify(const std::filesystem::path& path, BY_HANDLE_FILE_INFORMATION& info) {
    // No access rights needed for the identity; directories need backup semantics to open.
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}
}  // namespace

bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace tessaly
