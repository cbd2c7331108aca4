#pragma once
// The string table (IDs 133 to 165) and the way texts are taken from it: each text goes into the
// next of five fixed slots, used in turn; the caller works with the slot directly.
//
// A text stays valid while at most four further slots are taken by the same thread. The thread
// that shows the windows has a ring of its own; every other thread (the build worker's progress
// reports) takes from a second ring, so neither can overwrite a text the other still uses.

#include <cstddef>
#include <string_view>

namespace tessaly {

constexpr int kCatalogueSlots = 5;
constexpr int kCatalogueTextLength = 512;  // characters, plus the terminator

class MessageCatalogue {
public:
    // The complete text of string `id`, not necessarily terminated; empty when there is none.
    using TextSource = std::wstring_view (*)(int id);

    // Takes the next slot and loads string `id` into it, cut to 511 characters (the platform's
    // string loading with a 512-character buffer keeps one place for the terminator).
    static wchar_t* Load(int id);

    // Takes the next slot as scratch space of kCatalogueTextLength + 1 characters.
    static wchar_t* NextSlot();

    // Makes the calling thread the window thread. Until a thread is named, all threads share the
    // window thread's ring.
    static void SetWindowThread();

    // Where the texts come from: the program's string resources on Windows, the built-in table
    // elsewhere. Returns the previous source.
    static TextSource SetTextSource(TextSource source);

    // The platform's source (what SetTextSource replaces).
    static std::wstring_view DefaultTextSource(int id);
};

}  // namespace tessaly
