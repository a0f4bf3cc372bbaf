#include "platform/signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>

namespace qm {
namespace {

// The pipe the handler writes to; -1 while no watcher exists.
std::atomic<int> g_pipe{-1};

extern "C" void OnSignal(int sig) {
  const int saved = errno;
  const int fd = g_pipe.load();
  if (fd >= 0) {
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(fd, &b, 1);  // a full pipe already holds a wake-up
  }
  errno = saved;
}

constexpr unsigned char kStopByte = 0;

}  // namespace

std::vector<int> ShutdownSignals(bool trayMode) {
  std::vector<int> s = {SIGTERM, SIGINT};
  if (trayMode) s.push_back(SIGHUP);
  return s;
}

void ApplySignalDefaults(bool trayMode) {
  std::signal(SIGPIPE, SIG_IGN);
  if (!trayMode) std::signal(SIGHUP, SIG_IGN);
}

SignalWatcher::SignalWatcher(std::vector<int> signals, Callback onSignal)
    : signals_(std::move(signals)), onSignal_(std::move(onSignal)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  readEnd_.Reset(fds[0]);
  writeEnd_.Reset(fds[1]);
  ::fcntl(writeEnd_.get(), F_SETFL, O_NONBLOCK);  // the handler must never block
  int expected = -1;
  if (!g_pipe.compare_exchange_strong(expected, writeEnd_.get())) return;  // another watcher exists

  thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
  sigset_t unblock;
  sigemptyset(&unblock);
  ok_ = true;
  for (int sig : signals_) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction old {};
    if (::sigaction(sig, &action, &old) != 0) {
      ok_ = false;
      old.sa_handler = SIG_DFL;
    }
    previous_.push_back(old);
    sigaddset(&unblock, sig);
  }
  ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}

SignalWatcher::~SignalWatcher() {
  int mine = writeEnd_.get();
  g_pipe.compare_exchange_strong(mine, -1);
  for (std::size_t i = 0; i < previous_.size(); ++i) ::sigaction(signals_[i], &previous_[i], nullptr);
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

bool SignalWatcher::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return received_.wait_for(lock, timeout, [this] { return last_.load() != 0; });
}

void SignalWatcher::Loop(std::stop_token stop) {
  // The stop request wakes the read with a byte of its own.
  std::stop_callback wake(stop, [this] {
    // Blocking write: the stop byte must get through even if the pipe is full.
    ::fcntl(writeEnd_.get(), F_SETFL, 0);
    const unsigned char stopByte = kStopByte;
    while (::write(writeEnd_.get(), &stopByte, 1) < 0 && errno == EINTR) {
    }
  });
  while (!stop.stop_requested()) {
    unsigned char b = 0;
    const ssize_t n = ::read(readEnd_.get(), &b, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || b == kStopByte) return;
    {
      std::lock_guard lock(mutex_);
      last_.store(b);
    }
    received_.notify_all();
    if (onSignal_) onSignal_(b);
  }
}

}  // namespace qm
