#include "resources/messages.h"

namespace tessaly {

const char* MessageUtf8(int id) {
    switch (id) {
#define MESSAGE(messageId, text) \
    case messageId:              \
        return text;
#include "resources/messages.inc"
#undef MESSAGE
        default:
            return "";
    }
}

}  // namespace tessaly
