#include "ui/shell_seams.h"

#include <shellapi.h>

#include "builder/image_build_job.h"
#include "builder/output_checks.h"
#include "resources/resource.h"

namespace tessaly::seams {

namespace {

std::span<const uint8_t> LockEmbeddedPackage() {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(IDR_PATCH_DATA), L"PATCH_DATA");
    if (resource == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module, resource);
    if (loaded == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(::LockResource(loaded));
    if (bytes == nullptr) return {};
    return {bytes, ::SizeofResource(module, resource)};
}

HRESULT CreateSystemTaskbarList(ITaskbarList4** taskbarList) {
    return ::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList4,
                              reinterpret_cast<void**>(taskbarList));
}

void ShellOpen(const wchar_t* page) {
    // Whether the shell found a handler is not looked at: there is nobody to tell.
    ::ShellExecuteW(nullptr, L"open", page, nullptr, nullptr, SW_SHOW);
}

}  // namespace

std::span<const uint8_t> (*EmbeddedPackage)() = &LockEmbeddedPackage;
HRESULT (*CreateTaskbarList)(ITaskbarList4**) = &CreateSystemTaskbarList;
void (*OpenPage)(const wchar_t*) = &ShellOpen;
std::optional<uint64_t> (*AvailableBytes)(const std::filesystem::path&) = &AvailableBytesFor;
uint32_t (*BuildThreadEntry)(BuildContext*) = &BuildThreadProc;

}  // namespace tessaly::seams
