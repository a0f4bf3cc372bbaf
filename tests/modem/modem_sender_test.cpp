// The sending worker: command execution against a modem on a pseudo-terminal,
// and the queue of items it works through.
#include "modem/modem_sender.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_error_event.h"
#include "tests/support/event_wait.h"
#include "tests/support/fake_modem.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FakeModem;
using test::NextWithin;

// What the command thread sees of a posted reply: result, kind, code, text.
using Record = std::tuple<int, EventKind, int, std::string>;

class SenderTest : public ::testing::Test {
 protected:
  SenderTest() { transport_.StartReader(); }

  void Connect() {
    transport_.SetStatus(LinkStatus::kConfiguring);
    ASSERT_TRUE(transport_.Open(modem_.SlavePath()));
  }

  // Executes one command and returns the records it posted for the command thread.
  std::vector<Record> Execute(const std::string& command) {
    sender_.ExecuteATCommand(ATCommandMessage(command));
    std::vector<Record> records;
    while (auto cmd = commands_.TryPop()) {
      EXPECT_EQ(cmd->code, CMD_MODEM_EVENT);
      records.push_back({cmd->result, cmd->Event()->kind, cmd->Event()->code, cmd->Event()->text});
    }
    EXPECT_FALSE(transport_.IsAwaitingReply());
    return records;
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  FakeModem modem_;
  AsyncSerialComm transport_{config_, log_};
  ModemSender sender_{transport_, sink_, log_};
};

TEST_F(SenderTest, EachWayACommandEndsIsPostedForTheCommandThread) {
  modem_.OnCommand("AT+CGSN\r\n", "\r\n3548\r\n\r\n+X: 1\r\n\r\nOK\r\n");
  modem_.OnCommand("AT+CMGS=12\r\n", "\r\n+CMS ERROR: 330\r\n");
  modem_.OnCommand("AT+CMGS=23\r\n", "\r\n> ");
  // Port not open yet: the failed write still reaches the command thread, so
  // that nobody waits for a reply that cannot come.
  EXPECT_EQ(Execute("AT\r\n"),
            (std::vector<Record>{{0, EventKind::kFailure, kErrInvalidHandle, ErrorStr(kErrInvalidHandle)}}));
  Connect();
  EXPECT_EQ(Execute("AT+CGSN\r\n"), (std::vector<Record>{{1, EventKind::kInfo, 0, "3548"},
                                                         {1, EventKind::kInfo, 0, "+X: 1"},
                                                         {1, EventKind::kOk, 0, "OK"}}));

  transport_.SetStatus(LinkStatus::kBusy);
  const std::string text(CmsErrorText(330));
  EXPECT_EQ(Execute("AT+CMGS=12\r\n"), (std::vector<Record>{{0, EventKind::kFailure, 330, text}}));
  EXPECT_EQ(sender_.LastErrorText(), text);
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);  // an error frees a busy link

  // A prompt nobody asked for: the modem's input mode is ended, the command fails.
  const auto prompt = Execute("AT+CMGS=23\r\n");
  ASSERT_EQ(prompt.size(), 1u);
  EXPECT_EQ(std::get<0>(prompt[0]), 0);
  EXPECT_EQ(std::get<1>(prompt[0]), EventKind::kFailure);
  EXPECT_TRUE(modem_.WaitForReceived("AT+CMGS=23\r\n\x1A"));

  transport_.SetReplyTimeout(200);  // a silent modem
  EXPECT_EQ(Execute("AT\r\n"), (std::vector<Record>{{0, EventKind::kError, 0, "timeout"}}));

  // Aborted: nothing is posted, and the link counts as disconnected.
  transport_.SetReplyTimeout(60000);
  std::jthread aborter([&] {
    if (modem_.WaitForReceived("AT+COPS=?\r\n")) sender_.AbortCommand();
  });
  EXPECT_TRUE(Execute("AT+COPS=?\r\n").empty());
  aborter.join();
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kDisconnected);
}

