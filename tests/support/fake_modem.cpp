#include "tests/support/fake_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace qm::test {

FakeModem::FakeModem() {
  OpenPty();
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

FakeModem::FakeModem(std::string linkPath) : FakeModem() {
  linkPath_ = std::move(linkPath);
  Link();
}

FakeModem::~FakeModem() {
  thread_.request_stop();
  stopEvent_.Signal();
  if (thread_.joinable()) thread_.join();
  if (!linkPath_.empty() && master_) ::unlink(linkPath_.c_str());
}

void FakeModem::OpenPty() {
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  char name[128];
  if (::ptsname_r(master_.get(), name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
  slavePath_ = name;
  heldSlave_.Reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  // Raw from the start, as a serial line is: a fresh pty's line discipline
  // would echo what the modem says back to it until the driver sets it up.
  termios raw{};
  if (heldSlave_ && ::tcgetattr(heldSlave_.get(), &raw) == 0) {
    ::cfmakeraw(&raw);
    ::tcsetattr(heldSlave_.get(), TCSANOW, &raw);
  }
}

void FakeModem::Link() {
  ::unlink(linkPath_.c_str());
  if (::symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) throw std::runtime_error("symlink failed");
}

SimulatedModem& FakeModem::Simulate(ModemProfile profile) {
  auto sim = std::make_unique<SimulatedModem>(std::move(profile), [this](const std::string& bytes) { Send(bytes); });
  std::lock_guard lock(mutex_);
  sim_ = std::move(sim);
  responder_ = [sim = sim_.get()](const std::string& line) { return sim->Answer(line); };
  return *sim_;
}

void FakeModem::OnCommand(std::string command, std::string reply) {
  std::lock_guard lock(mutex_);
  script_[std::move(command)] = std::move(reply);
}

void FakeModem::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void FakeModem::Send(std::string_view bytes) {
  std::lock_guard writing(writeMutex_);
  std::size_t done = 0;
  std::size_t piece = 1;
  while (done < bytes.size()) {
    int fd;
    {
      std::lock_guard lock(mutex_);
      fd = master_.get();
    }
    if (fd < 0) return;
    std::size_t length = bytes.size() - done;
    if (splitWrites_) {
      piece = piece % 7 + 1;
      length = std::min(length, piece);
      ::poll(nullptr, 0, 2);
    }
    const ssize_t n = ::write(fd, bytes.data() + done, length);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      return;
    }
  }
}

std::string FakeModem::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

bool FakeModem::WaitForReceived(std::string_view text, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return received_cv_.wait_for(lock, limit, [&] { return received_.find(text) != std::string::npos; });
}

void FakeModem::Unplug() {
  if (sim_) sim_->PowerOff();
  thread_.request_stop();
  stopEvent_.Signal();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (!linkPath_.empty()) ::unlink(linkPath_.c_str());
  master_.Reset();
  heldSlave_.Reset();
}

void FakeModem::Replug() {
  {
    std::lock_guard lock(mutex_);
    pending_.clear();
    OpenPty();
    if (!linkPath_.empty()) Link();
  }
  if (sim_) sim_->PowerCycle();
  stopEvent_.Drain();
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void FakeModem::ForgetExclusiveMode() {
  std::lock_guard lock(mutex_);
  if (heldSlave_) ::ioctl(heldSlave_.get(), TIOCNXCL);
}

void FakeModem::Run(std::stop_token stop) {
  char buf[4096];
  while (!stop.stop_requested()) {
    pollfd fds[2] = {{master_.get(), POLLIN, 0}, {stopEvent_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) {
      // Nobody holds the slave open: wait for it rather than spin.
      ::poll(nullptr, 0, 10);
      continue;
    }
    const ssize_t n = ::read(master_.get(), buf, sizeof buf);
    if (n <= 0) {
      ::poll(nullptr, 0, 10);
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      received_.append(buf, static_cast<std::size_t>(n));
      pending_.append(buf, static_cast<std::size_t>(n));
    }
    received_cv_.notify_all();
    AnswerCompleteLines();
  }
}

void FakeModem::AnswerCompleteLines() {
  for (;;) {
    std::string reply;
    {
      std::lock_guard lock(mutex_);
      const std::size_t end = pending_.find_first_of("\r\x1A\x1B");
      if (end == std::string::npos) return;
      std::size_t length = end + 1;
      if (pending_[end] == '\r') {
        if (length == pending_.size()) return;  // its "\n" may still come
        if (pending_[length] == '\n') ++length;
      }
      const std::string line = pending_.substr(0, length);
      pending_.erase(0, length);
      auto it = script_.find(line);
      if (it != script_.end()) {
        reply = it->second;
      } else if (responder_) {
        std::optional<std::string> answer = responder_(line);
        if (!answer) continue;
        reply = std::move(*answer);
      } else {
        continue;
      }
    }
    Send(reply);
  }
}

}  // namespace qm::test
