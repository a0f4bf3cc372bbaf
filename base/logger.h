// The driver's log file.
//
// Each line is stamped "[dd-mm-yyyy hh:mm:ss.mmm tttt] " with the local time
// and the low 16 bits of the writing thread's id, written as UTF-8 with CR LF
// and flushed to disk before Write returns. Lines below the threshold are
// dropped. Every 100th line the size is checked; a file at or above the limit
// is renamed to "<path>.1" (replacing an older one) and a new file started.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/log_level.h"
#include "platform/unique_fd.h"

namespace qm {

class ConfigStore;

class Logger {
 public:
  // Opens (or creates) the file without truncating it. An empty path or a file
  // that cannot be opened gives a logger that writes nothing.
  Logger(std::string path, const ConfigStore* config);

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void Write(LogLevel level, std::string_view text);

  void SetLevel(int threshold) { threshold_.store(threshold); }
  int Threshold() const { return threshold_.load(); }
  void SetMaxSizeKb(uint32_t kb) { maxSizeKb_.store(kb); }

  // Closes the file and starts it anew, empty.
  void Clear();

  // Opens the log in "logger.viewer", or the desktop's default viewer.
  void OpenInViewer() const;

  const std::string& Path() const { return path_; }

  // "logger.level" to threshold: 0 -> 0, 1 -> 2, 2 -> 10; -1 for any other
  // value (the threshold is then left as it is).
  static int ThresholdForLevel(int level);

  // The line prefix for the given time and thread id.
  static std::string FormatPrefix(int day, int month, int year, int hour, int minute, int second,
                                  int millisecond, uint32_t threadId);

 private:
  void CheckSizeLocked();

  const std::string path_;
  const ConfigStore* config_;
  std::atomic<int> threshold_{0};
  std::atomic<uint32_t> maxSizeKb_{0};
  std::mutex mutex_;
  UniqueFd fd_;
  uint32_t lineCount_ = 0;
};

}  // namespace qm
