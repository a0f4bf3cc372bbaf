// The command thread and the main frame driven command by command, on real
// tables in a private folder, with the modem queue inspected directly.
#include <gtest/gtest.h>

#include "app/config_locations.h"
#include "gateway/command_queue_sink.h"
#include "base/config_store.h"
#include "app/driver_timers.h"
#include "base/logger.h"
#include "app/main_frame.h"
#include "app/notifier.h"
#include "app/service_thread.h"
#include "modem/async_serial_emulator.h"
#include "modem/modem_sender.h"
#include "storage/table_setup.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

struct Balloon {
  std::string title;
  std::string text;
};

class CommandThreadTest : public ::testing::Test {
 protected:
  CommandThreadTest() {
    config_.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
    config_.SetInt("receiver.polling_time", 0);
    config_.SetInt("status.time", 0);
    std::string error;
    EXPECT_TRUE(InitialiseTables(config_, 0, false, tables_, error)) << error;
  }

  CMainFrame& Frame() {
    if (!frame_) {
      frame_ = std::make_unique<CMainFrame>(DriverContext{config_, locations_, log_, tables_, transport_, sender_,
                                                          commands_, timers_, notifier_, 0, false});
      thread_ = std::make_unique<CServiceThread>(*frame_);
      timers_.SetHandler([this](uint32_t id) { return frame_->OnTimer(id); });
    }
    return *frame_;
  }
  CServiceThread& Thread() {
    Frame();
    return *thread_;
  }
  void Post(uint32_t code, std::unique_ptr<SMSMessage> message, int32_t result = 0) {
    Thread().Execute(DriverCommand{code, result, std::move(message)});
  }
  std::vector<std::string> QueuedCommands() {
    std::vector<std::string> out;
    sender_.Queue().ForEach([&](const std::unique_ptr<GenericMessage>& item) {
      if (auto* at = dynamic_cast<const ATCommandMessage*>(item.get())) out.push_back(at->Command());
    });
    return out;
  }
  static std::unique_ptr<SMSMessage> Received(std::string from, std::string body, uint32_t created) {
    auto m = std::make_unique<SMSMessage>(std::move(from), "", std::move(body));
    m->created = created;
    return m;
  }
  Rows AllRows(FileDatabase& table) { return table.SelectNotEqual(0, "", 0); }

  test::TempDir dir_;
  test::ScopedEnv home_{"XDG_CONFIG_HOME", dir_.path()};
  ConfigStore config_;
  ConfigLocations locations_ = MakeConfigLocations(0, dir_.path(), false);
  Logger log_{dir_.File("driver.log"), &config_};
  TableSet tables_;
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  AsyncSerialEmulator transport_{config_, log_, sink_, EmulatorDelays{std::chrono::milliseconds(1),
                                                                          std::chrono::milliseconds(1)}};
  ModemSender sender_{transport_, sink_, log_};
  uint32_t tick_ = 1000;
  DriverTimers timers_{[this] { return tick_; }};
  std::vector<Balloon> balloons_;
  Notifier notifier_{&log_, &config_, false,
                     [this](const std::string& t, const std::string& x) { balloons_.push_back({t, x}); }};
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CServiceThread> thread_;
};

TEST_F(CommandThreadTest, IncomingMessageIsStoredBeforeItIsDeletedFromTheModem) {
  config_.SetInt("sender.delete_mode", 1);
  auto message = Received("+4912345", "two\r\nlines\tand \"quotes\"", 1700000000);
  message->memoryIndexes = {3, 4};
  Post(CMD_INCOMING, std::move(message));

  EXPECT_EQ(Frame().receivedCount.load(), 1u);
  EXPECT_EQ(QueuedCommands(), (std::vector<std::string>{"AT+CMGD=3\r\n", "AT+CMGD=4\r\n"}));
  // The row is on disk, and the text comes back whole.
  FileDatabase reread(config_, "inbox");
  ASSERT_EQ(reread.Load(true), 0);
  const Rows rows = AllRows(reread);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], "+4912345");
  EXPECT_EQ(rows[0][3], "sms");
  EXPECT_EQ(rows[0][6], "0");
  EXPECT_NE(test::ReadFile(dir_.File("driver.log")).find("Got SMS from +4912345"), std::string::npos);
}

