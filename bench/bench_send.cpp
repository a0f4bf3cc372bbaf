// End-to-end sending throughput of the real qmdriver.
//
// A private home gets an outbox of N single-segment messages; the driver runs
// as a child process against a fake modem that answers at once on the master
// side of a pseudo-terminal. Measured: wall time from the driver's start until
// "sent.txt" holds N rows, the steady rate from the first sent row to the Nth
// (connection set-up left out), the driver's CPU time per message and peak
// RSS (from wait4). It checks that every message was submitted exactly once
// (AT+CMGS= count and unique ids in "sent") and that the outbox ends up empty.
//
//   ninja -C build qmdriver bench_send && build/bench/bench_send 1000 [log level]
//
// For figures use a Release build:
//   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF
//   ninja -C build-rel qmdriver bench_send && build-rel/bench/bench_send 1000
//
// The optional log level (default 2, nothing) is the driver's logger.level;
// 0 gives a full log to look at when a run fails.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Private like the driver's own files (it keeps a table's mode when it rewrites it).
bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text);
  return ::close(fd) == 0 && written;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::size_t CountLines(const std::string& path) {
  const std::string text = ReadFile(path);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Field `index` of a TAB-separated row (empty when the row is shorter).
std::string Field(const std::string& row, int index) {
  std::size_t at = 0;
  for (int i = 0; i < index; ++i) {
    at = row.find('\t', at);
    if (at == std::string::npos) return {};
    ++at;
  }
  return row.substr(at, row.find('\t', at) - at);
}

void PrintTail(const std::string& title, const std::string& path, std::size_t count) {
  const std::vector<std::string> lines = Lines(ReadFile(path));
  std::printf("--- %s (%s), last %zu lines ---\n", title.c_str(), path.c_str(), count);
  for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
    std::printf("%s\n", lines[i].c_str());
  }
}

// Answers every command at once, the way a quick modem would.
class FakeModem {
 public:
  explicit FakeModem(int master) : master_(master), thread_([this](std::stop_token stop) { Run(stop); }) {}

  int Submissions() const { return submissions_; }
  int Commands() const { return commands_; }

 private:
  void Run(std::stop_token stop) {
    std::string pending;
    char buffer[4096];
    while (!stop.stop_requested()) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;  // the slave stays open on our side: no hang-up to wait out
      for (ssize_t i = 0; i < n; ++i) {
        const char c = buffer[i];
        if (c == '\x1A') {
          // The PDU of a submission is complete.
          pending.clear();
          WriteAll(master_, "\r\n+CMGS: " + std::to_string(++reference_) + "\r\n\r\nOK\r\n");
        } else if (c == '\r' || c == '\n') {
          if (!pending.empty()) Answer(pending);
          pending.clear();
        } else {
          pending += c;
        }
      }
    }
  }

  void Answer(std::string command) {
    for (char& c : command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ++commands_;
    if (command.starts_with("AT+CMGS=")) {
      ++submissions_;
      WriteAll(master_, "\r\n> ");
      return;
    }
    static const std::map<std::string, std::string> kAnswers = {
        {"AT+CMEE=?", "+CMEE: (0-2)"},
        {"AT+CSMS=?", "+CSMS: (0,1)"},
        {"AT+CMGF=?", "+CMGF: (0,1)"},
        {"AT+CNMI=?", "+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)"},
        {"AT+CMGD=?", "+CMGD: (1-30),(0-4)"},
        {"AT+CPMS?", "+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30"},
        {"AT+CUSD=?", "+CUSD: (0-2)"},
        {"AT+GSN", "356938035643809"},
        {"AT+CGMM", "BENCH"},
        {"AT+CSQ", "+CSQ: 20,99"},
    };
    const auto it = kAnswers.find(command);
    WriteAll(master_, it == kAnswers.end() ? "\r\nOK\r\n" : "\r\n" + it->second + "\r\n\r\nOK\r\n");
  }

  int master_;
  std::atomic<int> submissions_{0};
  std::atomic<int> commands_{0};
  int reference_ = 0;
  std::jthread thread_;  // last: starts after the members it uses
};

