#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace qm {
namespace {

std::string StrError(int err) {
  char buf[256];
  // GNU strerror_r returns the text (possibly not in buf).
  const char* text = strerror_r(err, buf, sizeof buf);
  if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(err);
  return text;
}

}  // namespace

int MapErrno(int err) {
  switch (err) {
    case 0:
      return kErrNone;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
      return kErrAccessDenied;
    case EBADF:
    case EIO:
      return kErrInvalidHandle;
    case EAGAIN:
    case EINPROGRESS:
      return kErrIoPending;
    default:
      return err;
  }
}

SysError SysErrorFromErrno(int err) { return SysError{MapErrno(err), StrError(err)}; }

std::string ErrorStr(int code) {
  switch (code) {
    case kErrNone:
      return StrError(0);
    case kErrFileNotFound:
      return StrError(ENOENT);
    case kErrAccessDenied:
      return StrError(EACCES);
    case kErrInvalidHandle:
      return StrError(EBADF);
    case kErrInvalidName:
      return "The file name, directory name, or volume label syntax is incorrect.";
    case kErrIoPending:
      return StrError(EINPROGRESS);
    default:
      return StrError(code);
  }
}

}  // namespace qm
