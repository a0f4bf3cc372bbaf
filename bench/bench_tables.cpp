// Benchmark of the file tables on a large sent table.
//
//   bench_tables [rows] [folder]      (defaults: 1000000 rows, $TMPDIR or /tmp)
//
// Builds a sent table file of realistic rows (14 columns, about 120 bytes a
// line), then measures:
//   - Load(1) time and peak memory (in a child process, from VmHWM);
//   - Put of one new row + Save (the append path), on the large table and on
//     a small one, to show the cost does not grow with the table;
//   - Remove of the oldest row + Save (a full atomic rewrite), in MB/s, next
//     to a plain write + fsync + rename of the same bytes (the disk's speed);
//   - FindLastEqual on column 10 and SelectContaining on column 5.
// Run it from a Release build.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "base/config_store.h"
#include "platform/file_util.h"
#include "platform/unique_fd.h"
#include "storage/file_database.h"
#include "storage/table_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// CPU time of the calling thread in ms (the machine may be shared: wall time
// alone would charge other processes' work to the table).
double ThreadCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  }
  return -1;
}

constexpr const char* kWords[] = {"meeting", "tomorrow", "order",  "shipped", "please", "call",  "back",
                                  "thanks",  "invoice",  "ready",  "pickup",  "code",   "your",  "at",
                                  "the",     "office",   "delay",  "today",   "confirm", "ok"};
constexpr const char* kNonAscii[] = {"Grüße", "Привет", "café", "Ελλάδα", "naïve"};

// One realistic sent row as a file line, without the line end.
std::string SentLine(uint32_t id, std::mt19937& rng) {
  std::string text;
  const int words = 4 + static_cast<int>(rng() % 5);
  for (int w = 0; w < words; ++w) {
    if (w > 0) text += ' ';
    text += (rng() % 10 == 0) ? kNonAscii[rng() % 5] : kWords[rng() % 20];
  }
  if (rng() % 8 == 0) text += "%0D%0A" + std::to_string(rng() % 10000);
  return fmt::format("{:08x}\t{}\t+49170{:07d}\tsms\t1\t{}\t\t1\t{}\t{}\t{}\t{}\t86400\t{}", id,
                     1600000000 + id * 30, rng() % 10000000, text, (rng() % 4 == 0) ? 20 : 4, id,
                     rng() % 256, (rng() % 3 == 0) ? "com" : "xml:orders",
                     (rng() % 5 == 0) ? fmt::format("c{}", rng() % 1000) : "");
}

// Writes a table file of `rows` lines; returns its size.
std::size_t WriteTableFile(const std::string& path, uint32_t rows) {
  std::mt19937 rng(42);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string chunk;
  std::size_t size = 0;
  for (uint32_t id = 1; id <= rows; ++id) {
    chunk += SentLine(id, rng);
    chunk += "\r\n";
    if (chunk.size() > (1 << 20)) {
      out << chunk;
      size += chunk.size();
      chunk.clear();
    }
  }
  out << chunk;
  size += chunk.size();
  out.close();
  // On disk before measuring: the first fsync of a table would otherwise
  // flush the whole generated file.
  qm::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
  return size;
}

void Configure(qm::ConfigStore& config, const std::string& path) {
  qm::WriteMessageTableColumns(config);
  config.SetString("sent.filename", path);
  config.SetString("sent.separator", "");
  config.SetInt("sent.maxrecords", 0);
}

struct LoadFigures {
  double ms = 0;
  double cpuMs = 0;
  long peakKb = 0;
  long baseKb = 0;
  int rows = 0;
};

// Load(1) in a fresh child, so the peak memory is the load's alone.
LoadFigures MeasureLoad(const std::string& path) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    qm::ConfigStore config;
    Configure(config, path);
    LoadFigures f;
    f.baseKb = StatusKb("VmRSS:");
    qm::FileDatabase sent(config, "sent");
    const auto a = Clock::now();
    const double c = ThreadCpuMs();
    const int rc = sent.Load(true);
    f.ms = Ms(a, Clock::now());
    f.cpuMs = ThreadCpuMs() - c;
    f.peakKb = StatusKb("VmHWM:");
    f.rows = rc == 0 ? sent.Count() : -1;
    if (::write(fds[1], &f, sizeof f) != sizeof f) ::_exit(1);
    ::_exit(0);
  }
  ::close(fds[1]);
  LoadFigures f;
  if (::read(fds[0], &f, sizeof f) != sizeof f) f.rows = -1;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return f;
}

struct Stats {
  double median = 0, mean = 0, max = 0, cpu = 0;  // cpu: mean CPU ms per run
};

Stats Summarise(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.max = v.back();
  for (double x : v) s.mean += x;
  s.mean /= static_cast<double>(v.size());
  return s;
}

Stats TimeAppends(qm::FileDatabase& table, uint32_t firstId, int count) {
  std::mt19937 rng(7);
  std::vector<double> times;
  double cpu = 0;
  for (int i = 0; i < count; ++i) {
    std::string line = SentLine(firstId + static_cast<uint32_t>(i), rng);
    qm::Row row;
    for (std::size_t pos = 0;;) {
      const std::size_t tab = line.find('\t', pos);
      row.push_back(line.substr(pos, tab - pos));
      if (tab == std::string::npos) break;
      pos = tab + 1;
    }
    const auto a = Clock::now();
    const double c = ThreadCpuMs();
    table.Put(row);
    if (table.Save() != 0) std::fprintf(stderr, "append save failed\n");
    cpu += ThreadCpuMs() - c;
    times.push_back(Ms(a, Clock::now()));
  }
  Stats s = Summarise(times);
  s.cpu = cpu / count;
  return s;
}

