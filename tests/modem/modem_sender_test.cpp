// The sending worker: command execution against a modem on a pseudo-terminal,
// and the queue of items it works through.
#include "modem/modem_sender.h"

#include <gtest/gtest.h>

#include <thread>

#include "gateway/command_queue_sink.h"
#include "base/config_store.h"
#include "base/logger.h"
#include "modem/async_serial_comm.h"
#include "modem/async_serial_emulator.h"
#include "tests/support/event_wait.h"
#include "tests/support/fake_modem.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FakeModem;
using test::NextWithin;

class SenderTest : public ::testing::Test {
 protected:
  SenderTest() { transport_.StartReader(); }

  void Connect() {
    transport_.SetStatus(LinkStatus::kConfiguring);
    ASSERT_TRUE(transport_.Open(modem_.SlavePath()));
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  FakeModem modem_;
  AsyncSerialComm transport_{config_, log_};
  ModemSender sender_{transport_, sink_, log_};
};

TEST_F(SenderTest, InformationLinesAndOkAreForwardedInOrder) {
  modem_.OnCommand("AT+CGSN\r\n", "\r\n3548\r\n\r\n+X: 1\r\n\r\nOK\r\n");
  Connect();
  sender_.ExecuteATCommand(ATCommandMessage("AT+CGSN\r\n"));
  EXPECT_FALSE(transport_.IsAwaitingReply());
  const auto first = commands_.TryPop();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->code, CMD_MODEM_EVENT);
  EXPECT_EQ(first->result, 1);
  EXPECT_EQ(first->Event()->text, "3548");
  EXPECT_EQ(commands_.TryPop()->Event()->text, "+X: 1");
  const auto ok = commands_.TryPop();
  EXPECT_EQ(ok->result, 1);
  EXPECT_EQ(ok->Event()->kind, EventKind::kOk);
  EXPECT_FALSE(commands_.TryPop());
}

TEST_F(SenderTest, ErrorEndsTheCommandAndFreesABusyLink) {
  modem_.OnCommand("AT+CMGS=12\r\n", "\r\n+CMS ERROR: 330\r\n");
  Connect();
  transport_.SetStatus(LinkStatus::kBusy);
  sender_.ExecuteATCommand(ATCommandMessage("AT+CMGS=12\r\n"));
  const auto failure = commands_.TryPop();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->result, 0);
  EXPECT_EQ(failure->Event()->kind, EventKind::kFailure);
  EXPECT_EQ(failure->Event()->code, 330);
  EXPECT_EQ(sender_.LastErrorText(), "SMSC address unknown");
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);
}

TEST_F(SenderTest, SilentModemEndsTheCommandWithATimeout) {
  Connect();
  transport_.SetReplyTimeout(200);
  sender_.ExecuteATCommand(ATCommandMessage("AT\r\n"));
  const auto timeout = commands_.TryPop();
  ASSERT_TRUE(timeout);
  EXPECT_EQ(timeout->result, 0);
  EXPECT_EQ(timeout->Event()->kind, EventKind::kError);
  EXPECT_EQ(timeout->Event()->text, "timeout");
}

TEST_F(SenderTest, FailedWriteIsReportedNotWaitedFor) {
  // Port never opened: the write fails, and the failure still reaches the
  // command queue so that nobody waits for a reply that cannot come.
  sender_.ExecuteATCommand(ATCommandMessage("AT\r\n"));
  const auto failure = commands_.TryPop();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->result, 0);
  EXPECT_EQ(failure->Event()->kind, EventKind::kFailure);
  EXPECT_EQ(failure->Event()->code, kErrInvalidHandle);
  EXPECT_FALSE(transport_.IsAwaitingReply());
}

TEST_F(SenderTest, AbortEndsAWaitingCommandWithoutARecord) {
  Connect();
  transport_.SetReplyTimeout(60000);
  std::thread aborter([&] {
    ASSERT_TRUE(modem_.WaitForReceived("AT+COPS=?\r\n"));
    sender_.AbortCommand();
  });
  sender_.ExecuteATCommand(ATCommandMessage("AT+COPS=?\r\n"));
  aborter.join();
  EXPECT_FALSE(commands_.TryPop());
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kDisconnected);
}

