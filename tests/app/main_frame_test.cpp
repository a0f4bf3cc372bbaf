// The main frame never acts on the modem itself: its menu commands and the
// timers become commands for the command thread.
#include "app/main_frame.h"

#include <gtest/gtest.h>

#include "app/config_locations.h"
#include "app/notifier.h"
#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "modem/async_serial_comm.h"
#include "storage/table_setup.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

class MainFrameTest : public ::testing::Test {
 protected:
  MainFrameTest() {
    config_.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
    config_.SetString("status.file", dir_.File("qmdriver.status"));
    std::string error;
    EXPECT_TRUE(InitialiseTables(config_, 2, false, tables_, error)) << error;
  }

  std::vector<std::pair<uint32_t, int32_t>> Posted() {
    std::vector<std::pair<uint32_t, int32_t>> out;
    while (auto command = commands_.TryPop()) out.emplace_back(command->code, command->result);
    return out;
  }

  test::TempDir dir_;
  test::ScopedEnv home_{"XDG_CONFIG_HOME", dir_.path()};
  ConfigStore config_;
  ConfigLocations locations_ = MakeConfigLocations(2, dir_.path(), false);
  Logger log_{"", nullptr};
  TableSet tables_;
  AsyncSerialComm transport_{config_, log_};
  CommandQueue commands_;
  uint32_t tick_ = 1000;
  DriverTimers timers_{[this] { return tick_; }};
  Notifier notifier_{&log_, &config_, false, nullptr};
  DriverCounters counters_;
  CMainFrame frame_{FrameContext{config_, locations_, log_, tables_, transport_, commands_, timers_, notifier_,
                                 counters_, 2, false}};
};

TEST_F(MainFrameTest, MenuCommandsAndTimersBecomeCommandsForTheCommandThread) {
  EXPECT_EQ(notifier_.Tooltip(), "Quillmoor GSM Modem Driver instance 2 (disconnected)");
  frame_.PostCommand(kFrameConnect);
  frame_.PostCommand(kFrameDisconnect);
  frame_.PostCommand(kFrameSendSms);  // no desktop form: logged and ignored
  frame_.PostCommand(kFrameExit);
  EXPECT_EQ(frame_.RunLoop(), 0);

  using Result = DriverTimers::HandlerResult;
  EXPECT_EQ(frame_.OnTimer(TIMER_POLL), Result::kKeep);
  EXPECT_EQ(frame_.OnTimer(TIMER_HOUSEKEEPING), Result::kKeep);
  EXPECT_EQ(frame_.OnTimer(TIMER_POLL_DONE), Result::kRemove);
  EXPECT_EQ(frame_.OnTimer(TIMER_SEND_DELAY), Result::kRemove);
  EXPECT_EQ(frame_.OnTimer(TIMER_RESET_RECONNECT), Result::kRemove);
  EXPECT_EQ(Posted(), (std::vector<std::pair<uint32_t, int32_t>>{{CMD_CONNECT, 0},
                                                                  {CMD_DISCONNECT, 0},
                                                                  {CMD_TIMER, TIMER_POLL},
                                                                  {CMD_TIMER, TIMER_HOUSEKEEPING},
                                                                  {CMD_TIMER, TIMER_POLL_DONE},
                                                                  {CMD_TIMER, TIMER_SEND_DELAY},
                                                                  {CMD_TIMER, TIMER_RESET_RECONNECT}}));
  EXPECT_TRUE(timers_.IsScheduled(TIMER_HOUSEKEEPING));

  // The status file is the frame's own, written on the timer thread.
  counters_.CountFailure(true);
  EXPECT_EQ(frame_.OnTimer(TIMER_STATUS_FILE), Result::kKeep);
  EXPECT_TRUE(Posted().empty());
  const std::string line = test::ReadFile(dir_.File("qmdriver.2.status"));
  EXPECT_NE(line.find("; instance: 2; "), std::string::npos);
  EXPECT_NE(line.find("; state:disconnected; outbox:0; errors:1"), std::string::npos);

  frame_.ShowLinkSituation("(error)");
  EXPECT_EQ(notifier_.Tooltip(), "Quillmoor GSM Modem Driver instance 2 (error)");
}

}  // namespace
}  // namespace qm
