// The gateway driven command by command, as the command thread drives it, on
// real tables in a private folder, with the modem queue inspected directly.
#include "gateway/gateway.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/service_thread.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_emulator.h"
#include "modem/modem_event_sink.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "tests/support/event_wait.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

struct Balloon {
  std::string title;
  std::string text;
};

class RecordingNotices final : public UserNotices {
 public:
  void ShowBalloon(std::string_view title, std::string_view text) override {
    balloons.push_back({std::string(title), std::string(text)});
  }
  void ShowLinkSituation(std::string_view situation) override { situation_ = std::string(situation); }
  std::string Situation() const { return situation_; }

  std::vector<Balloon> balloons;

 private:
  std::string situation_;
};

class GatewayTest : public ::testing::Test {
 protected:
  GatewayTest() {
    config_.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
    config_.SetInt("receiver.polling_time", 0);
    config_.SetInt("status.time", 0);
    std::string error;
    EXPECT_TRUE(InitialiseTables(config_, 0, false, tables_, error)) << error;
  }

  GatewayContext Context(AsyncSerialComm& transport) {
    return GatewayContext{config_, log_, tables_, transport, sender_, commands_, timers_, notices_, counters_};
  }
  Gateway& G() {
    if (!gateway_) gateway_ = std::make_unique<Gateway>(Context(transport_));
    return *gateway_;
  }
  void Run(uint32_t code, std::unique_ptr<SMSMessage> message = nullptr, int32_t result = 0) {
    G().Execute(DriverCommand(code, result, std::move(message)));
  }
  void Reply(EventKind kind, const std::string& text, bool success = true) {
    G().Execute(DriverCommand(CMD_MODEM_EVENT, success ? 1 : 0,
                              std::make_unique<AsyncEvent>(AsyncEvent{kind, 0, text, text})));
  }
  // A line the modem sent on its own, as the reader of the incoming slot posts it.
  void Unsolicited(const std::string& text) {
    G().Execute(DriverCommand(CMD_MODEM_EVENT, kUnsolicitedLine,
                              std::make_unique<AsyncEvent>(AsyncEvent{EventKind::kInfo, 0, text, text})));
  }
  // Connects on the emulator and answers every command of the initialisation
  // with OK (the worker is not running: commands stay queued).
  void ConnectAndInitialise() {
    config_.SetInt("modem.checks", 0);
    Run(CMD_CONNECT);
    for (int i = 0; i < 20 && !G().Modem().IsReady(); ++i) Reply(EventKind::kOk, "OK");
    ASSERT_TRUE(G().Modem().IsReady());
    sender_.TakeAll();
    while (commands_.TryPop()) {
    }
  }
  Strings QueuedCommands() {
    Strings out;
    sender_.Queue().ForEach([&](const std::unique_ptr<GenericMessage>& item) {
      if (auto* at = dynamic_cast<const ATCommandMessage*>(item.get())) out.push_back(at->Command());
    });
    return out;
  }
  std::vector<uint32_t> PostedCodes() {
    std::vector<uint32_t> codes;
    while (auto command = commands_.TryPop()) codes.push_back(command->code);
    return codes;
  }
  static std::unique_ptr<SMSMessage> Received(std::string from, std::string body, uint32_t created) {
    auto m = std::make_unique<SMSMessage>(std::move(from), "", std::move(body));
    m->created = created;
    return m;
  }
  static Rows AllRows(FileDatabase& table) { return table.SelectNotEqual(0, "", 0); }
  std::string LogText() { return test::ReadFile(dir_.File("driver.log")); }

  test::TempDir dir_;
  test::ScopedEnv home_{"XDG_CONFIG_HOME", dir_.path()};
  ConfigStore config_;
  Logger log_{dir_.File("driver.log"), &config_};
  TableSet tables_;
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  AsyncSerialEmulator transport_{config_, log_, sink_, EmulatorDelays{1ms, 1ms}};
  ModemSender sender_{transport_, sink_, log_};
  uint32_t tick_ = 1000;
  DriverTimers timers_{[this] { return tick_; }};
  RecordingNotices notices_;
  DriverCounters counters_;
  std::unique_ptr<Gateway> gateway_;
};

