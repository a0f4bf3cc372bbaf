// Runs a test in a fixed time zone, so epoch values of local times do not
// depend on the machine.
#pragma once

#include <ctime>

#include "tests/support/test_env.h"

namespace qm::test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) : env_("TZ", zone) { tzset(); }

 private:
  // Declared first, destroyed last: re-reads TZ once env_ has restored it.
  struct Reset {
    ~Reset() { tzset(); }
  } reset_;
  ScopedEnv env_;
};

// mktime of a local time with the daylight-saving state left to the zone.
inline int64_t MkTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

}  // namespace qm::test
