// One running copy per instance: an exclusive flock on a lock file named
// after the instance's mutex name, kept in the folder of the data it guards
// (the instance's tables and configuration), so that every way of starting
// the driver on the same data meets the same lock.
//
// The lock belongs to the open file, so it lasts until the InstanceLock is
// destroyed or the process ends (however it ends); the descriptor is
// close-on-exec, so programs the driver starts never inherit it.
//
// Called on the main thread at start-up.
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/unique_fd.h"

namespace qm {

class InstanceLock {
 public:
  enum class Status {
    kAcquired,        // this process is the one copy
    kAlreadyRunning,  // another process holds the lock
    kError,           // the lock file could not be made (see Error())
  };

  InstanceLock() = default;
  InstanceLock(InstanceLock&&) = default;
  InstanceLock& operator=(InstanceLock&&) = default;

  // Takes the lock "<folder>/<name>.lock" without waiting. A folder that
  // others may write to is refused (kError, access denied).
  static InstanceLock Acquire(const std::string& folder, const std::string& name);

  Status status() const { return status_; }
  const SysError& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  Status status_ = Status::kError;
  SysError error_;
  std::string path_;
  UniqueFd fd_;
};

enum class LockHolder {
  kNobody,   // free, or never made: no driver runs on this data
  kProcess,  // a running driver holds it
  kUnknown,  // the lock file cannot be read (another user's)
};

// Who holds "<folder>/<name>.lock", without creating or taking it for long:
// for tools that must know whether the driver runs before they touch its
// data.
LockHolder ProbeInstanceLock(const std::string& folder, const std::string& name);

}  // namespace qm
