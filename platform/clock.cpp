#include "platform/clock.h"

#include <sys/time.h>
#include <unistd.h>

namespace qm {

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t UnixNow() { return static_cast<uint32_t>(::time(nullptr)); }

LocalTime LocalNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm t{};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &t);
  return LocalTime{t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000)};
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::gettid()); }

}  // namespace qm
