#include "platform/signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::RunInChild;

TEST(Signals, ShutdownSetDependsOnMode) {
  EXPECT_EQ(ShutdownSignals(true), (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
  EXPECT_EQ(ShutdownSignals(false), (std::vector<int>{SIGTERM, SIGINT}));
}

TEST(SignalsConcurrent, TermIntAndHangupReachTheCallback) {
  // In a child: should the watcher fail, the signal ends the child, not the test run.
  const int rc = RunInChild([] {
    std::atomic<int> seen{0};
    std::atomic<int> calls{0};
    {
      SignalWatcher watcher(ShutdownSignals(true), [&](int sig) {
        seen.fetch_or(sig == SIGTERM ? 1 : sig == SIGINT ? 2 : sig == SIGHUP ? 4 : 8);
        ++calls;
      });
      if (!watcher.ok()) return 1;
      if (watcher.LastSignal() != 0 || watcher.WaitFor(1ms)) return 2;
      ::kill(::getpid(), SIGTERM);
      if (!watcher.WaitFor(10s)) return 3;
      ::kill(::getpid(), SIGINT);
      ::kill(::getpid(), SIGHUP);
      for (int i = 0; i < 1000 && seen.load() != 7; ++i) ::usleep(10000);
      if (seen.load() != 7) return 4;
      // Only one watcher at a time.
      SignalWatcher second({SIGUSR1}, {});
      if (second.ok()) return 5;
    }
    // The previous (default) handlers are back: SIGTERM would end us now.
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    if (now.sa_handler != SIG_DFL) return 6;
    // A new watcher works after the first one is gone.
    SignalWatcher again({SIGUSR1}, {});
    ::kill(::getpid(), SIGUSR1);
    return again.ok() && again.WaitFor(10s) && again.LastSignal() == SIGUSR1 ? 0 : 7;
  });
  EXPECT_EQ(rc, 0);
}

TEST(Signals, DefaultsIgnorePipeAndServiceHangupButNotChildren) {
  const int rc = RunInChild([] {
    ApplySignalDefaults(false);
    int fds[2];
    if (::pipe(fds) != 0) return 1;
    ::close(fds[0]);
    const char c = 'x';
    if (::write(fds[1], &c, 1) != -1 || errno != EPIPE) return 2;  // no SIGPIPE death
    struct sigaction hup {}, chld {};
    ::sigaction(SIGHUP, nullptr, &hup);
    ::sigaction(SIGCHLD, nullptr, &chld);
    if (hup.sa_handler != SIG_IGN) return 3;
    if (chld.sa_handler == SIG_IGN) return 4;  // children must stay reapable
    return 0;
  });
  EXPECT_EQ(rc, 0);
  const int tray = RunInChild([] {
    ApplySignalDefaults(true);
    struct sigaction hup {};
    ::sigaction(SIGHUP, nullptr, &hup);
    return hup.sa_handler == SIG_DFL ? 0 : 1;
  });
  EXPECT_EQ(tray, 0);
}

}  // namespace
}  // namespace qm