TEST_F(GatewayTest, IncomingMessageIsStoredBeforeItIsDeletedFromTheModem) {
  config_.SetInt("sender.delete_mode", 1);
  auto message = Received("+4912345", "two\r\nlines\tand \"quotes\"", 1700000000);
  message->memoryIndexes = {3, 4};
  Run(CMD_INCOMING, std::move(message));

  EXPECT_EQ(counters_.received, 1u);
  EXPECT_EQ(QueuedCommands(), (Strings{"AT+CMGD=3\r\n", "AT+CMGD=4\r\n"}));
  // The row is on disk, and the text comes back whole.
  FileDatabase reread(config_, "inbox");
  ASSERT_EQ(reread.Load(true), 0);
  const Rows rows = AllRows(reread);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], "+4912345");
  EXPECT_EQ(rows[0][3], "sms");
  EXPECT_EQ(rows[0][6], "0");
  EXPECT_NE(LogText().find("Got SMS from +4912345"), std::string::npos);
}

TEST_F(GatewayTest, RepeatedDeliveryIsDroppedButTheSameWordsLaterAreKept) {
  config_.SetInt("discard_duplicated", 1);
  config_.SetInt("sender.delete_mode", 1);
  auto first = Received("+111", "yes", 1700000000);
  auto again = first->Clone();
  again->memoryIndexes = {7};
  first->timestamp = first->created;  // as text mode reads it: the time stamp is the network's
  again->timestamp = again->created;
  Run(CMD_INCOMING, std::move(first));
  Run(CMD_INCOMING, std::move(again));
  EXPECT_EQ(tables_.inbox->Count(), 1);
  EXPECT_EQ(QueuedCommands(), Strings{"AT+CMGD=7\r\n"});  // the duplicate's copy is freed
  EXPECT_NE(LogText().find("Duplicated SMS ignored"), std::string::npos);

  Run(CMD_INCOMING, Received("+111", "yes", 1700000900));  // a second, equal answer
  Run(CMD_INCOMING, Received("+111", "YES", 1700000000));  // letter case counts
  EXPECT_EQ(tables_.inbox->Count(), 3);

  // In polling mode only a polling round remembers what it has seen: outside
  // one, nothing is collected, so a genuine later repeat is kept.
  config_.SetInt("discard_duplicated", 0);
  config_.SetInt("sender.read_mode", 2);
  Run(CMD_INCOMING, Received("+222", "again", 1700001000));
  Run(CMD_INCOMING, Received("+222", "again", 1700001000));
  EXPECT_EQ(tables_.inbox->Count(), 5);
}

TEST_F(GatewayTest, FailedMessageIsRetriedThenFiledAndSentOneIsFiled) {
  config_.SetInt("sender.retries", 2);
  config_.SetInt("sender.delay", 0);
  auto message = std::make_unique<SMSMessage>("source", "+4470", "hello");
  const int32_t id = message->id;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Run(CMD_SEND_RESULT, message->Clone(), 0);
    message->attempts += 1;
  }
  // Two retries wrote the message back to the outbox with its attempts...
  const Rows outbox = AllRows(*tables_.outbox);
  ASSERT_EQ(outbox.size(), 2u);
  EXPECT_EQ(outbox[0][10], "1");
  EXPECT_EQ(outbox[1][10], "2");
  EXPECT_EQ(outbox[1][9], std::to_string(id));
  EXPECT_EQ(G().GetOutbox().DispatchList(), (Strings{outbox[0][0], outbox[1][0]}));
  // ...and the third failure filed it.
  const Rows failed = AllRows(*tables_.failed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0][2], "+4470");
  EXPECT_EQ(failed[0][10], "source");
  EXPECT_EQ(counters_.Failures(), 1);
  ASSERT_EQ(notices_.balloons.size(), 1u);
  EXPECT_EQ(notices_.balloons[0].title, "Error sending SMS!");
  EXPECT_EQ(notices_.balloons[0].text.rfind("Failed to send SMS to +4470:\n", 0), 0u);

  auto sent = std::make_unique<SMSMessage>("source", "+4471", "hi");
  sent->reference = 42;
  Run(CMD_SEND_RESULT, std::move(sent), 1);
  const Rows sentRows = AllRows(*tables_.sent);
  ASSERT_EQ(sentRows.size(), 1u);
  EXPECT_EQ(sentRows[0][10], "42");
  EXPECT_EQ(counters_.Failures(), 0);

  // With a pause between sends, the next dispatch waits for its timer.
  config_.SetInt("sender.delay", 500);
  Run(CMD_SEND_RESULT, std::make_unique<SMSMessage>("", "+1", "x"), 1);
  EXPECT_TRUE(G().Outcomes().SendDelayPending());
  EXPECT_EQ(timers_.IntervalOf(TIMER_SEND_DELAY), 500u);
  Run(CMD_TIMER, nullptr, TIMER_SEND_DELAY);
  EXPECT_FALSE(G().Outcomes().SendDelayPending());
}

