// The catalogue's texts where there are no string resources: the table the string resources are
// generated from, converted to wide text once.

#include <array>
#include <string>

#include "platform/text.h"
#include "resources/messages.h"
#include "ui/message_catalogue.h"

namespace tessaly {

std::wstring_view MessageCatalogue::DefaultTextSource(int id) {
    static const auto table = [] {
        std::array<std::wstring, kLastMessageId - kFirstMessageId + 1> texts;
        for (int i = kFirstMessageId; i <= kLastMessageId; ++i) texts[i - kFirstMessageId] = WideFromUtf8(MessageUtf8(i));
        return texts;
    }();
    if (id < kFirstMessageId || id > kLastMessageId) return {};
    return table[id - kFirstMessageId];
}

}  // namespace tessaly
