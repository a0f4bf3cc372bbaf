// How quickly the real qmdriver is sending again after its modem comes back,
// and what an idle driver costs.
//
// 1. Recovery: the driver runs against the simulated modem behind a stable
//    link with "modem.reconnect.time" R. The modem is unplugged; a message
//    is queued through the spool while it is away; after a pause the modem is
//    plugged in again. Measured from the replug to the modem accepting the
//    queued message, several times. The target is R plus the initialisation.
// 2. Idle: the connected driver with nothing to do, its CPU time (user +
//    system, from /proc) over a minute, as a share of one core.
//
//   ninja -C build-rel qmdriver bench_recovery && build-rel/bench/bench_recovery [R seconds] [idle seconds]
//
// (Built with the tests, whose simulated modem it uses.)
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/table_file.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// User + system CPU time of a process, in seconds.
double CpuSeconds(pid_t pid) {
  std::istringstream in(qm::test::ReadFile("/proc/" + std::to_string(pid) + "/stat"));
  std::string field;
  std::string stat = in.str();
  // Fields after the command name, which is in parentheses.
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::vector<std::string> fields;
  while (rest >> field) fields.push_back(field);
  const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return (std::stod(fields.at(11)) + std::stod(fields.at(12))) / ticks;  // utime, stime
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int reconnect = argc > 1 ? std::atoi(argv[1]) : 5;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
  if (reconnect < 1 || idleSeconds < 1) {
    std::fprintf(stderr, "usage: %s [modem.reconnect.time, s, default 5] [idle seconds, default 60]\n", argv[0]);
    return 2;
  }
  qm::test::TempDir ports;
  const std::string link = ports.File("ttyUSB-modem");
  const std::string spool = ports.File("spool.xml");
  qm::test::WriteFile(spool, "");
  qm::test::FakeModem modem(link);
  qm::test::SimulatedModem& sim = modem.Simulate();
  qm::test::DriverSandbox box({{"modem.emulation", "0"},
                               {"modem.port", link},
                               {"status.time", "1"},
                               {"sender.delay", "0"},
                               {"modem.reconnect.time", std::to_string(reconnect)},
                               {"logger.level", "2"},
                               {"sources.0.type", "file"},
                               {"sources.0.name", "spool"},
                               {"sources.0.period", "1"},
                               {"sources.0.location", spool}});
  qm::test::DriverProcess driver(box, {"-noicon"});
  const std::string statusFile = box.UserFile("qmdriver.status");
  if (!qm::test::WaitForFileContaining(statusFile, "state:ready")) {
    std::fprintf(stderr, "the driver did not get ready\n");
    return 1;
  }

  std::printf("recovery, modem.reconnect.time %d s (replug to the queued message accepted):\n", reconnect);
  std::vector<double> times;
  for (int round = 0; round < 5; ++round) {
    modem.Unplug();
    if (!qm::test::WaitForFileContaining(statusFile, "state:error", 30s)) return std::puts("no error state"), 1;
    const std::string text = "after replug " + std::to_string(round);
    qm::test::ReplaceFile(spool, qm::test::MessageDocument({{"+4917012345", text}}));
    if (!qm::test::WaitForFileContaining(statusFile, "outbox:1", 30s)) return std::puts("not queued"), 1;
    // Replugged at a random point of the reconnect timer's period.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 + 997 * round % (reconnect * 1000)));
    const auto plugged = Clock::now();
    modem.Replug();
    const auto accepted = [&] {
      for (const auto& s : sim.Submissions()) {
        if (s.text == text) return true;
      }
      return false;
    };
    if (!WaitFor(accepted, std::chrono::seconds(reconnect * 3 + 30))) return std::puts("not sent"), 1;
    times.push_back(Ms(Clock::now() - plugged));
    std::printf("  round %d: %.0f ms\n", round + 1, times.back());
  }
  std::sort(times.begin(), times.end());
  std::printf("  median %.0f ms, worst %.0f ms, target <= %d ms + initialisation\n", times[times.size() / 2],
              times.back(), reconnect * 1000);

  std::this_thread::sleep_for(2s);
  const double cpuBefore = CpuSeconds(driver.pid());
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu = CpuSeconds(driver.pid()) - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
  std::printf("idle for %.0f s: %.3f s CPU = %.2f %% of one core (target < 0.5 %%)\n", wall, cpu,
              100.0 * cpu / wall);
  driver.Signal(SIGTERM);
  return driver.WaitExit(30s) == 0 ? 0 : 1;
}
