// Messages as the API shows them: the rows of the four message tables (and
// the messages the event stream reports) as JSON objects, and a page of a
// table's rows, newest first, searched and paged.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "sms/message.h"
#include "storage/generic_database.h"
#include "web/api_input.h"

namespace qm {

enum class MessageTable { kInbox, kOutbox, kSent, kFailed };

// "outbox", "sent", "failed", "inbox".
const char* TableStateName(MessageTable table);

// "2026-12-08T10:15:40Z".
std::string IsoTime(uint32_t unixTime);

// A received message: id, from, to, text, type, url, time.
nlohmann::json IncomingJson(const SMSMessage& message);
// An outgoing message in `table`: id, state, to, text, type, url, segments,
// flash, report, reference, delivered, error, time.
nlohmann::json OutgoingJson(const SMSMessage& message, MessageTable table);

// The message a row of `table` holds; nullptr for a row that holds none.
std::unique_ptr<SMSMessage> MessageFromTableRow(const Row& row, MessageTable table);
nlohmann::json RowJson(const Row& row, MessageTable table);

// {"total", "page", "per_page", "items"}: `rows` in table order (oldest
// first), those matching the query, newest first.
nlohmann::json ListPage(const Rows& rows, MessageTable table, const ListQuery& query);

// JSON text that never fails: bytes that are not UTF-8 become U+FFFD.
std::string JsonText(const nlohmann::json& value);

}  // namespace qm