// The floor for a durable append: one line appended and fsynced, no table.
Stats TimeRawAppends(const std::string& path, int count) {
  const std::string line(113, 'x');
  std::vector<double> times;
  qm::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  for (int i = 0; i < count; ++i) {
    const auto a = Clock::now();
    if (!qm::WriteAll(fd.get(), line) || ::fsync(fd.get()) != 0) std::fprintf(stderr, "raw append failed\n");
    times.push_back(Ms(a, Clock::now()));
  }
  return Summarise(times);
}

template <class F>
Stats TimeRepeated(int count, F&& body) {
  std::vector<double> times;
  double cpu = 0;
  for (int i = 0; i < count; ++i) {
    const auto a = Clock::now();
    const double c = ThreadCpuMs();
    body();
    cpu += ThreadCpuMs() - c;
    times.push_back(Ms(a, Clock::now()));
  }
  Stats s = Summarise(times);
  s.cpu = cpu / count;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
  const std::string path = folder + fmt::format("/bench_sent_{}.txt", ::getpid());
  const std::string small = folder + fmt::format("/bench_small_{}.txt", ::getpid());
  const std::string copy = folder + fmt::format("/bench_copy_{}.txt", ::getpid());

  const auto g = Clock::now();
  const std::size_t fileSize = WriteTableFile(path, rows);
  std::printf("table file: %u rows, %.1f MB (%.1f bytes a line), written in %.0f ms\n", rows, fileSize / 1e6,
              static_cast<double>(fileSize) / rows, Ms(g, Clock::now()));

  const LoadFigures load = MeasureLoad(path);
  std::printf("Load(1): %.0f ms (CPU %.0f ms), %d rows; peak RSS %.1f MB = %.2fx the file "
              "(%.1f MB before loading)\n",
              load.ms, load.cpuMs, load.rows, load.peakKb / 1024.0,
              load.peakKb * 1024.0 / static_cast<double>(fileSize), load.baseKb / 1024.0);

  qm::ConfigStore config;
  Configure(config, path);
  qm::FileDatabase sent(config, "sent");
  if (sent.Load(true) != 0) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    return 1;
  }

  // The append path, on the large table and on a small one.
  const Stats bigAppend = TimeAppends(sent, rows + 10, 200);
  WriteTableFile(small, 1000);
  qm::ConfigStore smallConfig;
  Configure(smallConfig, small);
  qm::FileDatabase smallTable(smallConfig, "sent");
  smallTable.Load(true);
  const Stats smallAppend = TimeAppends(smallTable, 2000, 200);
  const Stats raw = TimeRawAppends(copy, 200);
  std::printf("Put + Save (append), %u rows: median %.3f ms, mean %.3f ms, max %.3f ms, CPU %.3f ms\n", rows,
              bigAppend.median, bigAppend.mean, bigAppend.max, bigAppend.cpu);
  std::printf("Put + Save (append), 1000 rows: median %.3f ms, mean %.3f ms, max %.3f ms, CPU %.3f ms\n",
              smallAppend.median, smallAppend.mean, smallAppend.max, smallAppend.cpu);
  std::printf("  disk floor, write + fsync of one line: median %.3f ms, mean %.3f ms\n", raw.median, raw.mean);
  ::unlink(copy.c_str());

  // The full rewrite, against the disk's own speed for the same bytes.
  const Stats rewrite = TimeRepeated(3, [&] {
    qm::Row oldest = sent.SelectContaining(0, "", 1).at(0);
    sent.Remove(oldest[0]);
    if (sent.Save() != 0) std::fprintf(stderr, "rewrite failed\n");
  });
  const std::string bytes = *qm::ReadWholeFile(path);
  const Stats disk = TimeRepeated(3, [&] { qm::WriteFileAtomically(copy, bytes); });
  const double mb = static_cast<double>(bytes.size()) / 1e6;
  std::printf("Remove oldest + Save (full rewrite, %.1f MB): median %.0f ms = %.0f MB/s (CPU %.0f ms); "
              "WriteFileAtomically of the same bytes: %.0f ms = %.0f MB/s\n",
              mb, rewrite.median, mb / (rewrite.median / 1000), rewrite.cpu, disk.median,
              mb / (disk.median / 1000));

  // Searches over every row.
  qm::Row found;
  const Stats lastHit = TimeRepeated(5, [&] { sent.FindLastEqual(10, "17", found); });
  const Stats lastMiss = TimeRepeated(5, [&] { sent.FindLastEqual(10, "not-a-refid", found); });
  std::size_t hits = 0, hitsUpper = 0, none = 0;
  const Stats contains = TimeRepeated(5, [&] { hits = sent.SelectContaining(5, "invoice ready", 0).size(); });
  const Stats containsUpper =
      TimeRepeated(5, [&] { hitsUpper = sent.SelectContaining(5, "CAFÉ", 0).size(); });
  const Stats containsNone = TimeRepeated(5, [&] { none = sent.SelectContaining(5, "xylophone", 0).size(); });
  std::printf("FindLastEqual(10): newest match %.3f ms, no match (whole walk) %.0f ms (CPU %.0f ms)\n",
              lastHit.median, lastMiss.median, lastMiss.cpu);
  std::printf("SelectContaining(5): \"invoice ready\" %.0f ms (CPU %.0f, %zu rows), \"CAFÉ\" %.0f ms (CPU %.0f, "
              "%zu rows), no match %.0f ms (CPU %.0f)\n",
              contains.median, contains.cpu, hits, containsUpper.median, containsUpper.cpu, hitsUpper,
              containsNone.median, containsNone.cpu);
  (void)none;

  ::unlink(path.c_str());
  ::unlink(small.c_str());
  ::unlink(copy.c_str());
  return 0;
}