TEST_F(GatewayTest, OutboxRulesAndRowsThatStayUntilTheirMessageIsFiled) {
  // Left from an earlier run: an unknown type, a message, and one that was
  // filed as sent just before a crash removed its outbox row.
  tables_.outbox->Put({"00000002", "1700000000", "+4470", "fax", "1", "x", "", "1", "0", "40", "0", "", "0", ""});
  tables_.outbox->Put({"00000003", "1700000000", "+4471", "sms", "1", "two%0D%0Alines", "", "1", "0", "41", "2", "me", "3600", "c"});
  tables_.outbox->Put({"00000004", "1700000000", "+4472", "sms", "1", "filed", "", "1", "0", "42", "0", "", "0", ""});
  tables_.sent->Put({"00000009", "1700000000", "+4472", "sms", "1", "filed", "", "1", "0", "42", "7", "", "0", ""});
  config_.SetString("ton_src_prefix", "00");
  config_.SetString("ton_dst_prefix", "+");
  config_.SetInt("ton_warning", 1);
  Outbox& outbox = G().GetOutbox();
  EXPECT_EQ(outbox.DispatchList(), (Strings{"00000002", "00000003"}));
  outbox.AddToOutbox(std::make_unique<SMSMessage>("", "0049170", "new"));  // rewritten: +49170
  auto national = std::make_unique<SMSMessage>("", "0170123", "national");
  national->toTon = 1;
  outbox.AddToOutbox(std::move(national));
  ASSERT_EQ(notices_.balloons.size(), 1u);
  EXPECT_EQ(notices_.balloons[0].text,
            "Number '0170123' is in national format. SMS may not be delivered. Country code using is recommended.");

  outbox.DispatchNext();  // the link is not ready: nothing moves
  EXPECT_TRUE(sender_.Queue().Empty());
  transport_.SetStatus(LinkStatus::kReady);
  outbox.DispatchNext();  // the fax row is dropped
  outbox.DispatchNext();
  auto items = sender_.TakeAll();
  ASSERT_EQ(items.size(), 1u);
  auto* first = dynamic_cast<SMSMessage*>(items[0].get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->body, "two\r\nlines");
  EXPECT_EQ(first->id, 41);
  EXPECT_EQ(first->attempts, 2u);
  EXPECT_EQ(first->ValiditySeconds(), 3600);
  EXPECT_EQ(first->custom, "c");
  Row row;
  EXPECT_EQ(tables_.outbox->Get("00000002", row), 0);
  EXPECT_EQ(tables_.outbox->Get("00000003", row), 1);  // still there while it is sent

  // Sent: filed, then its row goes. Never submitted: back, first in line.
  auto copy = first->Clone();
  Run(CMD_SEND_RESULT, std::move(copy), static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(tables_.outbox->Get("00000003", row), 0);
  EXPECT_NE(tables_.sent->FindLastEqual(kUniqueIdColumn, "41", row), 0);
  outbox.DispatchNext();
  auto next = sender_.TakeAll();
  ASSERT_EQ(next.size(), 1u);
  Run(CMD_SEND_RESULT, std::unique_ptr<SMSMessage>(static_cast<SMSMessage*>(next[0].release())),
      static_cast<int32_t>(SendOutcome::kReturned));
  ASSERT_FALSE(outbox.DispatchList().empty());
  Row returned;
  ASSERT_EQ(tables_.outbox->Get(outbox.DispatchList().front(), returned), 1);
  EXPECT_EQ(returned[2], "+49170");
  EXPECT_EQ(returned[10], "0");  // no attempt counted

  // Refused: filed as failed at once, whatever the retries.
  config_.SetInt("sender.retries", 3);
  Run(CMD_SEND_RESULT, std::make_unique<SMSMessage>("", "+1", "never"), static_cast<int32_t>(SendOutcome::kRefused));
  EXPECT_EQ(tables_.failed->Count(), 1);
}

TEST_F(GatewayTest, UssdRepliesReachTheirWaiterDecoded) {
  ConnectAndInitialise();
  G().UssdWaiters().Add(1, 30);
  Unsolicited("+CUSD: 0, \"00420061006C0061006E00630065\", 72");
  const auto answer = G().UssdWaiters().Poll(1);
  EXPECT_TRUE(answer.finished);
  EXPECT_EQ(answer.reply, "Balance");
  // A network that ends the session in the line with the answer answers all the same.
  G().UssdWaiters().Add(2, 30);
  Unsolicited("+CUSD: 2,\"Your balance is 5\",15");
  EXPECT_EQ(G().UssdWaiters().Poll(2).reply, "Your balance is 5");
  EXPECT_EQ(notices_.balloons.back().title, "Got reply to USSD command");
  EXPECT_EQ(notices_.balloons.back().text, "Your balance is 5");
}

TEST_F(GatewayTest, ConnectingReturnsQueuedMessagesToTheFrontOfTheOutboxInOrder) {
  G().GetOutbox().AddToOutbox(std::make_unique<SMSMessage>("", "+3", "waiting"));
  auto a = std::make_unique<SMSMessage>("", "+1", "first");
  auto b = std::make_unique<USSDRequest>("*100#");
  const auto idA = a->id;
  const auto idB = b->id;
  sender_.Push(std::move(a));
  sender_.Push(std::make_unique<ATCommandMessage>("AT\r\n"));
  sender_.Push(std::move(b));
  Run(CMD_CONNECT);
  EXPECT_EQ(QueuedCommands(), Strings{"ATE0\r\n"});  // only the new connection's first command
  const Strings list = G().GetOutbox().DispatchList();
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

TEST_F(GatewayTest, CompletedConnectionSchedulesResetAndReconnect) {
  config_.SetInt("modem.reset.time", 600);
  config_.SetInt("modem.reconnect.time", 30);
  config_.SetInt("modem.checks", 0);
  Run(CMD_CONNECT);
  EXPECT_EQ(notices_.Situation(), "(connecting to Emulator...)");
  ConnectAndInitialise();
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);
  EXPECT_EQ(notices_.Situation(), "(connected to Emulator)");
  EXPECT_EQ(timers_.IntervalOf(TIMER_RESET), 600000u);
  EXPECT_EQ(timers_.IntervalOf(TIMER_RECONNECT), 30000u);

  // A healthy link is left alone; a failed one is reconnected through the
  // full disconnect and connect.
  Run(CMD_TIMER, nullptr, TIMER_RECONNECT);
  EXPECT_TRUE(PostedCodes().empty());
  transport_.SetStatus(LinkStatus::kError);
  Run(CMD_TIMER, nullptr, TIMER_RECONNECT);
  EXPECT_EQ(PostedCodes(), (std::vector<uint32_t>{CMD_DISCONNECT, CMD_CONNECT}));
  Run(CMD_DISCONNECT);
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kDisconnected);
  EXPECT_EQ(notices_.Situation(), "(disconnected)");
  EXPECT_FALSE(timers_.IsScheduled(TIMER_RESET));
  EXPECT_FALSE(timers_.IsScheduled(TIMER_RECONNECT));
}

