#pragma once
// The platform calls whose effect a test cannot see under Wine, each behind a replaceable
// function: tests swap one in, call through, and put the original back.

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace tessaly {

class BuildContext;

namespace seams {

// The embedded patch package: resource PATCH_DATA 131 of the program, locked for the whole run
// (empty when it is missing).
extern std::span<const uint8_t> (*EmbeddedPackage)();

// Creates the taskbar button's progress object (HrInit is the caller's).
extern HRESULT (*CreateTaskbarList)(ITaskbarList4** taskbarList);

// Opens a web page with the user's default handler (the shell's "open" verb).
extern void (*OpenPage)(const wchar_t* page);

// Free bytes of the volume an output path lies on; nullopt when the query fails.
extern std::optional<uint64_t> (*AvailableBytes)(const std::filesystem::path& output);

// The build's worker-thread entry.
extern uint32_t (*BuildThreadEntry)(BuildContext* context);

}  // namespace seams
}  // namespace tessaly
