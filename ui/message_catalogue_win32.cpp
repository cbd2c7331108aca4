// The catalogue's texts on Windows: the program's own string resources.

#include <windows.h>

#include "ui/message_catalogue.h"

namespace tessaly {

std::wstring_view MessageCatalogue::DefaultTextSource(int id) {
    // A zero buffer size makes LoadStringW hand out the resource text itself (not terminated)
    // and its length, so the cut to 511 characters is made in one place for every platform.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return {};
    return std::wstring_view(text, static_cast<size_t>(length));
}

}  // namespace tessaly
