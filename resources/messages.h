#pragma once
// The user-visible texts by string-table ID (133 to 165), as UTF-8. The Windows program loads the
// same texts from its string table, which is generated from the same list (messages.inc).

namespace tessaly {

constexpr int kFirstMessageId = 133;
constexpr int kLastMessageId = 165;

// The text of message `id`, or an empty text for an ID outside the table.
const char* MessageUtf8(int id);

}  // namespace tessaly
