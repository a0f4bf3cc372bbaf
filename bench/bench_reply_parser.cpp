// Throughput of the reply parser on a realistic modem dialogue, fed as one
// block per drain and as small reads.
#include <benchmark/benchmark.h>

#include <string>

#include "modem/reply_parser.h"

namespace {

std::string Dialogue(int repeats) {
  const std::string unit =
      "\r\n+CMGL: 1,0,,33\r\n07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038\r\n"
      "\r\n+CSQ: 31,0\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n\r\n> \r\n+CMGS: 12\r\n\r\nOK\r\n";
  std::string out;
  for (int i = 0; i < repeats; ++i) out += unit;
  return out;
}

void BM_ParseWhole(benchmark::State& state) {
  const std::string data = Dialogue(100);
  for (auto _ : state) {
    qm::ReplyParser parser;
    auto out = parser.Feed(data);
    benchmark::DoNotOptimize(out.events.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_ParseWhole);

void BM_ParseInReadsOf(benchmark::State& state) {
  const std::string data = Dialogue(100);
  const auto step = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    qm::ReplyParser parser;
    for (std::size_t i = 0; i < data.size(); i += step) {
      auto out = parser.Feed(std::string_view(data).substr(i, step));
      benchmark::DoNotOptimize(out.events.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_ParseInReadsOf)->Arg(16)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