TEST_F(CommandThreadTest, RepeatedDeliveryIsDroppedButTheSameWordsLaterAreKept) {
  config_.SetInt("discard_duplicated", 1);
  config_.SetInt("sender.delete_mode", 1);
  auto first = Received("+111", "yes", 1700000000);
  auto again = first->Clone();
  again->memoryIndexes = {7};
  first->timestamp = first->created;  // as text mode reads it: the time stamp is the network's
  again->timestamp = again->created;
  Post(CMD_INCOMING, std::move(first));
  Post(CMD_INCOMING, std::move(again));
  EXPECT_EQ(tables_.inbox->Count(), 1);
  EXPECT_EQ(QueuedCommands(), std::vector<std::string>{"AT+CMGD=7\r\n"});  // the duplicate's copy is freed
  EXPECT_NE(test::ReadFile(dir_.File("driver.log")).find("Duplicated SMS ignored"), std::string::npos);

  Post(CMD_INCOMING, Received("+111", "yes", 1700000900));  // a second, equal answer
  Post(CMD_INCOMING, Received("+111", "YES", 1700000000));  // letter case counts
  EXPECT_EQ(tables_.inbox->Count(), 3);
}

TEST_F(CommandThreadTest, FailedMessageIsRetriedThenFiledAndSentOneIsFiled) {
  config_.SetInt("sender.retries", 2);
  config_.SetInt("sender.delay", 0);
  auto message = std::make_unique<SMSMessage>("source", "+4470", "hello");
  const int32_t id = message->id;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Post(CMD_SEND_RESULT, message->Clone(), 0);
    message->attempts += 1;
  }
  // Two retries wrote the message back to the outbox with its attempts...
  const Rows outbox = AllRows(*tables_.outbox);
  ASSERT_EQ(outbox.size(), 2u);
  EXPECT_EQ(outbox[0][10], "1");
  EXPECT_EQ(outbox[1][10], "2");
  EXPECT_EQ(outbox[1][9], std::to_string(id));
  EXPECT_EQ(Frame().DispatchList(), (std::vector<std::string>{outbox[0][0], outbox[1][0]}));
  // ...and the third failure filed it.
  const Rows failed = AllRows(*tables_.failed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0][2], "+4470");
  EXPECT_EQ(failed[0][10], "source");
  EXPECT_EQ(Frame().failureCount.load(), 1);
  ASSERT_EQ(balloons_.size(), 1u);
  EXPECT_EQ(balloons_[0].title, "Error sending SMS!");
  EXPECT_EQ(balloons_[0].text.rfind("Failed to send SMS to +4470:\n", 0), 0u);

  auto sent = std::make_unique<SMSMessage>("source", "+4471", "hi");
  sent->reference = 42;
  Post(CMD_SEND_RESULT, std::move(sent), 1);
  const Rows sentRows = AllRows(*tables_.sent);
  ASSERT_EQ(sentRows.size(), 1u);
  EXPECT_EQ(sentRows[0][10], "42");
  EXPECT_EQ(Frame().failureCount.load(), 0);
}

TEST_F(CommandThreadTest, SendDelayPacesTheNextDispatch) {
  config_.SetInt("sender.delay", 500);
  Post(CMD_SEND_RESULT, std::make_unique<SMSMessage>("", "+1", "x"), 1);
  EXPECT_TRUE(Frame().sendDelayPending.load());
  EXPECT_EQ(timers_.IntervalOf(TIMER_SEND_DELAY), 500u);
  timers_.RunDuePass(tick_ + 501);
  EXPECT_FALSE(Frame().sendDelayPending.load());
  EXPECT_FALSE(timers_.IsScheduled(TIMER_SEND_DELAY));
}

TEST_F(CommandThreadTest, ConfiguringPhaseReturnsQueuedMessagesToTheFrontInOrder) {
  Frame().AddToOutbox(std::make_unique<SMSMessage>("", "+3", "waiting"));
  auto a = std::make_unique<SMSMessage>("", "+1", "first");
  auto b = std::make_unique<USSDRequest>("*100#");
  const auto idA = a->id;
  const auto idB = b->id;
  sender_.Push(std::move(a));
  sender_.Push(std::make_unique<ATCommandMessage>("AT\r\n"));
  sender_.Push(std::move(b));
  Frame().EnterConfiguring();
  EXPECT_TRUE(sender_.Queue().Empty());
  const std::vector<std::string> list = Frame().DispatchList();
  ASSERT_EQ(list.size(), 3u);
  Row row;
  ASSERT_EQ(tables_.outbox->Get(list[0], row), 1);
  EXPECT_EQ(row[9], std::to_string(idA));
  ASSERT_EQ(tables_.outbox->Get(list[1], row), 1);
  EXPECT_EQ(row[9], std::to_string(idB));
  EXPECT_EQ(row[3], "ussd");
  ASSERT_EQ(tables_.outbox->Get(list[2], row), 1);
  EXPECT_EQ(row[5], "waiting");
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kConfiguring);
}

