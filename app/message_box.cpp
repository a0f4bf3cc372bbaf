#include "app/message_box.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "base/logger.h"

namespace qm {
namespace {
std::atomic<Logger*> g_logger{nullptr};
}

void SetMessageBoxLogger(Logger* logger) { g_logger.store(logger); }

void ShowMessageBox(std::string_view caption, std::string_view text) {
  std::string line(caption);
  line += ": ";
  line += text;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  if (Logger* log = g_logger.load()) log->Write(LogLevel::kError, line);
}

}  // namespace qm
