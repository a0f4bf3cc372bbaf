#include "web/message_json.h"

#include <ctime>

#include "platform/utf.h"
#include "storage/message_rows.h"

namespace qm {

using nlohmann::json;

const char* TableStateName(MessageTable table) {
  switch (table) {
    case MessageTable::kInbox:
      return "inbox";
    case MessageTable::kOutbox:
      return "outbox";
    case MessageTable::kSent:
      return "sent";
    case MessageTable::kFailed:
      return "failed";
  }
  return "";
}

std::string IsoTime(uint32_t unixTime) {
  const std::time_t time = unixTime;
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(text, length);
}

json IncomingJson(const SMSMessage& message) {
  return json{{"id", message.id},
              {"from", message.from},
              {"to", message.to},
              {"text", message.body},
              {"type", message.KindName()},
              {"url", message.Url()},
              {"time", IsoTime(message.timestamp)}};
}

json OutgoingJson(const SMSMessage& message, MessageTable table) {
  json out{{"id", message.id},
           {"state", TableStateName(table)},
           {"to", message.to},
           {"text", message.body},
           {"type", message.KindName()},
           {"url", message.Url()},
           {"segments", message.segments},
           {"flash", (message.flags & kFlagFlash) != 0},
           {"report", (message.flags & kFlagStatusReport) != 0},
           {"reference", nullptr},
           {"delivered", nullptr},
           {"error", nullptr},
           {"time", IsoTime(message.timestamp)}};
  if (table == MessageTable::kSent) {
    out["reference"] = message.reference;
    if ((message.flags & kFlagDelivered) != 0) out["delivered"] = true;
    if ((message.flags & kFlagNotDelivered) != 0) out["delivered"] = false;
  }
  // The failed table keeps no reason; the log has the modem's answer.
  if (table == MessageTable::kFailed) out["error"] = "Sending failed";
  return out;
}

std::unique_ptr<SMSMessage> MessageFromTableRow(const Row& row, MessageTable table) {
  switch (table) {
    case MessageTable::kInbox:
      return MessageFromInboxRow(row);
    case MessageTable::kOutbox:
      return MessageFromOutboxRow(row);
    case MessageTable::kSent:
      return MessageFromSentRow(row);
    case MessageTable::kFailed:
      return MessageFromFailedRow(row);
  }
  return nullptr;
}

json RowJson(const Row& row, MessageTable table) {
  const std::unique_ptr<SMSMessage> message = MessageFromTableRow(row, table);
  if (!message) return nullptr;
  return table == MessageTable::kInbox ? IncomingJson(*message) : OutgoingJson(*message, table);
}

json ListPage(const Rows& rows, MessageTable table, const ListQuery& query) {
  const std::string numberField = table == MessageTable::kInbox ? "from" : "to";
  json items = json::array();
  int64_t total = 0;
  const int64_t first = int64_t{query.page - 1} * query.perPage;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    json item = RowJson(*row, table);
    if (item.is_null() || item["id"].get<int64_t>() <= query.sinceId) continue;
    if (!query.q.empty() && !ContainsIgnoreCase(item[numberField].get<std::string>(), query.q) &&
        !ContainsIgnoreCase(item["text"].get<std::string>(), query.q)) {
      continue;
    }
    if (total >= first && total < first + query.perPage) items.push_back(std::move(item));
    ++total;
  }
  return json{{"total", total}, {"page", query.page}, {"per_page", query.perPage}, {"items", std::move(items)}};
}

std::string JsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace qm
