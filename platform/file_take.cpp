#include "platform/file_take.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/errors.h"
#include "platform/unique_fd.h"

namespace qm {
namespace {

constexpr auto kLockRetry = std::chrono::milliseconds(20);

bool TryLockBoth(int fd, bool writable) {
  struct flock range {};
  range.l_type = writable ? F_WRLCK : F_RDLCK;
  range.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however it grows
  if (::fcntl(fd, F_OFD_SETLK, &range) != 0) return false;
  if (::flock(fd, writable ? LOCK_EX | LOCK_NB : LOCK_SH | LOCK_NB) == 0) return true;
  range.l_type = F_UNLCK;
  ::fcntl(fd, F_OFD_SETLK, &range);
  return false;
}

bool ReadToEnd(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
}

}  // namespace

TakenFile TakeFileContent(const std::string& path, std::chrono::milliseconds lockWait) {
  TakenFile taken;
  bool writable = true;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (!fd && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    writable = false;
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  }
  if (!fd) {
    taken.error = SysErrorFromErrno(errno).text;
    return taken;
  }
  const auto deadline = std::chrono::steady_clock::now() + lockWait;
  while (!TryLockBoth(fd.get(), writable)) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EACCES && errno != EINTR) {
      taken.error = SysErrorFromErrno(errno).text;
      return taken;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      taken.error = "the file is locked by another process";
      return taken;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
  if (!ReadToEnd(fd.get(), taken.content)) {
    taken.error = SysErrorFromErrno(errno).text;
    taken.content.clear();
    return taken;
  }
  taken.read = true;
  if (!writable) {
    taken.error = SysErrorFromErrno(EACCES).text;
  } else if (::ftruncate(fd.get(), 0) != 0) {
    taken.error = SysErrorFromErrno(errno).text;
  } else {
    taken.emptied = true;
  }
  return taken;  // closing the descriptor releases both locks
}

}  // namespace qm
