#include "base/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/config_store.h"
#include "platform/clock.h"
#include "platform/file_util.h"
#include "platform/process.h"

namespace qm {
namespace {

int OpenLog(const std::string& path, bool truncate) {
  if (path.empty()) return -1;
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  return ::open(path.c_str(), flags, 0600);  // messages and numbers are nobody else's business
}

// A log entry stays on one line: line breaks inside a text become blanks.
void AppendOneLine(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += (c == '\r' || c == '\n') ? ' ' : c;
  }
}

}  // namespace

Logger::Logger(std::string path, const ConfigStore* config)
    : path_(std::move(path)), config_(config), fd_(OpenLog(path_, false)) {}

int Logger::ThresholdForLevel(int level) {
  switch (level) {
    case 0:
      return 0;
    case 1:
      return 2;
    case 2:
      return 10;
    default:
      return -1;
  }
}

std::string Logger::FormatPrefix(int day, int month, int year, int hour, int minute, int second,
                                 int millisecond, uint32_t threadId) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "[%02d-%02d-%04d %02d:%02d:%02d.%03d %04u] ", day, month, year, hour,
                minute, second, millisecond, threadId & 0xFFFFu);
  return buf;
}

void Logger::Write(LogLevel level, std::string_view text) {
  if (static_cast<int>(level) < threshold_.load()) return;
  const LocalTime t = LocalNow();
  std::string line = FormatPrefix(t.day, t.month, t.year, t.hour, t.minute, t.second, t.millisecond,
                                  CurrentThreadId());
  AppendOneLine(line, text);
  line.append("\r\n");

  std::lock_guard lock(mutex_);
  if (fd_) {
    WriteAll(fd_.get(), line);  // failures are ignored: the driver goes on
    ::fdatasync(fd_.get());
  }
  if (++lineCount_ % 100 == 0) CheckSizeLocked();
}

void Logger::CheckSizeLocked() {
  const uint32_t limit = maxSizeKb_.load();
  if (limit == 0 || !fd_) return;
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) return;
  if (static_cast<uint64_t>(st.st_size) < static_cast<uint64_t>(limit) * 1024u) return;
  // rename() replaces an older ".1" in one step, so the current log is never
  // lost; when the rename fails we keep writing to the current file.
  const std::string older = path_ + ".1";
  if (::rename(path_.c_str(), older.c_str()) != 0) return;
  fd_.Reset(OpenLog(path_, true));
}

void Logger::Clear() {
  std::lock_guard lock(mutex_);
  fd_.Reset(OpenLog(path_, true));
}

void Logger::OpenInViewer() const {
  const std::string viewer = config_ ? config_->GetString("logger.viewer") : std::string();
  if (!viewer.empty()) {
    SpawnDetached({viewer, path_});
  } else {
    SpawnDetached({"xdg-open", path_});
  }
}

}  // namespace qm
