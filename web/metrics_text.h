// The Prometheus text exposition format (version 0.0.4) for the driver's
// counters and gauges: "# HELP", "# TYPE" and one sample line per metric.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qm {

class DriverCounters;

enum class MetricKind { kCounter, kGauge };

struct Metric {
  std::string_view name;  // [a-zA-Z_:][a-zA-Z0-9_:]*; counters end in "_total"
  std::string_view help;  // one line
  MetricKind kind = MetricKind::kGauge;
  double value = 0;
};

std::string FormatMetrics(std::span<const Metric> metrics);

// What the gauges read besides the counters.
struct GaugeReadings {
  int64_t outboxMessages = 0;
  int signalPercent = 0;
  bool linkUp = false;
  int64_t now = 0;  // Unix time
};

// The driver's metrics (the counters are read once each).
std::string DriverMetricsText(const DriverCounters& counters, const GaugeReadings& gauges);

}  // namespace qm
