// Platform error codes.
//
// The driver's logic and texts depend on a few Windows-style error numbers
// (file not found, access denied, invalid handle, invalid name, I/O pending).
// errno values are mapped onto them here, in one place; any other errno is kept
// as it is. The text always comes from strerror() of the original errno.
#pragma once

#include <string>

namespace qm {

enum ErrorCode : int {
  kErrNone = 0,
  kErrFileNotFound = 2,   // ENOENT, ENODEV, ENXIO, ENOMEDIUM
  kErrAccessDenied = 5,   // EACCES, EPERM, EBUSY
  kErrInvalidHandle = 6,  // EBADF, EIO, a hang-up
  kErrInvalidName = 123,  // an empty port or file name, checked before the call
  kErrIoPending = 997,    // EAGAIN, EINPROGRESS: never a failure
};

struct SysError {
  int code = kErrNone;  // mapped code (see above) or the raw errno
  std::string text;     // human-readable text for the failure
};

// Maps an errno value onto the driver's error code.
int MapErrno(int err);

// Captures an errno value: mapped code plus strerror() text.
SysError SysErrorFromErrno(int err);

// Text for a mapped code: strerror() of a representative errno; for code 123
// the text of an invalid name; "Unknown error N" when there is none.
std::string ErrorStr(int code);

}  // namespace qm
