// Filling a handler's template with a message's values: "_FROM_", "_TO_",
// "_INTERNALID_", "_ID_", "_CUSTOM_", "_TIMESTAMP_", "_DATE_", "_STATUS_",
// "_BODY_" and "_ERROR_". Pure functions.
//
// The template is read once, left to right; a value put in is never read
// again, so a message that contains a placeholder name stays as it is.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sms/message.h"

namespace qm {

// What the handler is told happened to the message.
enum class HandlerStatus : int {
  kNone = 0,  // a received message: "_STATUS_" stays as written
  kSent = 1,
  kFailed = 2,
  kDelivered = 3,
  kUndelivered = 4,
};

// "sent", "failed", "delivered", "undelivered"; "" for kNone.
std::string_view StatusWord(HandlerStatus status);

// The values of one event, before any encoding.
struct HandlerValues {
  std::string from;
  std::string to;
  std::string internalId;  // the message's id, unsigned decimal
  std::string id;          // the network's reference, unsigned decimal
  std::string custom;
  std::string timestamp;   // seconds since 1970, unsigned decimal
  std::string date;        // local time when the handler runs, "%Y-%m-%d %H:%M:%S"
  std::string status;      // the status word; empty: "_STATUS_" is left alone
  std::string body;
};
HandlerValues ValuesOf(const SMSMessage& message, HandlerStatus status, std::time_t now);

// A command line for /bin/sh. Each placeholder becomes a reference to an
// environment variable (QM_FROM, QM_BODY, ...), quoted for where it stands
// in the template (outside quotes, in double quotes, in single quotes), so
// the shell never parses a value: not as syntax, not as words, not as a
// pattern. The values travel in `environment`.
struct ShellTemplate {
  std::string script;
  std::vector<std::pair<std::string, std::string>> environment;
};
ShellTemplate FillShellTemplate(std::string_view command, const HandlerValues& values);

// The text of "_BODY_" and "_ERROR_" for a command: CR as "%0d", LF as
// "%0a", and "'" doubled (for scripts that put it into SQL quotes).
std::string CommandBodyText(std::string_view body);

// A URL: sender, recipient and text URL-encoded (the text's line breaks as
// "%0d"/"%0a" first), the numbers as they are, custom text and date as they
// are; then every byte that may not stand in a URL (controls, space, DEL,
// non-ASCII) percent-encoded, so that no value can split the request.
std::string FillUrlTemplate(std::string_view url, const HandlerValues& values);

// Letters, digits and $-.!*'(), stay; a space becomes "+"; every other byte
// "%xx" in lower case.
std::string UrlEncode(std::string_view text);

// Every byte <= 0x20, 0x7F or >= 0x80 as "%XX"; the rest unchanged.
std::string EncodeUnsafeUrlBytes(std::string_view url);

}  // namespace qm
