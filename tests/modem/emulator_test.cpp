// The built-in emulator, written to as the driver writes to a modem.
#include "modem/async_serial_emulator.h"

#include <gtest/gtest.h>

#include <string>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_encoder.h"
#include "tests/support/event_wait.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

class EmulatorTest : public ::testing::Test {
 protected:
  EmulatorTest() {
    config_.SetString("modem.init", "ATE0");
    for (ListenerSlot slot : {ListenerSlot::kWriteDone, ListenerSlot::kOk, ListenerSlot::kPrompt, ListenerSlot::kErrors,
                              ListenerSlot::kInfo}) {
      emulator_.SetListener(&replies_, slot);
    }
    emulator_.StartReader();
    emulator_.SetStatus(LinkStatus::kConfiguring);
    emulator_.Open("Emulator");
  }

  // The next reply, write confirmations skipped; nothing within `limit`: kind kAbort.
  AsyncEvent Reply(std::chrono::milliseconds limit = 5s) {
    while (auto event = test::NextWithin(replies_, limit)) {
      if (event->kind != EventKind::kWriteDone) return *event;
    }
    return AsyncEvent{EventKind::kAbort, 0, {}, {}};
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  ListenerQueue replies_;  // outlives the emulator
  AsyncSerialEmulator emulator_{config_, log_, sink_, EmulatorDelays{1ms, 5ms}};
};

// Each submitted PDU is answered with the next reference; one whose text is
// "SEND <number> <text>" also comes back as a message received from <number>.
TEST_F(EmulatorTest, SubmissionsCountReferencesAndInjectSendRequests) {
  int sent = 0;
  for (const char* text : {"plain text", "SEND", "SEND 12345", "SEND 4915112345 hello"}) {
    emulator_.WriteCommand("AT+CMGS=23\r\n");
    ASSERT_EQ(Reply().kind, EventKind::kPrompt);
    const SubmitPdus pdus = BuildSubmitPdus(SMSMessage("", "+4912345678", text), PduSettings{}, 1);
    emulator_.WriteHexData(HexToBytes(pdus.pdus.at(0).hex));
    EXPECT_EQ(Reply().text, "+CMGS: " + std::to_string(++sent));
    EXPECT_EQ(Reply().kind, EventKind::kOk);
  }
  // Only the last one has a number and a text; it arrives after its reply.
  const auto injected = test::NextWithin(commands_);
  ASSERT_TRUE(injected);
  EXPECT_EQ(injected->code, CMD_INCOMING);
  ASSERT_NE(injected->Message(), nullptr);
  EXPECT_EQ(injected->Message()->from, "4915112345");
  EXPECT_EQ(injected->Message()->body, "hello");
  EXPECT_FALSE(commands_.TryPop());
}

TEST_F(EmulatorTest, CloseStopsAnswersUntilReopened) {
  emulator_.Close();
  EXPECT_EQ(emulator_.GetStatus(), LinkStatus::kDisconnected);
  emulator_.WriteCommand("ATE0\r\n");
  EXPECT_EQ(Reply(100ms).kind, EventKind::kAbort);
  emulator_.SetStatus(LinkStatus::kConfiguring);
  emulator_.Open("Emulator");
  EXPECT_EQ(Reply(100ms).kind, EventKind::kAbort);  // what was written while closed is gone
  emulator_.WriteCommand("ATE0\r\n");
  EXPECT_EQ(Reply().kind, EventKind::kOk);
}

}  // namespace
}  // namespace qm
