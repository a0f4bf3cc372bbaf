#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_util.h"

namespace qm {

InstanceLock InstanceLock::Acquire(const std::string& folder, const std::string& name) {
  InstanceLock lock;
  lock.path_ = folder + "/" + name + ".lock";
  // In a folder anybody may write to, another user could take the name first
  // and keep the driver from ever starting.
  struct stat dir {};
  if (::stat(folder.c_str(), &dir) != 0) {
    lock.error_ = SysErrorFromErrno(errno);
    return lock;
  }
  if ((dir.st_mode & S_IWOTH) != 0) {
    lock.error_ = SysErrorFromErrno(EACCES);
    return lock;
  }
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

LockHolder ProbeInstanceLock(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name + ".lock";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return errno == ENOENT ? LockHolder::kNobody : LockHolder::kUnknown;
  int rc;
  do {
    rc = ::flock(fd.get(), LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return LockHolder::kNobody;  // released with the descriptor
  return errno == EWOULDBLOCK ? LockHolder::kProcess : LockHolder::kUnknown;
}

}  // namespace qm
