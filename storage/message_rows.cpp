#include "storage/message_rows.h"

#include <algorithm>

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
