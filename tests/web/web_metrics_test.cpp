// /metrics as Prometheus reads it: the official Python parser takes the text,
// and the counters follow a message out and its echo back in.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "tests/support/test_env.h"
#include "tests/web/web_driver.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::WebDriver;

// The samples as prometheus_client's parser sees them, or an empty map when
// it rejects the text; Debian's python3 (python3-prometheus-client), not
// whichever one the PATH finds first.
std::map<std::string, double> ParseWithPrometheus(const std::string& text, std::string& types) {
  test::TempDir dir;
  test::WriteFile(dir.File("metrics.txt"), text);
  const std::string command =
      "/usr/bin/python3 -c 'import sys\n"
      "from prometheus_client.parser import text_string_to_metric_families as parse\n"
      "for family in parse(open(sys.argv[1]).read()):\n"
      "    for sample in family.samples:\n"
      "        print(family.type, sample.name, sample.value)' " +
      dir.File("metrics.txt") + " 2>&1";
  std::map<std::string, double> samples;
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  if (::pclose(pipe) != 0) {
    ADD_FAILURE() << output;
    return {};
  }
  std::istringstream lines(output);
  std::string type;
  std::string name;
  double value = 0;
  while (lines >> type >> name >> value) {
    samples[name] = value;
    types += name + "=" + type + " ";
  }
  return samples;
}

TEST(WebMetrics, ThePrometheusParserReadsThemAndTheCountersFollowTheMessages) {
  WebDriver driver;
  const auto metrics = [&] {
    const httplib::Result result = driver.Client()->Get("/metrics");
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);
    return result->body;
  };
  std::string types;
  const std::map<std::string, double> before = ParseWithPrometheus(metrics(), types);
  ASSERT_FALSE(before.empty());
  for (const char* counter : {"sent", "failed", "received", "delivered"}) {
    EXPECT_EQ(before.at(std::string("qmdriver_messages_") + counter + "_total"), 0) << counter;
  }
  EXPECT_EQ(before.at("qmdriver_send_retries_total"), 0);
  EXPECT_EQ(before.at("qmdriver_reconnects_total"), 0);
  EXPECT_EQ(before.at("qmdriver_link_up"), 1);
  EXPECT_EQ(before.at("qmdriver_signal_percent"), 93);  // the emulator's +CSQ: 31
  EXPECT_EQ(before.at("qmdriver_seconds_since_last_submission"), -1);
  EXPECT_NE(types.find("qmdriver_messages_sent_total=counter"), std::string::npos) << types;
  EXPECT_NE(types.find("qmdriver_outbox_messages=gauge"), std::string::npos) << types;

  ASSERT_EQ(driver.Post("/api/v1/messages", R"({"to": "+4912345", "text": "SEND 4915112345 back"})")->status, 202);
  std::map<std::string, double> after;
  // The echo may be counted before the sending is filed: both are waited for.
  ASSERT_TRUE(WebDriver::WaitUntil(
      [&] {
        after = ParseWithPrometheus(metrics(), types);
        return after["qmdriver_messages_received_total"] == 1 && after["qmdriver_messages_sent_total"] == 1;
      },
      30s));
  EXPECT_EQ(after.at("qmdriver_messages_sent_total"), 1);
  EXPECT_EQ(after.at("qmdriver_messages_failed_total"), 0);
  EXPECT_EQ(after.at("qmdriver_outbox_messages"), 0);
  EXPECT_GE(after.at("qmdriver_seconds_since_last_submission"), 0);
  EXPECT_LT(after.at("qmdriver_seconds_since_last_submission"), 60);
  EXPECT_GT(after.at("qmdriver_last_submission_timestamp_seconds"), 1.7e9);
}

}  // namespace
}  // namespace qm
