#include "platform/signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(SignalsConcurrent, TermIntAndHangupReachTheCallback) {
  // In a child: should the watcher fail, the signal ends the child, not the test run.
  const int rc = test::RunInChild([] {
    std::atomic<int> seen{0};
    {
      SignalWatcher watcher(ShutdownSignals(true), [&](int sig) {
        seen.fetch_or(sig == SIGTERM ? 1 : sig == SIGINT ? 2 : sig == SIGHUP ? 4 : 8);
      });
      if (!watcher.ok() || watcher.WaitFor(1ms)) return 1;
      ::kill(::getpid(), SIGTERM);
      if (!watcher.WaitFor(10s) || watcher.LastSignal() != SIGTERM) return 2;
      ::kill(::getpid(), SIGINT);
      ::kill(::getpid(), SIGHUP);
      for (int i = 0; i < 1000 && seen.load() != 7; ++i) ::usleep(10000);
      if (seen.load() != 7) return 3;
      if (SignalWatcher({SIGUSR1}, {}).ok()) return 4;  // one watcher at a time
    }
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    if (now.sa_handler != SIG_DFL) return 5;  // the previous handler is back
    SignalWatcher again({SIGUSR1}, {});
    ::kill(::getpid(), SIGUSR1);
    return again.ok() && again.WaitFor(10s) ? 0 : 6;
  });
  EXPECT_EQ(rc, 0);
}

TEST(Signals, DefaultsIgnorePipeAndServiceHangupButNotChildren) {
  for (const bool tray : {false, true}) {
    const int rc = test::RunInChild([tray] {
      ApplySignalDefaults(tray);
      int fds[2];
      if (::pipe(fds) != 0) return 1;
      ::close(fds[0]);
      if (::write(fds[1], "x", 1) != -1 || errno != EPIPE) return 2;  // no death by SIGPIPE
      struct sigaction hup {}, chld {};
      ::sigaction(SIGHUP, nullptr, &hup);
      ::sigaction(SIGCHLD, nullptr, &chld);
      return hup.sa_handler == (tray ? SIG_DFL : SIG_IGN) && chld.sa_handler != SIG_IGN ? 0 : 3;
    });
    EXPECT_EQ(rc, 0) << (tray ? "tray" : "service");
  }
}

}  // namespace
}  // namespace qm
