#include <unistd.h>

#include "platform/console.h"

namespace tessaly {

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

}  // namespace tessaly