TEST_F(GatewayTest, ResetSendsItsCommandsAndReconnectsAfterItsPauseWithoutWaiting) {
  ConnectAndInitialise();
  config_.SetString("modem.reset.cmd.0", "AT+CFUN=1,1");
  config_.SetString("modem.reset.cmd.1", "");
  config_.SetInt("modem.reset.reconnect", 1);
  config_.SetInt("modem.reset.sleep", 3000);
  const auto before = std::chrono::steady_clock::now();
  Run(CMD_TIMER, nullptr, TIMER_RESET);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(QueuedCommands(), Strings{"AT+CFUN=1,1\r\n"});
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);
  EXPECT_EQ(timers_.IntervalOf(TIMER_RESET_RECONNECT), 3000u);
  // The reset drops the listing of unread messages the connection started.
  EXPECT_EQ(PostedCodes(), std::vector<uint32_t>{CMD_READ_DONE});
  Run(CMD_TIMER, nullptr, TIMER_RESET_RECONNECT);
  EXPECT_EQ(PostedCodes(), (std::vector<uint32_t>{CMD_DISCONNECT, CMD_CONNECT}));

  // No pause, no commands: the reconnection is asked for at once.
  config_.SetString("modem.reset.cmd.0", "");
  config_.SetInt("modem.reset.sleep", 0);
  sender_.TakeAll();
  Run(CMD_TIMER, nullptr, TIMER_RESET);
  EXPECT_TRUE(QueuedCommands().empty());
  EXPECT_EQ(PostedCodes(), (std::vector<uint32_t>{CMD_DISCONNECT, CMD_CONNECT}));
}

