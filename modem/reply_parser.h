// Line assembly and classification of everything the modem says. Pure: bytes
// in, routed events out; no I/O, no clock, no globals.
//
// Lines end at CR or LF (empty lines are dropped). A '>' that is the first
// non-blank byte of a line ends that line at once, so the data prompt "> " is
// reported as soon as it arrives; a '>' anywhere else, or at the start of a
// message body, is ordinary text (a body "a > b" split across reads stays one
// line). An unfinished line waits for the next bytes. The result does not
// depend on how the bytes were split into reads.
//
// Threads: one parser belongs to one reader thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "modem/async_event.h"
#include "modem/listener_queue.h"
#include "modem/message_body.h"

namespace qm {

struct RoutedEvent {
  ListenerSlot slot = ListenerSlot::kInfo;
  AsyncEvent event;
  bool unsolicited = false;  // network or device news: for the log, not for a listener
};

// The message body being collected after a header.
struct BodyState {
  BodyExpectation expected;  // kNone: no body follows
  bool started = false;      // its first line has come
  std::string text;          // the lines so far, joined by "\n"
  std::string bytes;
  std::size_t characters = 0;
  // The line ends seen since the header's line ended, while no body line
  // has come: "\r\n\r\n" is an empty line, the body of an empty text.
  std::string endsAfterHeader;
};

// Consumes every complete line from the front of `buffer`, leaving only the
// unfinished tail, and returns the lines' events in order. The line after a
// message header ("+CMT:", "+CMGR:" ...) is its body whatever it starts with,
// and goes to the incoming slot; a text body of several lines comes as one
// event, its lines joined by "\n". Text is the line as valid UTF-8 (invalid
// sequences replaced), bytes the line as received.
std::vector<RoutedEvent> ParseReceiveBuffer(std::string& buffer, BodyState& body);

class ReplyParser {
 public:
  // The most unparsed bytes held. A line that grows to this size without an
  // end is discarded, and so is the rest of it up to its end, so a link that
  // delivers noise without line ends cannot stall the parser.
  static constexpr std::size_t kMaxPending = 65535;

  struct Output {
    std::vector<RoutedEvent> events;
    std::size_t discarded = 0;  // bytes dropped from over-long lines
    bool overflow = false;      // an over-long line began in this call
  };

  Output Feed(std::string_view bytes);

  // Drops the unfinished line and a body being collected (the port was closed).
  void DiscardPending();

  std::size_t Pending() const { return buffer_.size(); }
  bool BodyFollows() const { return body_.expected.kind != BodyKind::kNone; }

 private:
  std::string buffer_;
  BodyState body_;
  bool skipping_ = false;  // inside an over-long line
};

}  // namespace qm
