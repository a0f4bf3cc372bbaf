// Joining the decoded parts of one received message into a message object.
#include <string>

#include "platform/utf.h"
#include "sms/pdu_decoder.h"
#include "sms/wap_push.h"

namespace qm {

std::unique_ptr<SMSMessage> AssembleMessage(const std::vector<DecodedPdu>& parts) {
  if (parts.empty()) return nullptr;
  const DecodedPdu& first = parts.front();
  std::unique_ptr<SMSMessage> message;
  if (first.kind == kKindStatusReport) {
    // A report stands alone; a list mixing it with anything is not a message.
    if (parts.size() != 1) return nullptr;
    auto report = std::make_unique<StatusReport>(first.from, std::string(), first.messageReference,
                                                 first.dischargeTime, static_cast<uint32_t>(first.status));
    report->timestamp = first.time;
    message = std::move(report);
  } else {
    std::string text;
    for (const DecodedPdu& part : parts) {
      if (part.kind != kKindSms) return nullptr;
      text += part.text;
    }
    if (first.ported) {
      // The 8-bit data went through the Latin-1 mapping, which gives back
      // every octet.
      auto push = DecodeWapPush(Latin1Utf8ToBytes(text));
      if (!push) return nullptr;
      message = std::make_unique<PushMessage>(first.from, std::string(), std::move(push->text), std::move(push->url));
    } else {
      message = std::make_unique<SMSMessage>(first.from, std::string(), std::move(text));
    }
  }
  message->created = first.time;
  for (const DecodedPdu& part : parts) {
    if (part.memoryIndex != -1) message->memoryIndexes.push_back(part.memoryIndex);
  }
  return message;
}

}  // namespace qm
