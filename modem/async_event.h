// An event from the modem link: a reply line, an error, a time-out or a
// write completion, as routed to the transport's listener queues.
#pragma once

#include <string>

namespace qm {

enum AsyncEventKind : int {
  kEventWriteDone = 1,
  kEventOk = 2,
  kEventPrompt = 3,
  kEventError = 4,  // ERROR or reply time-out
  kEventIncomingMessage = 5,
  kEventIncomingIndex = 6,
  kEventInfo = 7,
  kEventFailure = 9,  // +CME/+CMS error or a port failure
  kEventStringReply = 10,
  kEventListReply = 11,
  kEventStatusReport = 12,
  kEventStatusReportIndex = 13,
  kEventAbort = 14,
};

struct AsyncEvent {
  int kind = 0;
  int code = 0;
  std::string text;   // the line as UTF-8 text
  std::string bytes;  // the raw bytes of the line
};

}  // namespace qm
