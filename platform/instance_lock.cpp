#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/environment.h"
#include "platform/file_util.h"

namespace qm {
namespace {

std::string NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// A folder only we can write to: ours, not a symlink, no access for others.
bool EnsurePrivateFolder(const std::string& path, SysError* err) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (err) *err = SysErrorFromErrno(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 0077) != 0) {
    if (err) *err = SysErrorFromErrno(EACCES);
    return false;
  }
  return true;
}

}  // namespace

std::string InstanceLockFolder(bool serviceMode, SysError* err) {
  if (serviceMode) {
    std::string folder = NonEmptyEnv("QMDRIVER_RUN_DIR");
    if (folder.empty()) folder = "/run/qmdriver";
    if (!MakeDirectories(folder, 0755, err)) return {};
    return folder;
  }
  const std::string runtime = NonEmptyEnv("XDG_RUNTIME_DIR");
  if (!runtime.empty() && ::access(runtime.c_str(), W_OK | X_OK) == 0) return runtime;
  const std::string folder = TempDir() + "/qmdriver-" + std::to_string(::geteuid());
  if (!EnsurePrivateFolder(folder, err)) return {};
  return folder;
}

InstanceLock InstanceLock::Acquire(const std::string& folder, const std::string& name) {
  InstanceLock lock;
  lock.path_ = folder + "/" + name + ".lock";
  lock.fd_.Reset(::open(lock.path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.fd_) {
    lock.error_ = SysErrorFromErrno(errno);
    return lock;
  }
  int rc;
  do {
    rc = ::flock(lock.fd_.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int e = errno;
    lock.fd_.Reset();
    if (e == EWOULDBLOCK) {
      lock.status_ = Status::kAlreadyRunning;
    } else {
      lock.error_ = SysErrorFromErrno(e);
    }
    return lock;
  }
  lock.status_ = Status::kAcquired;
  // The holder's process id, for whoever wonders which process runs.
  if (::ftruncate(lock.fd_.get(), 0) == 0) WriteAll(lock.fd_.get(), std::to_string(::getpid()) + "\n");
  return lock;
}

}  // namespace qm
