// A progress bar on a terminal: "\r[#####.....]  12/30 queued", redrawn in
// place on standard error; nothing at all when that is not a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

class ProgressBar {
 public:
  ProgressBar(std::size_t total, std::string label);
  ~ProgressBar();  // ends the bar's line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(std::size_t done);

 private:
  std::size_t total_;
  std::string label_;
  bool shown_;
  std::size_t drawn_ = static_cast<std::size_t>(-1);
};

}  // namespace qm
