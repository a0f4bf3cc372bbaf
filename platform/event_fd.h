// A wake-up signal that poll() can wait on (Linux eventfd).
//
// Signal may be called from any thread; the owner of the poll loop drains it.
// A signal stays pending until drained, so a wake that arrives before the
// poll starts is not lost.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/unique_fd.h"

namespace qm {

class EventFd {
 public:
  EventFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  int fd() const { return fd_.get(); }
  bool valid() const { return static_cast<bool>(fd_); }

  void Signal() const {
    const uint64_t one = 1;
    // The only failure is a counter overflow, and then the fd is readable anyway.
    [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
  }

  // Consumes every pending signal; true when there was one.
  bool Drain() const {
    uint64_t value = 0;
    return ::read(fd_.get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value);
  }

 private:
  UniqueFd fd_;
};

}  // namespace qm
