// The one-line status file other programs watch:
//   updated: dd-mm-yyyy hh:mm:ss.mmm; hwnd: 00000000; pid: 1234; instance: 0;
//   port: ttyUSB0; state:ready; outbox:3; errors:0
// (one line, no line break). The path is "status.file"; an empty one writes
// nothing.
//
// Threads: any (the timer thread normally). Concurrent calls are safe: each
// writes its own temporary file and renames it over the old one, so readers
// never see a half-written line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "modem/link_status.h"
#include "platform/clock.h"

namespace qm {

class ConfigStore;

// What the line reports, gathered by the caller.
struct StatusSnapshot {
  unsigned instance = 0;
  bool serviceProfile = false;  // "%appdata%" is the service's folder
  uint32_t windowHandle = 0;    // there is no window on Linux: 0
  int64_t pid = 0;
  LinkStatus linkState = LinkStatus::kDisconnected;
  std::size_t outboxRows = 0;
  int failures = 0;             // the failure counter (0..10)
  LocalTime time{};             // when the line is written
};

// The line for a snapshot and port name (pure).
std::string FormatStatusLine(const StatusSnapshot& s, std::string_view port);

// Writes the status file. For instance N above 0 a configured name ending in
// "qmdriver.status" first becomes "qmdriver.N.status": the new name is stored
// in "status.file" and `saveConfiguration` (may be empty) is called, so later
// starts keep it. Then "%name%" variables in the path are expanded. Failures
// are silent; the result says whether the file was written, for tests.
bool WriteStatusFile(ConfigStore& config, const StatusSnapshot& snapshot,
                     const std::function<void()>& saveConfiguration);

}  // namespace qm
