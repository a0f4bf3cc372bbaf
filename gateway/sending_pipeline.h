// Sends the messages the sending worker takes from the modem command queue:
// SMS and WAP push in PDU or text mode ("sender.send_mode"), directly with
// AT+CMGS or stored with AT+CMGW and sent with AT+CMSS ("sender.use_memory"),
// and USSD requests with AT+CUSD. Each message is reported to the event sink
// as sent (with its reference and segment count), failed, refused (it can
// never go as it is: no retries) or returned (the worker stopped before it
// was submitted).
//
// A submission waits for the network far longer than a command waits for
// the modem ("sender.timeout.submit"), so a slow network does not turn into a
// retry and a duplicate message.
//
// Threads: Send runs on the sending worker only (it is the worker's message
// handler); the sent-message counter is the worker's.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "modem/async_event.h"
#include "modem/modem_event_sink.h"
#include "sms/message.h"

namespace qm {

class ConfigStore;
class Logger;
class ModemSender;
struct ModemCapabilities;

// The body that sends the fixed 140-octet test payload instead of itself.
inline constexpr std::string_view kTestPayloadTrigger = "SendKestrel5";

class SendingPipeline {
 public:
  SendingPipeline(ConfigStore& config, Logger& log, ModemSender& sender, ModemEventSink& events,
                  ModemCapabilities& capabilities);
  SendingPipeline(const SendingPipeline&) = delete;
  SendingPipeline& operator=(const SendingPipeline&) = delete;

  // Sends one message and reports its outcome.
  void Send(std::unique_ptr<SMSMessage> message, std::stop_token stop);

 private:
  enum class Step { kDone, kFailed, kStopped };
  struct Result {
    Step step = Step::kFailed;
    int number = -1;           // from "+CMGS:", "+CMGW:" or "+CMSS:"
    AsyncEvent last = {};      // the event that ended the wait
  };

  SendOutcome SendPdu(SMSMessage& message, std::stop_token stop);
  SendOutcome SendText(SMSMessage& message, std::stop_token stop);
  SendOutcome SendUssd(SMSMessage& message, std::stop_token stop);

  // One submission: the command line, the prompt, the data, the result.
  Result Submit(const std::string& command, const std::string& data, int expectedPrompts, std::stop_token stop);
  // Sends the stored messages and deletes them by "sender.delete_mode".
  Result SendStored(SMSMessage& message, const std::vector<int>& indexes, std::stop_token stop);
  void DeleteStored(const std::vector<int>& indexes, std::stop_token stop);
  // A command run to its final result; its information lines in `lines`.
  Result Run(const std::string& command, std::stop_token stop, std::vector<std::string>* lines = nullptr);

  bool Write(const std::string& command, uint32_t timeoutMs);
  Result WaitForPrompt(uint64_t since, std::stop_token stop);
  Result WaitForResult(uint64_t since, int expectedPrompts, std::stop_token stop);
  void Fail(const std::string& text);
  SendOutcome Outcome(const Result& result, bool submitted, const SMSMessage& message);
  uint32_t SubmitTimeoutMs() const;

  ConfigStore& config_;
  Logger& log_;
  ModemSender& sender_;
  ModemEventSink& events_;
  ModemCapabilities& capabilities_;
  uint32_t sentCount_ = 0;  // messages whose submission commands all succeeded
};

}  // namespace qm
