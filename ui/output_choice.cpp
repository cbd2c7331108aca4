#include "ui/output_choice.h"

namespace tessaly {

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t Capital(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

void GetParentDirectory(const wchar_t* path, wchar_t* out) {
    size_t n = 0;
    size_t last = 0;
    for (const wchar_t* c = path; *c != L'\0';) {
        if (IsSeparator(*c)) {
            while (IsSeparator(*c)) ++c;
            last = n;
            out[n++] = L'\\';
        } else {
            out[n++] = *c++;
        }
    }
    if (n > 0 && last == n - 1) {
        // Ends with a separator: the parent is one folder further up.
        size_t previous = last;
        last = 0;
        while (previous > 1) {
            --previous;
            if (out[previous] == L'\\') {
                last = previous;
                break;
            }
        }
    }
    out[last == 0 ? 0 : last + 1] = L'\0';
}

bool IsSamePath(const wchar_t* a, const wchar_t* b) {
    for (; *a != L'\0' && *b != L'\0'; ++a, ++b)
        if (Capital(*a) != Capital(*b)) return false;
    return *a == *b;
}

std::wstring DefaultOutputFileName(const wchar_t* format, const wchar_t* versionText) {
    const bool plain = std::wstring(versionText) == L"1.00";
    const std::wstring texts[2] = {plain ? L"" : L"_", plain ? L"" : versionText};
    // The format's own conversions: "%s" takes the next text, "%%" is a percent sign.
    std::wstring name;
    size_t next = 0;
    for (const wchar_t* c = format; *c != L'\0'; ++c) {
        if (c[0] == L'%' && c[1] == L's') {
            if (next < 2) name += texts[next++];
            ++c;
        } else if (c[0] == L'%' && c[1] == L'%') {
            name += L'%';
            ++c;
        } else {
            name += *c;
        }
    }
    return name;
}

OutputVerdict JudgeOutput(bool sameAsSource, std::optional<uint64_t> availableBytes, uint64_t requiredBytes) {
    if (sameAsSource) return OutputVerdict::SameAsSource;
    if (availableBytes && *availableBytes < requiredBytes) return OutputVerdict::TooLittleRoom;
    return OutputVerdict::Accept;
}

}  // namespace tessaly

namespace tessaly {

int RefusalMessageFor(int discIdentity) {
    switch (discIdentity) {
        case 0: return 0;
        case 2: return 146;
        case 3: return 147;
        case 4: return 148;
        default: return 145;
    }
}

}  // namespace tessaly
