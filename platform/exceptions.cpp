#include "platform/exceptions.h"

#include <system_error>

namespace tessaly {

namespace {
std::string describe(int osError, const std::string& fileName, const char* operation) {
    std::string text = std::string(operation) + " failed on '" + fileName + "'";
    if (osError != 0) text += ": " + std::system_category().message(osError);
    return text;
}
}  // namespace

CFileException::CFileException(Cause cause, int osError, std::string fileName, const char* operation)
    : CException(describe(osError, fileName, operation)),
      m_cause(cause),
      m_osError(osError),
      m_fileName(std::move(fileName)) {}

}  // namespace tessaly
