#include "tools/qmctl/progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace qm {
namespace {
constexpr std::size_t kWidth = 30;
}  // namespace

ProgressBar::ProgressBar(std::size_t total, std::string label)
    : total_(total), label_(std::move(label)), shown_(::isatty(STDERR_FILENO) == 1 && total > 0) {
  Update(0);
}

ProgressBar::~ProgressBar() {
  if (shown_ && drawn_ != static_cast<std::size_t>(-1)) std::fputc('\n', stderr);
}

void ProgressBar::Update(std::size_t done) {
  if (!shown_ || done == drawn_) return;
  drawn_ = done;
  const std::size_t filled = total_ == 0 ? kWidth : done * kWidth / total_;
  std::fprintf(stderr, "\r[%s%s] %zu/%zu %s", std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), done, total_, label_.c_str());
  std::fflush(stderr);
}

}  // namespace qm
