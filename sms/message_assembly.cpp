// Joining the decoded parts of one received message into a message object.
#include <optional>
#include <string>

#include "platform/utf.h"
#include "sms/pdu_decoder.h"
#include "sms/wap_push.h"

namespace qm {
namespace {

// Codings 8 and 12 both read as UCS2.
int Alphabet(int coding) { return coding == 0 || coding == 4 ? coding : 8; }

// The raw units of all parts joined, when every part has them in one
// alphabet and no part is missing between them (a pair is never completed
// across a gap); otherwise nullopt.
std::optional<std::string> JoinRaw(const std::vector<DecodedPdu>& parts) {
  std::string raw;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const DecodedPdu& part = parts[i];
    if (Alphabet(part.coding) != Alphabet(parts.front().coding)) return std::nullopt;
    if (part.raw.empty() && !part.text.empty()) return std::nullopt;
    if (part.part != parts.front().part + static_cast<int>(i)) return std::nullopt;
    raw += part.raw;
  }
  return raw;
}

}  // namespace

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
    const std::optional<std::string> raw = JoinRaw(parts);
    if (first.ported) {
      // Without raw octets, the 8-bit data went through the Latin-1 mapping,
      // which gives back every octet.
      auto push = DecodeWapPush(raw && first.coding == 4 ? *raw : Latin1Utf8ToBytes(text));
      if (!push) return nullptr;
      message = std::make_unique<PushMessage>(first.from, std::string(), std::move(push->text), std::move(push->url));
    } else {
      if (raw) text = RawUnitsToText(first.coding, *raw);
      message = std::make_unique<SMSMessage>(first.from, std::string(), std::move(text));
    }
  }
  message->created = first.time;
  // The locations named are those of one memory (the last part's); a part
  // kept in another is left there rather than deleted in the wrong one.
  message->memory = parts.back().memory;
  for (const DecodedPdu& part : parts) {
    if (part.memoryIndex != -1 && part.memory == message->memory) message->memoryIndexes.push_back(part.memoryIndex);
  }
  return message;
}

}  // namespace qm
