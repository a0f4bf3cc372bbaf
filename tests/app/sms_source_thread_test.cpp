#include "app/sms_source_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(SMSSourceThread, PeriodDividesThePassCounter) {
  std::vector<uint32_t> everySecond, everyThird;
  for (uint32_t pass = 1; pass <= 7; ++pass) {
    if (IsSourceDue(1, pass)) everySecond.push_back(pass);
    if (IsSourceDue(3, pass)) everyThird.push_back(pass);
    EXPECT_FALSE(IsSourceDue(0, pass));
    EXPECT_FALSE(IsSourceDue(-3, pass));
  }
  EXPECT_EQ(everySecond, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(everyThird, (std::vector<uint32_t>{3, 6}));
}

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
  // The thread has ended: nothing is added any more.
  std::lock_guard lock(m);
  const std::size_t count = passes.size();
  for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(passes[i], i + 1);

  // A one-hour beat still stops at once (a generous bound, not a speed test).
  SMSSourceThread slow([](uint32_t) { ADD_FAILURE() << "no pass expected"; }, 1h);
  slow.Start();
  const auto start = std::chrono::steady_clock::now();
  slow.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);

  // Restarting begins the count at 1 again.
  std::vector<uint32_t> again;
  std::mutex m2;
  std::condition_variable cv2;
  SMSSourceThread restart(
      [&](uint32_t pass) {
        std::lock_guard l(m2);
        again.push_back(pass);
        cv2.notify_all();
      },
      5ms);
  restart.Start();
  {
    std::unique_lock l(m2);
    ASSERT_TRUE(cv2.wait_for(l, 10s, [&] { return !again.empty(); }));
  }
  restart.Start();
  std::unique_lock l(m2);
  EXPECT_TRUE(cv2.wait_for(l, 10s, [&] { return std::count(again.begin(), again.end(), 1u) == 2; }));
}

}  // namespace
}  // namespace qm