TEST_F(SenderTest, WorkerExecutesQueuedItemsOnceThePortIsOpen) {
  modem_.OnCommand("AT+A\r\n", "\r\nOK\r\n");
  modem_.OnCommand("AT+B\r\n", "\r\nOK\r\n");
  sender_.Start();
  sender_.Push(std::make_unique<ATCommandMessage>("AT+A\r\n"));
  sender_.Push(std::make_unique<ATCommandMessage>("AT+B\r\n"));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(modem_.Received(), "");  // waiting for the port
  Connect();
  ASSERT_TRUE(modem_.WaitForReceived("AT+B\r\n"));
  EXPECT_EQ(modem_.Received(), "AT+A\r\nAT+B\r\n");
  EXPECT_EQ(NextWithin(commands_)->Event()->kind, EventKind::kOk);
  EXPECT_EQ(NextWithin(commands_)->Event()->kind, EventKind::kOk);
  sender_.Stop();
}

TEST_F(SenderTest, MessagesGoToTheHandlerOrComeBackAsNotSent) {
  Connect();
  sender_.Start();
  sender_.Push(std::make_unique<SMSMessage>("", "+491234", "first"));
  const auto unsent = NextWithin(commands_);
  ASSERT_TRUE(unsent);
  EXPECT_EQ(unsent->code, CMD_SEND_RESULT);
  EXPECT_EQ(unsent->result, 0);
  EXPECT_EQ(unsent->Message()->body, "first");

  BlockingQueue<std::unique_ptr<SMSMessage>> handled;
  sender_.SetMessageHandler([&](std::unique_ptr<SMSMessage> m) { handled.Push(std::move(m)); });
  sender_.Push(std::make_unique<USSDRequest>("*100#"));
  const auto ussd = NextWithin(handled);
  ASSERT_TRUE(ussd);
  EXPECT_EQ((*ussd)->Kind(), kKindUssd);
  sender_.Stop();
}

TEST_F(SenderTest, QueuedItemsCanBeTakenBack) {
  sender_.Push(std::make_unique<ATCommandMessage>("AT\r\n"));
  sender_.Push(std::make_unique<SMSMessage>("", "+491234", "kept"));
  auto items = sender_.TakeAll();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->KindName(), "at");
  EXPECT_EQ(items[1]->KindName(), "sms");
  EXPECT_TRUE(sender_.Queue().Empty());
  EXPECT_EQ(items[0]->CloneGeneric()->Kind(), kKindAtCommand);
}

TEST_F(SenderTest, StopEndsAWaitingCommand) {
  Connect();
  transport_.SetReplyTimeout(60000);
  sender_.Start();
  sender_.Push(std::make_unique<ATCommandMessage>("AT+SLOW\r\n"));
  ASSERT_TRUE(modem_.WaitForReceived("AT+SLOW\r\n"));
  sender_.Stop();  // must not wait for the minute-long timeout
  SUCCEED();
}

TEST(SenderEmulator, ConcurrentProducersAndTheWorker) {
  ConfigStore config;
  config.SetString("modem.init", "ATE0");
  Logger log("", nullptr);
  CommandQueue commands;
  CommandQueueSink sink(commands);
  AsyncSerialEmulator emulator(config, log, sink, EmulatorDelays{0ms, 0ms});
  ModemSender sender(emulator, sink, log);
  emulator.StartReader();
  emulator.SetStatus(LinkStatus::kConfiguring);
  emulator.Open("Emulator");
  sender.Start();
  constexpr int kPerThread = 25;
  std::vector<std::thread> producers;
  for (int t = 0; t < 3; ++t) {
    producers.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        sender.Push(std::make_unique<ATCommandMessage>("AT+CSQ\r\n"));
        emulator.GetStatus();
      }
    });
  }
  for (auto& p : producers) p.join();
  int oks = 0;
  while (oks < 3 * kPerThread) {
    auto cmd = NextWithin(commands);
    ASSERT_TRUE(cmd);
    if (cmd->Event()->kind == EventKind::kOk) ++oks;
  }
  sender.Stop();
  emulator.KillReader();
}

}  // namespace
}  // namespace qm
