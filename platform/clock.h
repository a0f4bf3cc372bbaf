// Time sources.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>

namespace qm {

// A monotonic millisecond counter truncated to 32 bits. It wraps after about
// 49.7 days, and code comparing ticks must allow for that.
uint32_t TickCount();

// An injectable tick source: production code uses TickCount, tests a fake.
using TickSource = std::function<uint32_t()>;

// Seconds since 1970 (wall clock), as stored in messages and tables.
uint32_t UnixNow();

// Local broken-down time of now with milliseconds.
struct LocalTime {
  int day, month, year, hour, minute, second, millisecond;
};
LocalTime LocalNow();

// The calling thread's kernel id.
uint32_t CurrentThreadId();

}  // namespace qm