// The template with the benchmark's settings in place of the shipped ones.
std::string Configuration(const std::map<std::string, std::string>& settings) {
  std::map<std::string, std::string> pending = settings;
  std::string out;
  for (const std::string& line : Lines(ReadFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg"))) {
    const std::size_t eq = line.find('=');
    const auto it = line.starts_with('#') || eq == std::string::npos ? pending.end() : pending.find(line.substr(0, eq));
    if (it == pending.end()) {
      out += line + "\n";
    } else {
      out += it->first + "=" + it->second + "\n";
      pending.erase(it);
    }
  }
  for (const auto& [key, value] : pending) out += key + "=" + value + "\n";
  return out;
}

pid_t StartDriver(const std::string& home, const std::string& outputPath) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (entry.starts_with("HOME=") || entry.starts_with("XDG_") || entry.starts_with("QMDRIVER_")) continue;
    env.push_back(entry);
  }
  for (const char* entry : {"HOME=", "XDG_CONFIG_HOME=/config", "XDG_RUNTIME_DIR=/run",
                            "QMDRIVER_SERVICE_HOME=/service", "QMDRIVER_SYSTEMD_DIR=/units",
                            "QMDRIVER_XDG_AUTOSTART_DIR=/xdg"}) {
    const std::string text(entry);
    const std::size_t eq = text.find('=') + 1;
    env.push_back(text.substr(0, eq) + home + text.substr(eq));
  }
  std::vector<char*> cenv;
  for (std::string& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  std::string program = QM_QMDRIVER_PATH, noIcon = "-noicon";
  char* argv[] = {program.data(), noIcon.data(), nullptr};
  const std::string folder = home + "/program";
  const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv, cenv.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(null);
  return pid;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
  const std::string logLevel = argc > 2 ? argv[2] : "2";
  if (count < 1 || count > 0xFFFFFF) {
    std::fprintf(stderr, "usage: %s [messages (1..16777215), default 1000] [driver log level]\n", argv[0]);
    return 2;
  }
  const auto n = static_cast<std::size_t>(count);

  // The slave stays open here as well, so the master never sees a hang-up
  // while the driver closes and reopens the port; raw mode keeps the line
  // discipline from echoing our answers before the driver sets its own.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return std::perror("pty"), 1;
  const std::string slavePath = ::ptsname(master);
  const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || ::tcgetattr(slave, &tio) != 0) return std::perror("pty slave"), 1;
  ::cfmakeraw(&tio);
  ::tcsetattr(slave, TCSANOW, &tio);

  char home_template[] = "/tmp/bench_send.XXXXXX";
  if (::mkdtemp(home_template) == nullptr) return std::perror("mkdtemp"), 1;
  const std::string home = home_template;
  const std::string data = home + "/config/Quillmoor SMS";
  for (const char* dir : {"/config", "/program", "/run", "/units", "/xdg"}) ::mkdir((home + dir).c_str(), 0700);
  ::mkdir(data.c_str(), 0700);

  const std::string config = Configuration({{"modem.emulation", "0"}, {"modem.port", slavePath},
                                            {"sender.delay", "0"}, {"status.time", "1"},
                                            {"start.connect", "1"}, {"modem.reconnect.time", "0"},
                                            {"sender.retries", "3"}, {"logger.level", logLevel}});
  std::string outbox;
  char row[256];
  for (std::size_t i = 0; i < n; ++i) {
    // id, timestamp, to, type, segments, content, url, dstton, flags, uniqueid,
    // attempts, source, validity, custom
    std::snprintf(row, sizeof row,
                  "%08zx\t1700000000\t+4917012345\tsms\t1\tBenchmark message %zu\t\t1\t0\t%zu\t0\t\t0\t\r\n", i + 2, i,
                  1000 + i);
    outbox += row;
  }
  if (!WriteFile(home + "/program/qmdriver.cfg", config) || !WriteFile(data + "/outbox.txt", outbox)) {
    std::fprintf(stderr, "cannot write the files in %s\n", home.c_str());
    return 1;
  }

  const std::string sentPath = data + "/sent.txt";
  const std::string outputPath = home + "/driver.out";
  const auto limit = std::chrono::milliseconds(120000 + 100 * static_cast<long long>(n));
  int status = 0;
  rusage usage{};
  bool exited = false;
  Clock::time_point start, first, last;
  std::size_t sent = 0, failed = 0;
  int submissions = 0, commands = 0;
  {
    FakeModem modem(master);
    start = Clock::now();
    const pid_t pid = StartDriver(home, outputPath);
    if (pid < 0) return std::perror("fork"), 1;
    for (;;) {
      sent = CountLines(sentPath);
      const auto now = Clock::now();
      if (sent >= 1 && first == Clock::time_point{}) first = now;
      if (sent >= n) {
        last = now;
        break;
      }
      // Every message filed, some as failed: no point waiting on.
      failed = CountLines(data + "/failed.txt");
      if (sent + failed >= n) break;
      if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
        exited = true;
        break;
      }
      if (now - start > limit) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!exited) {
      ::kill(pid, SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(30);
      while (::wait4(pid, &status, WNOHANG, &usage) != pid) {
        if (Clock::now() > deadline) {
          ::kill(pid, SIGKILL);
          ::wait4(pid, &status, 0, &usage);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    submissions = modem.Submissions();
    commands = modem.Commands();
  }
  ::close(slave);
  ::close(master);

  const std::vector<std::string> sentRows = Lines(ReadFile(sentPath));
  std::set<std::string> ids;
  for (const std::string& r : sentRows) ids.insert(Field(r, 9));  // the message's unique id
  const std::size_t outboxLeft = Lines(ReadFile(data + "/outbox.txt")).size();
  const double cpuMs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
  const bool ok = sentRows.size() == n && ids.size() == n && submissions == static_cast<int>(n) && outboxLeft == 0;

  std::printf("messages                : %zu\n", n);
  if (last != Clock::time_point{}) {
    std::printf("wall time total         : %.3f s (driver start to the last sent row)\n", Seconds(last - start));
    std::printf("connection set-up       : %.3f s (driver start to the first sent row)\n", Seconds(first - start));
    if (n > 1 && last > first) {
      std::printf("steady state            : %.1f messages/s\n", static_cast<double>(n - 1) / Seconds(last - first));
    }
  } else {
    std::printf("wall time total         : not reached (%zu rows sent after %.3f s)\n", sent,
                Seconds(Clock::now() - start));
  }
  std::printf("driver CPU per message  : %.3f ms (%.0f ms in all)\n", cpuMs / static_cast<double>(n), cpuMs);
  std::printf("driver peak RSS         : %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::printf("submissions (AT+CMGS=)  : %d (%d commands in all)\n", submissions, commands);
  std::printf("sent rows / unique ids  : %zu / %zu\n", sentRows.size(), ids.size());
  std::printf("failed rows             : %zu\n", CountLines(data + "/failed.txt"));
  std::printf("outbox rows left        : %zu\n", outboxLeft);
  std::printf("driver end              : %s %d%s\n", WIFEXITED(status) ? "exit status" : "signal",
              WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status), exited ? " (before all were sent)" : "");
  std::printf("result                  : %s\n", ok ? "OK" : "FAILED");
  if (!ok) {
    PrintTail("driver output", outputPath, 40);
    PrintTail("driver log", data + "/qmdriver.log", 60);
    std::printf("files kept in %s%s\n", home.c_str(),
                logLevel == "2" ? "; run again with log level 0 for a driver log" : "");
    return 1;
  }
  std::filesystem::remove_all(home);
  return 0;
}