TEST_F(GatewayTest, AnotherThreadWaitsForTheOutcomeOfAConnect) {
  CServiceThread thread(commands_, G());
  thread.Start();
  auto [done, waiter] = MakeAwaitedRequest();
  commands_.Push(DriverCommand(CMD_CONNECT, 0, {}, std::move(done)));
  const auto outcome = waiter.WaitFor(10s);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->status, RequestStatus::kDone);
  thread.Stop();

  // A port that can't be opened: the waiter gets the reason.
  AsyncSerialComm port(config_, log_);
  Gateway other(Context(port));
  config_.SetString("modem.port", "");
  auto [failed, failedWaiter] = MakeAwaitedRequest();
  other.Execute(DriverCommand(CMD_CONNECT, 0, {}, std::move(failed)));
  const auto failure = failedWaiter.WaitFor(0ms);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->status, RequestStatus::kFailed);
  EXPECT_EQ(failure->text, "The COM port is not set. Please setup COM port before connection!");
  EXPECT_EQ(notices_.balloons.back().text,
            "Serial port: The COM port is not set. Please setup COM port before connection!");
  EXPECT_EQ(notices_.Situation(), "(error)");
  EXPECT_EQ(port.GetStatus(), LinkStatus::kError);

  // A command dropped at exit never leaves its caller waiting.
  auto [dropped, droppedWaiter] = MakeAwaitedRequest();
  commands_.Push(DriverCommand(CMD_DISCONNECT, 0, {}, std::move(dropped)));
  G().DrainAtExit();
  const auto none = droppedWaiter.WaitFor(0ms);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, RequestStatus::kDropped);
}

TEST_F(GatewayTest, CommandsLeftAtExitStillFileTheirMessages) {
  commands_.Push(DriverCommand(CMD_INCOMING, 0, Received("+9", "late", 1)));
  commands_.Push(DriverCommand(CMD_CONNECT));
  commands_.Push(DriverCommand(CMD_SEND_RESULT, 1, std::make_unique<SMSMessage>("", "+8", "done")));
  sender_.Push(std::make_unique<SMSMessage>("", "+7", "still queued"));
  G().DrainAtExit();
  EXPECT_EQ(tables_.inbox->Count(), 1);
  EXPECT_EQ(tables_.sent->Count(), 1);
  EXPECT_EQ(tables_.outbox->Count(), 1);
  EXPECT_TRUE(commands_.Empty());
  EXPECT_TRUE(sender_.Queue().Empty());
}

}  // namespace
}  // namespace qm
