#pragma once
// Choosing where the new image goes: the save dialog's initial folder and default name, and
// which chosen paths are refused.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tessaly {

// Writes the folder part of `path` to `out` (room for wcslen(path) + 1 characters): runs of "/"
// or "\" become one "\", and the result keeps its final "\". Empty when there is no separator
// beyond the first character.
void GetParentDirectory(const wchar_t* path, wchar_t* out);

// Equal texts, with only the letters a-z compared as their capitals.
bool IsSamePath(const wchar_t* a, const wchar_t* b);

// `format` (message 134, two "%s") filled with nothing for version text "1.00" exactly, else with
// "_" and the version text.
std::wstring DefaultOutputFileName(const wchar_t* format, const wchar_t* versionText);

enum class OutputVerdict {
    Accept,
    SameAsSource,   // message 143
    TooLittleRoom,  // message 144
};

// `sameAsSource`: the paths are equal (IsSamePath) or name one file. An unknown free space (the
// query failed) is accepted: the job's own length reservation then decides.
OutputVerdict JudgeOutput(bool sameAsSource, std::optional<uint64_t> availableBytes, uint64_t requiredBytes);

}  // namespace tessaly

namespace tessaly {

// The refusal message for a dropped disc's identity (Target 0 ... EarlierGameBonus 4); 0 for the
// target disc. Unknown values count as unrecognised.
int RefusalMessageFor(int discIdentity);

}  // namespace tessaly