// A reply that comes after its command gave up is never taken for the next
// command's: a modem answering 100 ms after a 200 ms time-out, and the answer
// to the Ctrl-Z that ends an unexpected prompt.
TEST_F(SenderTest, ALateReplyIsNotCreditedToTheNextCommand) {
  Connect();
  transport_.SetReplyTimeout(200);
  modem_.OnCommand("AT+CMGD=1\r\n", "\r\n+CMS ERROR: 321\r\n");
  std::jthread late([&] {
    if (!modem_.WaitForReceived("AT+SLOW\r\n")) return;
    std::this_thread::sleep_for(300ms);
    modem_.Send("\r\nOK\r\n");
  });
  EXPECT_EQ(Execute("AT+SLOW\r\n"), (std::vector<Record>{{0, EventKind::kError, 0, "timeout"}}));
  EXPECT_EQ(Execute("AT+CMGD=1\r\n"), (std::vector<Record>{{0, EventKind::kFailure, 321, std::string(CmsErrorText(321))}}));
  late.join();

  modem_.OnCommand("AT+CMGS=23\r\n", "\r\n> ");
  modem_.OnCommand("\x1A", "\r\nERROR\r\n");
  modem_.OnCommand("AT+CSQ\r\n", "\r\n+CSQ: 31,0\r\n\r\nOK\r\n");
  ASSERT_EQ(Execute("AT+CMGS=23\r\n").size(), 1u);
  EXPECT_EQ(Execute("AT+CSQ\r\n"),
            (std::vector<Record>{{1, EventKind::kInfo, 0, "+CSQ: 31,0"}, {1, EventKind::kOk, 0, "OK"}}));

  // Other final results end a command at once; closing the port ends one too.
  modem_.OnCommand("ATD123;\r\n", "\r\nNO CARRIER\r\n");
  EXPECT_EQ(Execute("ATD123;\r\n"), (std::vector<Record>{{0, EventKind::kError, 100, "NO CARRIER"}}));
  transport_.SetReplyTimeout(60000);
  std::jthread closer([&] {
    if (modem_.WaitForReceived("AT+COPS=?\r\n")) transport_.Close();
  });
  EXPECT_EQ(Execute("AT+COPS=?\r\n"),
            (std::vector<Record>{{0, EventKind::kFailure, kErrInvalidHandle, "The port was closed"}}));
}

// The worker waits for the port; AT commands are executed in order, messages
// go to the handler or, without one, come back as not sent; Stop ends a
// command the worker waits on.
TEST_F(SenderTest, WorkerExecutesQueuedItemsOnceThePortIsOpen) {
  modem_.OnCommand("AT+A\r\n", "\r\nOK\r\n");
  modem_.OnCommand("AT+B\r\n", "\r\nOK\r\n");
  sender_.Start();
  sender_.Push(std::make_unique<ATCommandMessage>("AT+A\r\n"));
  sender_.Push(std::make_unique<ATCommandMessage>("AT+B\r\n"));
  sender_.Push(std::make_unique<SMSMessage>("", "+491234", "first"));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(modem_.Received(), "");
  Connect();
  EXPECT_EQ(NextWithin(commands_)->Event()->kind, EventKind::kOk);
  EXPECT_EQ(NextWithin(commands_)->Event()->kind, EventKind::kOk);
  EXPECT_EQ(modem_.Received(), "AT+A\r\nAT+B\r\n");
  const auto unsent = NextWithin(commands_);
  ASSERT_TRUE(unsent);
  EXPECT_EQ(unsent->code, CMD_SEND_RESULT);
  EXPECT_EQ(unsent->result, 0);
  EXPECT_EQ(unsent->Message()->body, "first");

  BlockingQueue<std::unique_ptr<SMSMessage>> handled;
  sender_.SetMessageHandler([&](std::unique_ptr<SMSMessage> m, std::stop_token) { handled.Push(std::move(m)); });
  sender_.Push(std::make_unique<USSDRequest>("*100#"));
  const auto ussd = NextWithin(handled);
  ASSERT_TRUE(ussd);
  EXPECT_EQ((*ussd)->Kind(), kKindUssd);

  transport_.SetReplyTimeout(60000);
  sender_.Push(std::make_unique<ATCommandMessage>("AT+SLOW\r\n"));
  ASSERT_TRUE(modem_.WaitForReceived("AT+SLOW\r\n"));
  sender_.Stop();  // must not wait for the minute-long timeout
}

TEST_F(SenderTest, ConcurrentProducersAndTheWorker) {
  modem_.OnCommand("AT+CSQ\r\n", "\r\n+CSQ: 31,0\r\n\r\nOK\r\n");
  Connect();
  sender_.Start();
  constexpr int kPerThread = 10;
  std::vector<std::jthread> producers;
  for (int t = 0; t < 3; ++t) {
    producers.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        sender_.Push(std::make_unique<ATCommandMessage>("AT+CSQ\r\n"));
        transport_.GetStatus();
      }
    });
  }
  producers.clear();
  for (int oks = 0; oks < 3 * kPerThread;) {
    auto cmd = NextWithin(commands_);
    ASSERT_TRUE(cmd);
    if (cmd->Event()->kind == EventKind::kOk) ++oks;
  }
  sender_.Stop();
}

}  // namespace
}  // namespace qm
