// Message <-> table row conversions for the four message tables.
//
// Column layouts (the message fields are those of SMSMessage; numbers are
// unsigned decimal; free text is escaped with EscapeFieldText so it stays in
// one field):
//   inbox:  id timestamp from type content url handled flags reserved uniqueid destination
//   outbox: id timestamp to type segments content url dstton flags uniqueid attempts source validity custom
//   sent:   id timestamp to type segments content url dstton flags uniqueid refid source validity custom
//   failed: id timestamp to type segments content url dstton flags uniqueid source validity custom
//
// Pure functions; any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sms/message.h"
#include "storage/generic_database.h"

namespace qm {

// Columns shared by the rows below.
inline constexpr int kRowIdColumn = 0;
inline constexpr int kRowTimestampColumn = 1;
inline constexpr int kInboxFromColumn = 2;
inline constexpr int kInboxContentColumn = 4;
inline constexpr int kInboxDestinationColumn = 10;

Row MakeInboxRow(const SMSMessage& message, std::string id, bool handled, std::string_view separator);
Row MakeOutboxRow(const SMSMessage& message, std::string id, std::string_view separator);
Row MakeSentRow(const SMSMessage& message, std::string id, std::string_view separator);
Row MakeFailedRow(const SMSMessage& message, std::string id, std::string_view separator);

// The validity column: expires - timestamp in seconds, never below 0.
std::string ValidityText(const SMSMessage& message);

// The message an outbox row holds, for sending: "sms", "push" or "ussd"
// (compared exactly) with its id, destination, sender, texts (unescaped),
// type of number, flags, attempts, time, validity and (SMS) custom text;
// nullptr for any other type.
std::unique_ptr<SMSMessage> MessageFromOutboxRow(const Row& row);

// The message a sent or failed row holds (the reference of a sent row
// included), to report it to handlers again; nullptr for a row of another
// type or too short.
std::unique_ptr<SMSMessage> MessageFromSentRow(const Row& row);
std::unique_ptr<SMSMessage> MessageFromFailedRow(const Row& row);
// The received message an inbox row holds ("push" rows as push messages,
// any other type as an SMS); nullptr for a row too short.
std::unique_ptr<SMSMessage> MessageFromInboxRow(const Row& row);

inline constexpr int kSentCustomColumn = 13;
inline constexpr int kFailedCustomColumn = 12;

// Outbox columns the code reads.
inline constexpr int kOutboxToColumn = 2;
inline constexpr int kOutboxContentColumn = 5;
inline constexpr int kUniqueIdColumnOfRows = 9;

}  // namespace qm
