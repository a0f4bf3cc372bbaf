#include "storage/message_rows.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "storage/table_format.h"
#include "storage/text_escape.h"

namespace qm {
namespace {

std::string Unsigned(uint32_t value) { return std::to_string(value); }
std::string Unsigned(int32_t value) { return std::to_string(static_cast<uint32_t>(value)); }

}  // namespace

std::string ValidityText(const SMSMessage& message) {
  return std::to_string(std::max<int64_t>(0, message.ValiditySeconds()));
}

Row MakeInboxRow(const SMSMessage& message, std::string id, bool handled, std::string_view separator) {
  return Row{std::move(id),
             Unsigned(message.timestamp),
             EscapeFieldText(message.from, separator),
             message.KindName(),
             EscapeFieldText(message.body, separator),
             EscapeFieldText(message.Url(), separator),
             handled ? "1" : "0",
             Unsigned(message.flags),
             "0",
             Unsigned(message.id),
             EscapeFieldText(message.to, separator)};
}

Row MakeOutboxRow(const SMSMessage& message, std::string id, std::string_view separator) {
  return Row{std::move(id),
             Unsigned(message.timestamp),
             EscapeFieldText(message.to, separator),
             message.KindName(),
             Unsigned(message.segments),
             EscapeFieldText(message.body, separator),
             EscapeFieldText(message.Url(), separator),
             Unsigned(message.toTon),
             Unsigned(message.flags),
             Unsigned(message.id),
             Unsigned(message.attempts),
             EscapeFieldText(message.from, separator),
             ValidityText(message),
             EscapeFieldText(message.custom, separator)};
}

std::unique_ptr<SMSMessage> MessageFromOutboxRow(const Row& row) {
  if (row.size() < 14) return nullptr;
  const auto number = [&row](int column) { return ReadDecimal(row[static_cast<std::size_t>(column)]); };
  const auto text = [&row](int column) { return UnescapeFieldText(row[static_cast<std::size_t>(column)]); };
  const auto id = static_cast<int32_t>(std::clamp<int64_t>(number(9), 0, INT32_MAX));
  std::unique_ptr<SMSMessage> message;
  const std::string& type = row[3];
  if (type == "sms") {
    message = std::make_unique<SMSMessage>(text(11), text(2), text(5), id);
    message->custom = text(13);
  } else if (type == "push") {
    message = std::make_unique<PushMessage>(text(11), text(2), text(5), text(6), id);
  } else if (type == "ussd") {
    message = std::make_unique<USSDRequest>(text(5), id);
    message->to = text(2);
  } else {
    return nullptr;
  }
  message->toTon = static_cast<int32_t>(number(7));
  message->flags = static_cast<uint32_t>(number(8));
  message->attempts = static_cast<uint32_t>(std::max<int64_t>(0, number(10)));
  message->segments = static_cast<uint32_t>(std::max<int64_t>(0, number(4)));
  message->timestamp = static_cast<uint32_t>(std::max<int64_t>(0, number(1)));
  const int64_t validity = number(12);
  if (type != "ussd" && validity > 0) {
    message->expires = static_cast<uint32_t>(std::min<int64_t>(int64_t{message->timestamp} + validity, UINT32_MAX));
  }
  return message;
}

std::unique_ptr<SMSMessage> MessageFromSentRow(const Row& row) {
  std::unique_ptr<SMSMessage> message = MessageFromOutboxRow(row);
  if (!message) return nullptr;
  message->reference = static_cast<int32_t>(static_cast<uint32_t>(ReadDecimal(row[10])));
  message->attempts = 0;
  return message;
}

std::unique_ptr<SMSMessage> MessageFromFailedRow(const Row& row) {
  if (row.size() < 13) return nullptr;
  Row asOutbox = row;
  asOutbox.insert(asOutbox.begin() + 10, "0");  // the "attempts" column a failed row lacks
  return MessageFromOutboxRow(asOutbox);
}

std::unique_ptr<SMSMessage> MessageFromInboxRow(const Row& row) {
  if (row.size() < 11) return nullptr;
  const auto text = [&row](int column) { return UnescapeFieldText(row[static_cast<std::size_t>(column)]); };
  const auto id = static_cast<int32_t>(std::clamp<int64_t>(ReadDecimal(row[9]), 0, INT32_MAX));
  std::unique_ptr<SMSMessage> message;
  if (row[3] == "push") {
    message = std::make_unique<PushMessage>(text(2), text(10), text(4), text(5), id);
  } else {
    message = std::make_unique<SMSMessage>(text(2), text(10), text(4), id);
  }
  message->timestamp = static_cast<uint32_t>(std::clamp<int64_t>(ReadDecimal(row[1]), 0, UINT32_MAX));
  message->flags = static_cast<uint32_t>(ReadDecimal(row[7]));
  return message;
}

Row MakeSentRow(const SMSMessage& message, std::string id, std::string_view separator) {
  Row row = MakeOutboxRow(message, std::move(id), separator);
  row[10] = Unsigned(message.reference);  // "refid" in place of "attempts"
  return row;
}

Row MakeFailedRow(const SMSMessage& message, std::string id, std::string_view separator) {
  Row row = MakeOutboxRow(message, std::move(id), separator);
  row.erase(row.begin() + 10);  // no "attempts" column
  return row;
}

}  // namespace qm
