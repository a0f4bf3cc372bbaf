#include "app/sms_source_thread.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(SMSSourceThreadConcurrent, PassesCountFromOneAndStopWakesTheBeat) {
  std::mutex m;
  std::condition_variable cv;
  std::vector<uint32_t> passes;
  {
    SMSSourceThread thread(
        [&](uint32_t pass) {
          std::lock_guard lock(m);
          passes.push_back(pass);
          cv.notify_all();
        },
        5ms);
    thread.Start();
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return passes.size() >= 3; }));
  }
  for (std::size_t i = 0; i < passes.size(); ++i) EXPECT_EQ(passes[i], i + 1);

  // A one-hour beat still stops at once (a generous bound, not a speed test).
  SMSSourceThread slow([](uint32_t) { ADD_FAILURE() << "no pass expected"; }, 1h);
  slow.Start();
  const auto start = std::chrono::steady_clock::now();
  slow.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

}  // namespace
}  // namespace qm