TEST_F(CommandThreadTest, ConnectWithoutAPortExplainsWhatToDo) {
  AsyncSerialComm port(config_, log_);
  DriverContext context{config_, locations_, log_, tables_, port, sender_, commands_, timers_, notifier_, 0, false};
  CMainFrame frame(context);
  CServiceThread thread(frame);
  config_.SetString("modem.port", "");
  thread.Execute(DriverCommand{CMD_CONNECT, 0, {}});
  ASSERT_EQ(balloons_.size(), 1u);
  EXPECT_EQ(balloons_[0].title, "Error");
  EXPECT_EQ(balloons_[0].text, "Serial port: The COM port is not set. Please setup COM port before connection!");
  EXPECT_EQ(notifier_.Tooltip(), "Quillmoor GSM Modem Driver (error)");
  EXPECT_EQ(port.GetStatus(), LinkStatus::kError);
}

TEST_F(CommandThreadTest, CompletedConnectionSchedulesResetAndReconnect) {
  config_.SetInt("modem.checks", 0);
  config_.SetInt("modem.reset.time", 600);
  config_.SetInt("modem.reconnect.time", 30);
  Post(CMD_CONNECT, nullptr);
  EXPECT_EQ(notifier_.Tooltip(), "Quillmoor GSM Modem Driver (connecting to Emulator...)");
  // Answer every command of the sequence with OK until it is done.
  for (int i = 0; i < 20 && !Frame().Modem().IsReady(); ++i) {
    Thread().Execute(DriverCommand{CMD_MODEM_EVENT, 1, std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})});
  }
  ASSERT_TRUE(Frame().Modem().IsReady());
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);
  EXPECT_EQ(notifier_.Tooltip(), "Quillmoor GSM Modem Driver (connected to Emulator)");
  EXPECT_EQ(timers_.IntervalOf(TIMER_RESET), 600000u);
  EXPECT_EQ(timers_.IntervalOf(TIMER_RECONNECT), 30000u);

  // The link fails: the reconnection check asks the frame to reconnect.
  transport_.SetStatus(LinkStatus::kError);
  Frame().OnTimer(TIMER_RECONNECT);
  Frame().PostCommand(kFrameExit);
  EXPECT_EQ(Frame().RunLoop(), 0);
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kDisconnected);
  EXPECT_FALSE(timers_.IsScheduled(TIMER_RESET));
  auto next = commands_.TryPop();
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->code, CMD_CONNECT);
}

TEST_F(CommandThreadTest, PollingListingEndsAndAnErrorEndsItToo) {
  config_.SetInt("receiver.polling_time", 30);
  Frame().Listing().Set(12);
  Thread().Execute(DriverCommand{CMD_MODEM_EVENT, 1, std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})});
  // Not ready yet: a modem that never connected ignores listing replies.
  EXPECT_EQ(Frame().Listing().Get(), 12);

  config_.SetInt("modem.checks", 0);
  Post(CMD_CONNECT, nullptr);
  for (int i = 0; i < 20 && !Frame().Modem().IsReady(); ++i) {
    Thread().Execute(DriverCommand{CMD_MODEM_EVENT, 1, std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})});
  }
  ASSERT_TRUE(Frame().Modem().IsReady());
  while (commands_.TryPop()) {
  }
  config_.SetInt("sender.delete_mode", 2);
  Frame().Listing().Set(12);
  Thread().Execute(DriverCommand{CMD_MODEM_EVENT, 1, std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})});
  EXPECT_EQ(Frame().Listing().Get(), 8);
  EXPECT_EQ(timers_.IntervalOf(TIMER_POLL_DONE), 15000u);
  EXPECT_EQ(QueuedCommands().back(), "AT+CMGD=1,4\r\n");
  Frame().OnTimer(TIMER_POLL_DONE);
  EXPECT_EQ(Frame().Listing().Get(), 0);

  // An automation listing that fails tells its reader.
  Frame().Listing().Set(4);
  Thread().Execute(
      DriverCommand{CMD_MODEM_EVENT, 0, std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kError, 100, "ERROR", "ERROR"})});
  EXPECT_EQ(Frame().Listing().Get(), 0);
  auto done = commands_.TryPop();
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->code, CMD_READ_DONE);
  ASSERT_NE(done->Text(), nullptr);
  EXPECT_EQ(*done->Text(), "Can't read modem memory");
}

TEST_F(CommandThreadTest, CommandsLeftAtExitStillFileTheirMessages) {
  commands_.Push(DriverCommand{CMD_INCOMING, 0, Received("+9", "late", 1)});
  commands_.Push(DriverCommand{CMD_CONNECT, 0, {}});
  commands_.Push(DriverCommand{CMD_SEND_RESULT, 1, std::make_unique<SMSMessage>("", "+8", "done")});
  Thread().DrainAtExit();
  EXPECT_EQ(tables_.inbox->Count(), 1);
  EXPECT_EQ(tables_.sent->Count(), 1);
  EXPECT_TRUE(commands_.Empty());
}

}  // namespace
}  // namespace qm
