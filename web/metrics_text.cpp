#include "web/metrics_text.h"

#include <fmt/format.h>

#include <vector>

#include "gateway/driver_counters.h"

namespace qm {
namespace {

// HELP text escapes only the backslash and the line feed.
std::string EscapeHelp(std::string_view help) {
  std::string out;
  for (const char c : help) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatMetrics(std::span<const Metric> metrics) {
  std::string out;
  for (const Metric& metric : metrics) {
    out += fmt::format("# HELP {} {}\n# TYPE {} {}\n{} {}\n", metric.name, EscapeHelp(metric.help), metric.name,
                       metric.kind == MetricKind::kCounter ? "counter" : "gauge", metric.name, metric.value);
  }
  return out;
}

std::string DriverMetricsText(const DriverCounters& counters, const GaugeReadings& gauges) {
  const auto count = [](const std::atomic<uint64_t>& counter) { return static_cast<double>(counter.load()); };
  const int64_t last = counters.lastSubmission.load();
  // Before the first submission the age is that of nothing: -1, which no
  // alert on "too long ago" mistakes for a fresh one.
  const double sinceLast = last == 0 ? -1.0 : static_cast<double>(std::max<int64_t>(gauges.now - last, 0));
  const std::vector<Metric> metrics = {
      {"qmdriver_messages_sent_total", "Messages the modem accepted for sending since start.", MetricKind::kCounter,
       count(counters.sentTotal)},
      {"qmdriver_messages_failed_total", "Messages that finally failed (after the retries) since start.",
       MetricKind::kCounter, count(counters.failedTotal)},
      {"qmdriver_messages_received_total", "Messages received since start (duplicates included).", MetricKind::kCounter,
       count(counters.receivedTotal)},
      {"qmdriver_messages_delivered_total", "Positive delivery reports since start.", MetricKind::kCounter,
       count(counters.deliveredTotal)},
      {"qmdriver_send_retries_total", "Failed submissions queued again for another try since start.",
       MetricKind::kCounter, count(counters.retries)},
      {"qmdriver_reconnects_total", "Reconnections of the modem (after an error or a reset) since start.",
       MetricKind::kCounter, count(counters.reconnects)},
      {"qmdriver_outbox_messages", "Messages waiting in the outbox.", MetricKind::kGauge,
       static_cast<double>(gauges.outboxMessages)},
      {"qmdriver_signal_percent", "Signal quality in percent (0: unknown).", MetricKind::kGauge,
       static_cast<double>(gauges.signalPercent)},
      {"qmdriver_link_up", "1 while the modem link is ready or busy, 0 otherwise.", MetricKind::kGauge,
       gauges.linkUp ? 1.0 : 0.0},
      {"qmdriver_seconds_since_last_submission", "Seconds since a message was last sent; -1 before the first.",
       MetricKind::kGauge, sinceLast},
      {"qmdriver_last_submission_timestamp_seconds", "Unix time a message was last sent; 0 before the first.",
       MetricKind::kGauge, static_cast<double>(last)},
  };
  return FormatMetrics(metrics);
}

}  // namespace qm
