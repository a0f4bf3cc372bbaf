// An event from the modem link: a reply line, an error, a time-out or a
// write completion, as routed to the transport's listener queues.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// The kinds keep their numbers: they appear in log lines.
enum class EventKind : int {
  kNone = 0,
  kWriteDone = 1,
  kOk = 2,
  kPrompt = 3,
  kError = 4,  // ERROR or reply time-out
  kIncomingMessage = 5,
  kIncomingIndex = 6,
  kInfo = 7,
  kFailure = 9,  // +CME/+CMS error or a port failure
  kStringReply = 10,
  kListReply = 11,
  kStatusReport = 12,
  kStatusReportIndex = 13,
  kAbort = 14,
  // The driver's own notes among the modem's lines, for the reader of the
  // incoming slot: the command just written and the command just finished
  // (text: the command; code: 1 on success), and a marker that
  // tells when everything before it has been read (text: its number).
  kCommandWritten = 15,
  kMarker = 16,
  kCommandDone = 17,
};

struct AsyncEvent {
  EventKind kind = EventKind::kNone;
  int code = 0;
  std::string text;   // the line as UTF-8 text
  std::string bytes;  // the raw bytes of the line
  uint64_t serial = 0;  // set by the transport: later events have larger numbers
  // The command a reply answers, as the sending worker posts it (empty for
  // lines no command asked for).
  std::string command = {};
};

}  // namespace qm
