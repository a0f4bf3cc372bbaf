// The built-in emulator driven through the sending worker's command execution.
#include "modem/async_serial_emulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/command_queue_sink.h"
#include "base/config_store.h"
#include "base/logger.h"
#include "modem/modem_sender.h"
#include "sms/pdu_encoder.h"
#include "tests/support/event_wait.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

struct Record {
  int result;
  EventKind kind;
  std::string text;
  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Record& r) {
  return os << "{" << r.result << ", " << static_cast<int>(r.kind) << ", \"" << r.text << "\"}";
}

class EmulatorTest : public ::testing::Test {
 protected:
  EmulatorTest() {
    config_.SetString("modem.init", "ATE0");
    emulator_.SetListener(&incoming_, ListenerSlot::kIncoming);
    emulator_.StartReader();
    emulator_.SetStatus(LinkStatus::kConfiguring);
    emulator_.Open("Emulator");
  }

  // Executes one command and returns the result records it posted.
  std::vector<Record> Execute(const std::string& command) {
    sender_.ExecuteATCommand(ATCommandMessage(command));
    std::vector<Record> records;
    while (auto cmd = commands_.TryPop()) {
      if (cmd->code != CMD_MODEM_EVENT) {
        others_.push_back(std::move(*cmd));
        continue;
      }
      records.push_back({cmd->result, cmd->Event()->kind, cmd->Event()->text});
    }
    return records;
  }

  static std::string SubmitPdu(const std::string& text) {
    const SMSMessage message("", "+4912345678", text);
    const SubmitPdus pdus = BuildSubmitPdus(message, PduSettings{}, 1);
    return pdus.pdus.at(0).hex;
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  std::vector<DriverCommand> others_;
  ListenerQueue incoming_;
  ListenerQueue replies_;  // registered by some tests; outlives the emulator
  AsyncSerialEmulator emulator_{config_, log_, sink_, EmulatorDelays{1ms, 5ms}};
  ModemSender sender_{emulator_, sink_, log_};
};

TEST_F(EmulatorTest, EmptyInitStringIsAnsweredWithOk) {
  config_.SetString("modem.init", "");
  EXPECT_EQ(Execute("\r\n"), (std::vector<Record>{{1, EventKind::kOk, "OK"}}));
}

TEST_F(EmulatorTest, ReadingAMessageGivesHeaderAndPduToTheIncomingSlot) {
  EXPECT_EQ(Execute("AT+CMGR=5\r\n"), (std::vector<Record>{{1, EventKind::kOk, "OK"}}));
  EXPECT_EQ(test::NextWithin(incoming_)->text, "+CMGR: 0,,33");
  const auto pdu = test::NextWithin(incoming_);
  EXPECT_EQ(pdu->kind, EventKind::kInfo);
  EXPECT_EQ(pdu->text, "07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038");
}

TEST_F(EmulatorTest, UssdReplyBringsANewMessageIndication) {
  EXPECT_EQ(Execute("AT+CUSD=1,\"*100#\",15\r\n"), (std::vector<Record>{{1, EventKind::kOk, "OK"}}));
  EXPECT_EQ(test::NextWithin(incoming_)->text, "+CUSD: 2,\"Your current balance is $ 22.10\",15");
  const auto index = test::NextWithin(incoming_);
  EXPECT_EQ(index->kind, EventKind::kIncomingIndex);
  EXPECT_EQ(index->text, "+CMTI: \"SM\",5");
}

TEST_F(EmulatorTest, SubmissionsCountReferencesAndInjectSendRequests) {
  EXPECT_EQ(emulator_.NextReference(), 1u);
  EXPECT_EQ(Execute(SubmitPdu("plain text") + "\x1A"),
            (std::vector<Record>{{1, EventKind::kInfo, "+CMGS: 1"}, {1, EventKind::kOk, "OK"}}));
  EXPECT_TRUE(others_.empty());  // not a SEND request

  EXPECT_EQ(Execute(SubmitPdu("SEND 4915112345 hello") + "\x1A"),
            (std::vector<Record>{{1, EventKind::kInfo, "+CMGS: 2"}, {1, EventKind::kOk, "OK"}}));
  ASSERT_EQ(others_.size(), 1u);
  EXPECT_EQ(others_[0].code, CMD_INCOMING);
  const SMSMessage* injected = others_[0].Message();
  ASSERT_NE(injected, nullptr);
  EXPECT_EQ(injected->Kind(), kKindSms);
  EXPECT_EQ(injected->from, "4915112345");
  EXPECT_EQ(injected->body, "hello");
  EXPECT_EQ(emulator_.NextReference(), 3u);

  // Too short, or no blank after the number: nothing is injected.
  others_.clear();
  Execute(SubmitPdu("SEND") + "\x1A");
  Execute(SubmitPdu("SEND 12345") + "\x1A");
  EXPECT_TRUE(others_.empty());
}

TEST_F(EmulatorTest, PromptAndLowerCaseHexData) {
  ListenerQueue& replies = replies_;
  for (ListenerSlot slot : {ListenerSlot::kWriteDone, ListenerSlot::kOk, ListenerSlot::kPrompt, ListenerSlot::kErrors, ListenerSlot::kInfo}) emulator_.SetListener(&replies, slot);
  emulator_.WriteCommand("AT+CMGS=23\r\n");
  EXPECT_EQ(test::NextWithin(replies)->kind, EventKind::kWriteDone);
  const auto prompt = test::NextWithin(replies);
  EXPECT_EQ(prompt->kind, EventKind::kPrompt);
  EXPECT_EQ(prompt->text, ">");

  emulator_.WriteHexData(std::string("\x00\xAB\x1F", 3));
  const auto done = test::NextWithin(replies);
  EXPECT_EQ(done->kind, EventKind::kWriteDone);
  EXPECT_EQ(done->bytes, "00ab1f");
  EXPECT_EQ(test::NextWithin(replies)->text, "+CMGS: 1");
  EXPECT_EQ(test::NextWithin(replies)->kind, EventKind::kOk);
}

TEST_F(EmulatorTest, UnexpectedPromptEndsTheCommandWithAFailure) {
  const auto records = Execute("AT+CMGS=23\r\n");
  EXPECT_EQ(records, (std::vector<Record>{{0, EventKind::kFailure, "Serial port: unexpected reply! Type: 3 Content: >"}}));
}

TEST_F(EmulatorTest, CloseStopsAnswersUntilReopened) {
  emulator_.Close();
  EXPECT_EQ(emulator_.GetStatus(), LinkStatus::kDisconnected);
  ListenerQueue& replies = replies_;
  emulator_.SetListener(&replies, ListenerSlot::kOk);
  emulator_.WriteCommand("ATE0\r\n");
  EXPECT_FALSE(test::NextWithin(replies, 100ms));
  emulator_.SetStatus(LinkStatus::kConfiguring);
  emulator_.Open("Emulator");
  EXPECT_FALSE(test::NextWithin(replies, 100ms));  // what was written while closed is gone
  emulator_.WriteCommand("ATE0\r\n");
  EXPECT_TRUE(test::NextWithin(replies));
}

}  // namespace
}  // namespace qm
