#include "gateway/driver_timers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>

namespace qm {
namespace {

using Result = DriverTimers::HandlerResult;
using Ids = std::vector<uint32_t>;

// Timers on a fake clock, driven pass by pass; records what fired.
struct FakeTimers {
  uint32_t now = 0;
  Ids fired;
  std::map<uint32_t, std::function<Result()>> actions;
  DriverTimers timers{[this] { return now; }};

  FakeTimers() {
    timers.SetHandler([this](uint32_t id) {
      fired.push_back(id);
      auto it = actions.find(id);
      return it == actions.end() ? Result::kKeep : it->second();
    });
  }
  Ids PassAt(uint32_t t) {
    now = t;
    fired.clear();
    timers.RunDuePass(t);
    return fired;
  }
};

TEST(DriverTimers, DueOnlyAfterMoreThanTheInterval) {
  FakeTimers f;
  f.now = 1000;
  f.timers.Schedule(TIMER_RESET, 600, true);
  EXPECT_EQ(f.PassAt(1600), Ids{});
  EXPECT_EQ(f.PassAt(1601), Ids{TIMER_RESET});
  EXPECT_EQ(f.PassAt(2201), Ids{});  // restarted at the firing tick
  EXPECT_EQ(f.PassAt(2202), Ids{TIMER_RESET});
  EXPECT_EQ(f.timers.NextDueIn(2202), 601u);
  EXPECT_EQ(TimerIntervalMs(30, 500), 15000u);
  EXPECT_EQ(TimerIntervalMs(-5, 1000), 0u);
  EXPECT_EQ(TimerIntervalMs(5'000'000, 1000), kMaxTimerInterval);  // no 32-bit overflow
}

TEST(DriverTimers, StartNowVersusNextPass) {
  FakeTimers f;
  f.actions[TIMER_SEND_DELAY] = [] { return Result::kRemove; };
  f.now = 5;  // soon after boot: "next pass" must not wait for the interval
  f.timers.Schedule(TIMER_POLL, 30000, false);
  f.timers.Schedule(TIMER_SEND_DELAY, 500, true);
  EXPECT_EQ(f.PassAt(6), Ids{TIMER_POLL});
  EXPECT_EQ(f.PassAt(505), Ids{});
  EXPECT_EQ(f.PassAt(506), Ids{TIMER_SEND_DELAY});
  EXPECT_FALSE(f.timers.IsScheduled(TIMER_SEND_DELAY));  // one-shot
  EXPECT_EQ(f.PassAt(30006), Ids{});
  EXPECT_EQ(f.PassAt(30007), Ids{TIMER_POLL});
}

TEST(DriverTimers, FiresAcrossTheTickWrap) {
  {
    FakeTimers f;
    f.now = 0xFFFFFF00u;  // deadline just below the wrap
    f.timers.Schedule(TIMER_RECONNECT, 0x200, true);
    EXPECT_EQ(f.PassAt(0xFFFFFFF0u), Ids{});
    EXPECT_EQ(f.PassAt(0x00000100u), Ids{});
    EXPECT_EQ(f.PassAt(0x00000101u), Ids{TIMER_RECONNECT});
  }
  {
    // last + interval overflows 32 bits: no firing at once.
    FakeTimers f;
    f.now = 0xFFFFF000u;
    f.timers.Schedule(TIMER_STATUS_FILE, 0x2000, true);
    EXPECT_EQ(f.PassAt(0xFFFFF001u), Ids{});
    EXPECT_EQ(f.PassAt(0x00001001u), Ids{TIMER_STATUS_FILE});
  }
  {
    // A pass that comes minutes late across the wrap still fires.
    FakeTimers f;
    f.now = 0xFFFF0000u;
    f.timers.Schedule(TIMER_HOUSEKEEPING, 1000, true);
    EXPECT_EQ(f.PassAt(0x00100000u), Ids{TIMER_HOUSEKEEPING});
  }
}

TEST(DriverTimers, RescheduleSameIntervalKeepsDifferentRestarts) {
  FakeTimers f;
  f.timers.Schedule(TIMER_STATUS_FILE, 5000, true);
  f.now = 4000;
  f.timers.Schedule(TIMER_STATUS_FILE, 5000, false);  // same interval: untouched
  EXPECT_EQ(f.PassAt(5001), Ids{TIMER_STATUS_FILE});
  f.now = 6000;
  f.timers.Schedule(TIMER_STATUS_FILE, 2000, false);  // new interval counts from now
  EXPECT_EQ(f.PassAt(8000), Ids{});
  EXPECT_EQ(f.PassAt(8001), Ids{TIMER_STATUS_FILE});
  // A "next pass" timer given another interval before firing waits for it.
  f.timers.Schedule(TIMER_POLL, 1000, false);
  f.timers.Schedule(TIMER_POLL, 3000, false);
  EXPECT_EQ(f.PassAt(8003), Ids{});
}

TEST(DriverTimers, HandlersRemoveCancelAndScheduleTimers) {
  FakeTimers f;
  f.actions[TIMER_POLL_DONE] = [] { return Result::kRemove; };
  // The reset handler cancels a timer due in the same pass and sets a new one.
  f.actions[TIMER_RESET] = [&] {
    f.timers.Cancel(TIMER_RECONNECT);
    f.timers.Schedule(TIMER_POLL, 1000, false);
    return Result::kKeep;
  };
  f.timers.Schedule(TIMER_POLL_DONE, 100, true);
  f.timers.Schedule(TIMER_RESET, 100, true);
  f.timers.Schedule(TIMER_RECONNECT, 100, true);
  EXPECT_EQ(f.PassAt(101), (Ids{TIMER_POLL_DONE, TIMER_RESET}));  // a removal skips nothing
  EXPECT_FALSE(f.timers.IsScheduled(TIMER_POLL_DONE));
  EXPECT_EQ(f.PassAt(102), Ids{TIMER_POLL});  // the new timer waited for the next pass

  // A handler that removes itself and sets itself anew keeps the new timer.
  f.actions[TIMER_SEND_DELAY] = [&] {
    f.timers.Cancel(TIMER_SEND_DELAY);
    f.timers.Schedule(TIMER_SEND_DELAY, 50, false);
    return Result::kRemove;
  };
  f.timers.Schedule(TIMER_SEND_DELAY, 10, true);
  EXPECT_EQ(f.PassAt(200), Ids{TIMER_SEND_DELAY});
  EXPECT_EQ(f.timers.IntervalOf(TIMER_SEND_DELAY), 50u);
  EXPECT_EQ(f.timers.NextDueIn(200), 0u);
}

TEST(DriverTimersConcurrent, ThreadFiresAndStopsPromptly) {
  DriverTimers timers;
  std::atomic<int> fired{0};
  std::promise<void> oneShot;
  timers.SetHandler([&](uint32_t id) {
    if (id == TIMER_SEND_DELAY) {
      oneShot.set_value();
      return Result::kRemove;
    }
    ++fired;
    return Result::kKeep;
  });
  timers.Schedule(TIMER_RESET, 3'600'000, true);
  timers.Start();
  // Scheduling wakes the thread sleeping towards the one-hour timer.
  timers.Schedule(TIMER_SEND_DELAY, 20, true);
  ASSERT_EQ(oneShot.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::thread other([&] {
    for (int i = 0; i < 200; ++i) {
      timers.Schedule(TIMER_POLL, static_cast<uint32_t>(1 + i % 3), false);
      if (i % 7 == 0) timers.Cancel(TIMER_POLL);
    }
  });
  other.join();
  timers.Stop();  // returns although TIMER_RESET is an hour away
  const int after = fired.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fired.load(), after);
}

}  // namespace
}  // namespace qm
