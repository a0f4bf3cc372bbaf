// The configured sources, in order, and one pass of the source thread over
// them.
//
// Loading reads "sources.0.type", "sources.1.type", ... : "file", "cmdline",
// "mysql" and "url" (exact case) become sources; any other type, empty or
// missing included, ends the list. Saving writes the list back in order.
//
// Threads: any. One lock covers loading, saving and a pass, so a poll never
// overlaps a reload; every fetch has a time-out, and Stop ends a fetch in
// progress, so the lock is never held for long.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

#include "integration/sms_source.h"

namespace qm {

class SourceList {
 public:
  // The services' stop token is replaced by the list's own (see Stop).
  explicit SourceList(SourceServices services);
  SourceList(const SourceList&) = delete;
  SourceList& operator=(const SourceList&) = delete;

  void Load(const ConfigStore& config);
  void Save(ConfigStore& config) const;
  std::size_t Size() const;

  // Polls every active source whose period (seconds) divides `pass` (the
  // source thread's one-second beat), logs each work item as "Source %s:
  // msg '%s' to '%s', url '%s'", and returns them all in order.
  WorkItems Poll(uint32_t pass);

  // Ends a fetch in progress (a command's process group, a transfer, a
  // query) and every later one: the driver exits.
  void Stop() { stop_.request_stop(); }

 private:
  std::stop_source stop_;
  SourceServices services_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<SMSSource>> sources_;
};

// A source with a period of P seconds is fetched on every P-th pass; a period
// of 0 or less never.
inline bool IsSourceDue(int32_t periodSeconds, uint32_t pass) {
  return periodSeconds > 0 && pass % static_cast<uint32_t>(periodSeconds) == 0;
}

// A source of the named type ("file", "cmdline", "mysql", "url"), or null.
std::unique_ptr<SMSSource> MakeSource(const std::string& type, const SourceServices& services);

}  // namespace qm
