#pragma once
// How a build ended, and the exception that carries the message of an expected failure.

#include <cstdint>

#include "platform/exceptions.h"

namespace tessaly {

enum class JobResult : uint32_t {
    Ok = 0,            // image written; every file and the header sectors matched their CRC-32
    VerifyFailed = 1,  // image written; a copied or rebuilt file, or the header sectors, did not match
    Cancelled = 2,     // stopped (or ended) while the cancel flag was raised; never reported
    PathError = 3,     // a CPathException ended the job; its message ID goes with it
    FileError = 4,     // a CFileException ended the job
    OtherError = 5,    // any other exception (out of memory, ...)
};

// String-table IDs that a CPathException carries.
enum MessageId : int {
    kMsgPackageDataDamaged = 139,   // stored file does not match its CRC-32 (or an unknown entry mode)
    kMsgCannotOpenSource = 149,     // the source image cannot be indexed, opened or measured
    kMsgCannotCreateOutput = 150,   // the output cannot be opened or given its length, or is the source
    kMsgSourceFileNotFound = 151,   // a copied/rebuilt file is missing, or its archive cannot be patched
};

class CPathException : public CException {
public:
    explicit CPathException(int messageId) : m_nMessageId(messageId) {}
    int m_nMessageId;
};

}  // namespace tessaly
