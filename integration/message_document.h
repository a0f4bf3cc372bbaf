// The XML message document that every source delivers: messages to send,
// USSD requests, and requests to report earlier messages to the handlers
// again.
//
//   <?xml version="1.0" encoding="windows-1251"?>
//   <messages>
//     <message msisdn="+4917011111" flash="1" report="1" custom="order 5">text</message>
//     <message msisdn="+4917011111" url="http://wap.example/x">push text</message>
//     <ussd>*100#</ussd>
//     <handle custom="order 5"/>
//     <handle_received timestamp="1700000000"/>
//   </messages>
//
// A document with neither "<?xml" nor "<messages>" is a fragment and is
// wrapped in <messages>. The encoding is taken from a double-quoted
// "encoding" value of the declaration (names compared on letters and digits
// only, case ignored); none, or an unknown one, means UTF-8. Parsing never
// touches the network or the file system and refuses runaway entity
// expansion.
//
// Pure: no I/O, no logging; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sms/message.h"

namespace qm {

enum class ReplayKind {
  kHandle,          // <handle custom="...">: the newest sent (else failed) row with that custom text
  kHandleReceived,  // <handle_received timestamp="...">: inbox rows newer than the time stamp
};

struct ReplayRequest {
  ReplayKind kind = ReplayKind::kHandle;
  std::string custom;      // kHandle; never empty
  uint64_t timestamp = 0;  // kHandleReceived
};

enum class DocumentStatus {
  kParsed,             // the items and replays below (possibly none)
  kNotParsed,          // log "Failed to parse file %s!" with the document name
  kParserUnavailable,  // log "Failed to initialize XML functions!"
};

struct MessageDocument {
  DocumentStatus status = DocumentStatus::kParsed;
  // SMSMessage, PushMessage and USSDRequest objects in document order.
  std::vector<std::unique_ptr<SMSMessage>> items;
  std::vector<ReplayRequest> replays;  // in document order
};

// `name` is what the document is called in logs and by the parser (a file
// path, URL or temporary file name).
MessageDocument ParseMessageDocument(std::string_view name, std::string_view bytes);

}  // namespace qm
