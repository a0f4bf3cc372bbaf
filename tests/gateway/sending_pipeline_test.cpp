// The sending pipeline's dialogue with a modem on a pseudo-terminal, byte by
// byte as the modem sees it.
#include "gateway/sending_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "gateway/modem_capabilities.h"
#include "gateway/pdu_settings_reader.h"
#include "gateway/ussd_codec.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"
#include "sms/pdu_encoder.h"
#include "tests/support/event_wait.h"
#include "tests/support/fake_modem.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class SendingPipelineTest : public ::testing::Test {
 protected:
  SendingPipelineTest() {
    config_.SetInt("sender.timeout.submit", 3000);
    transport_.SetReplyTimeout(1000);
    transport_.StartReader();
    transport_.SetStatus(LinkStatus::kConfiguring);
    EXPECT_TRUE(transport_.Open(modem_.SlavePath()));
    transport_.SetStatus(LinkStatus::kReady);
    // A modem that takes every submission, directly or into its memory.
    modem_.SetResponder([this](const std::string& line) -> std::optional<std::string> {
      if (line.starts_with("AT+CMGS=") || line.starts_with("AT+CMGW=")) {
        storing_ = line.starts_with("AT+CMGW=");
        return "\r\n> ";
      }
      if (line.ends_with('\x1A')) {
        return (storing_ ? "\r\n+CMGW: " + std::to_string(++stored_) : "\r\n+CMGS: " + std::to_string(++reference_)) +
               "\r\n\r\nOK\r\n";
      }
      if (line.starts_with("AT+CMSS=")) return "\r\n+CMSS: " + std::to_string(++reference_) + "\r\n\r\nOK\r\n";
      if (line.starts_with("AT")) return "\r\nOK\r\n";
      return std::nullopt;  // a line of a text body
    });
  }

  // Sends one message and returns the outcome posted for the command thread.
  std::pair<int32_t, std::unique_ptr<SMSMessage>> Send(std::unique_ptr<SMSMessage> message) {
    pipeline_.Send(std::move(message), {});
    while (auto command = commands_.TryPop()) {
      if (command->code == CMD_SEND_RESULT) return {command->result, command->TakeMessage()};
    }
    ADD_FAILURE() << "no outcome";
    return {};
  }
  // The command lines the modem received that start with `prefix`.
  Strings Received(const std::string& prefix) {
    Strings lines;
    const std::string all = modem_.Received();
    std::size_t start = 0;
    while (start < all.size()) {
      std::size_t end = all.find_first_of("\r\n\x1A", start);
      if (end == std::string::npos) end = all.size();
      const std::string line = all.substr(start, end - start);
      if (line.starts_with(prefix)) lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
  static std::unique_ptr<SMSMessage> Sms(std::string to, std::string body) {
    return std::make_unique<SMSMessage>("", std::move(to), std::move(body));
  }
  // The submission commands a message takes in PDU mode.
  Strings Submissions(const std::string& command, const SMSMessage& message) {
    Strings lines;
    for (const SubmitPdu& pdu : BuildSubmitPdus(message, ReadPduSettings(config_)).pdus) {
      lines.push_back(command + std::to_string(pdu.tpduLength));
    }
    return lines;
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  test::FakeModem modem_;
  AsyncSerialComm transport_{config_, log_};
  ModemSender sender_{transport_, sink_, log_};
  ModemCapabilities capabilities_;
  SendingPipeline pipeline_{config_, log_, sender_, sink_, capabilities_};
  std::atomic<bool> storing_{false};
  std::atomic<int> reference_{0};
  std::atomic<int> stored_{0};
};

TEST_F(SendingPipelineTest, LongMessageInPduModeWithThePauseOnlyBetweenSegments) {
  config_.SetInt("sender.delay", 600);
  auto message = Sms("+4917012345", std::string(400, 'x'));
  const Strings expected = Submissions("AT+CMGS=", *message);
  ASSERT_EQ(expected.size(), 3u);
  const auto start = std::chrono::steady_clock::now();
  auto [result, sent] = Send(std::move(message));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(sent->segments, 3u);
  EXPECT_EQ(sent->reference, 3);  // the last segment's
  EXPECT_EQ(Received("AT+CMGS="), expected);
  EXPECT_GE(elapsed, 1200ms);  // two pauses
  EXPECT_LT(elapsed, 1800ms);  // not three
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);
}

TEST_F(SendingPipelineTest, ThroughTheModemsMemoryAndItsDeletion) {
  config_.SetInt("sender.use_memory", 1);
  config_.SetInt("sender.delay", 0);
  auto message = Sms("+4917012345", std::string(200, 'y'));
  Strings expected = Submissions("AT+CMGW=", *message);
  ASSERT_EQ(expected.size(), 2u);
  expected.insert(expected.end(), {"AT+CMSS=1", "AT+CMSS=2"});
  auto [result, sent] = Send(std::move(message));
  EXPECT_EQ(result, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(Received("AT+CM"), expected);
  EXPECT_EQ(sent->reference, 1);  // from the first AT+CMSS

  // Delete mode 2 clears the memory after every third message sent.
  config_.SetInt("sender.delete_mode", 2);
  config_.SetInt("sender.delete_after", 3);
  Send(Sms("+4917012345", "two"));
  EXPECT_TRUE(Received("AT+CMGD").empty());
  Send(Sms("+4917012345", "three"));
  EXPECT_EQ(Received("AT+CMGD"), Strings{"AT+CMGD=1,4"});
  config_.SetInt("sender.delete_mode", 1);
  Send(Sms("+4917012345", "four"));
  EXPECT_EQ(Received("AT+CMGD").back(), "AT+CMGD=" + std::to_string(stored_.load()));
}

TEST_F(SendingPipelineTest, TextModeSetsItsParametersAndCarriesLineBreaks) {
  config_.SetInt("sender.send_mode", 1);
  auto report = Sms("4470", "first line\r\nsecond @ line");
  report->toTon = 0;
  report->flags = kFlagStatusReport;
  auto [result, sent] = Send(std::move(report));
  // The modem answered the body's line break with another prompt: expected.
  EXPECT_EQ(result, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(Received("AT+CSCS="), Strings{"AT+CSCS=\"GSM\""});
  EXPECT_EQ(Received("AT+CSMP="), Strings{"AT+CSMP=49,167,0,0"});  // report requested, one day
  EXPECT_EQ(Received("AT+CMGS="), Strings{"AT+CMGS=\"+4470\",129"});
  EXPECT_NE(modem_.Received().find(std::string("second \0 line\x1A", 13)), std::string::npos);  // "@" in GSM

  // What text mode cannot carry goes as a PDU, or, where the modem has no
  // PDU mode, fails at once: no retries.
  auto cyrillic = Sms("+4470", "Привет");
  const Strings pdu = Submissions("AT+CMGS=", *cyrillic);
  EXPECT_EQ(Send(std::move(cyrillic)).first, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(Received("AT+CMGF="), (Strings{"AT+CMGF=0", "AT+CMGF=1"}));
  EXPECT_EQ(Received("AT+CMGS=").back(), pdu.at(0));
  capabilities_.pduMode.store(false);
  EXPECT_EQ(Send(Sms("+4470", "Привет")).first, static_cast<int32_t>(SendOutcome::kRefused));
  // A destination that would end the command is never written.
  EXPECT_EQ(Send(Sms("1\"\rAT+CMGD=1,4\r", "hi")).first, static_cast<int32_t>(SendOutcome::kRefused));
  EXPECT_TRUE(Received("AT+CMGD").empty());
}

TEST_F(SendingPipelineTest, FailuresSlowNetworksAndLateResults) {
  // An error instead of the prompt: failed, and the link ready again.
  auto refused = Sms("+4917012345", "refused");
  modem_.OnCommand(Submissions("AT+CMGS=", *refused).at(0) + "\r\n", "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(Send(std::move(refused)).first, static_cast<int32_t>(SendOutcome::kFailed));
  EXPECT_EQ(transport_.GetStatus(), LinkStatus::kReady);

  // A network that answers after twice the reply time-out still counts:
  // the submission has its own, longer one.
  std::atomic<bool> slow{true};
  modem_.SetResponder([&](const std::string& line) -> std::optional<std::string> {
    if (line.starts_with("AT+CMGS=")) return "\r\n> ";
    if (line.ends_with('\x1A') && slow) {
      std::this_thread::sleep_for(2000ms);
      return "\r\n+CMGS: 7\r\n\r\nOK\r\n";
    }
    if (line.ends_with('\x1A')) return std::string("\r\n+CMGS: 8\r\n\r\nOK\r\n");
    return std::string("\r\nOK\r\n");
  });
  auto [result, sent] = Send(Sms("+4917012345", "slow"));
  EXPECT_EQ(result, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(sent->reference, 7);

  // One that never answers in time fails; its late result is not taken for
  // the next message's.
  config_.SetInt("sender.timeout.submit", 1000);
  EXPECT_EQ(Send(Sms("+4917012345", "this one is too slow")).first, static_cast<int32_t>(SendOutcome::kFailed));
  slow = false;
  auto [next, after] = Send(Sms("+4917012345", "next"));
  EXPECT_EQ(next, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(after->reference, 8);
}

TEST_F(SendingPipelineTest, UssdRequests) {
  modem_.OnCommand("AT+CSCS?\r\n", "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n");
  auto hidden = std::make_unique<USSDRequest>("*100#");
  hidden->flags = 8;
  EXPECT_EQ(Send(std::move(hidden)).first, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(Received("AT+CUSD="), Strings{"AT+CUSD=0,\"*100#\",15"});

  // A modem that wants the request packed gets it packed.
  modem_.OnCommand("AT+CUSD=1,\"*101#\",15\r\n", "\r\nERROR\r\n");
  EXPECT_EQ(Send(std::make_unique<USSDRequest>("*101#")).first, static_cast<int32_t>(SendOutcome::kSent));
  EXPECT_EQ(Received("AT+CUSD=").back() + "\r\n", *UssdRequestCommand("*101#", false, UssdRequestCoding::kPacked));
  EXPECT_TRUE(capabilities_.ussdRequestPacked.load());

  // No USSD support: no attempt, no retries.
  capabilities_.ussd.store(false);
  EXPECT_EQ(Send(std::make_unique<USSDRequest>("*102#")).first, static_cast<int32_t>(SendOutcome::kRefused));
  EXPECT_EQ(Received("AT+CUSD=").size(), 3u);
}

}  // namespace
}  // namespace qm
