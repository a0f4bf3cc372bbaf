// One running copy per instance: an exclusive flock on a lock file named
// after the instance's mutex name.
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

  // Takes the lock "<folder>/<name>.lock" without waiting.
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

// The folder for the lock files. Session copies use $XDG_RUNTIME_DIR, or a
// private folder "qmdriver-<uid>" (mode 0700, owned by us) in the temporary
// folder when there is none, so other users cannot plant or block the file.
// The service uses /run/qmdriver, or $QMDRIVER_RUN_DIR when set (tests). The
// folder is created when missing; an empty text when that fails.
std::string InstanceLockFolder(bool serviceMode, SysError* err = nullptr);

}  // namespace qm
