// Many clients at once: every send is accepted and leaves the modem exactly
// once, and the API keeps answering meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "tests/support/fake_modem.h"
#include "tests/web/web_driver.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::WebDriver;

// Not one of the "Concurrent" tests run under ThreadSanitizer: slowed down
// that much, its 200 messages take longer than the test may run.
TEST(WebLoad, TwoHundredParallelSendsAreEachSentOnceWhileStatusKeepsAnswering) {
  constexpr int kClients = 20;
  constexpr int kEach = 10;
  test::TempDir ports;
  const std::string link = ports.File("ttyUSB-modem");
  test::FakeModem modem(link);
  test::SimulatedModem& sim = modem.Simulate(test::ModemProfile::UsbStick());
  WebDriver driver(std::map<std::string, std::string>{{"modem.emulation", "0"}, {"modem.port", link}});

  std::atomic<bool> sending{true};
  std::atomic<int> statusAnswers{0};
  std::atomic<int> statusFailures{0};
  std::jthread watcher([&] {
    const auto client = driver.Client();
    while (sending) {
      const httplib::Result result = client->Get("/api/v1/status");
      (result && result->status == 200 ? statusAnswers : statusFailures) += 1;
      std::this_thread::sleep_for(50ms);
    }
  });
  std::mutex mutex;
  std::vector<int> ids;
  std::vector<std::string> refusals;
  {
    std::vector<std::jthread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        const auto client = driver.Client();
        for (int i = 0; i < kEach; ++i) {
          const std::string text = "load " + std::to_string(c) + "/" + std::to_string(i);
          const httplib::Result result =
              client->Post("/api/v1/messages", json{{"to", "+4917000" + std::to_string(c)}, {"text", text}}.dump(),
                           "application/json");
          std::lock_guard lock(mutex);
          if (result && result->status == 202) {
            ids.push_back(WebDriver::Json(result)["id"]);
          } else {
            refusals.push_back(result ? result->body : httplib::to_string(result.error()));
          }
        }
      });
    }
  }
  const int answeredDuringSends = statusAnswers.load();
  EXPECT_TRUE(refusals.empty()) << refusals.front();
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), static_cast<std::size_t>(kClients * kEach));

  json sent;
  ASSERT_TRUE(WebDriver::WaitUntil(
      [&] { return (sent = driver.Get("/api/v1/sent?per_page=500"))["total"] == kClients * kEach; }, 120s))
      << sent["total"];
  sending = false;
  watcher.join();
  EXPECT_GT(answeredDuringSends, 0);
  EXPECT_EQ(statusFailures.load(), 0);

  // Each id filed once, each text submitted once.
  std::set<int> filed;
  for (const json& row : sent["items"]) filed.insert(row["id"].get<int>());
  EXPECT_EQ(filed, std::set<int>(ids.begin(), ids.end()));
  std::map<std::string, int> submitted;
  for (const test::Submission& submission : sim.Submissions()) submitted[submission.text] += 1;
  EXPECT_EQ(submitted.size(), static_cast<std::size_t>(kClients * kEach));
  for (const auto& [text, times] : submitted) EXPECT_EQ(times, 1) << text;
  EXPECT_EQ(driver.Get("/api/v1/failed")["total"], 0);
}

}  // namespace
}  // namespace qm
