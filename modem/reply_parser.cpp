#include "modem/reply_parser.h"

#include "modem/line_classes.h"
#include "modem/modem_error_event.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const LineClass& ClassOfLine(std::string_view line) {
  for (const LineClass& c : kLineClasses) {
    if (StartsWithIgnoreCase(line, c.prefix)) return c;
  }
  return kLineClasses[std::size(kLineClasses) - 1];
}

namespace {

RoutedEvent Classify(std::string_view line) {
  const LineClass& c = ClassOfLine(line);
  RoutedEvent routed;
  routed.slot = c.slot;
  routed.unsolicited = c.role == LineRole::kUnsolicited;
  if (c.role == LineRole::kModemError) {
    routed.event = MakeModemErrorEvent(line);
    routed.event.text = SanitizeUtf8(routed.event.text);
  } else {
    routed.event.kind = c.kind;
    routed.event.code = c.code;
    routed.event.text = SanitizeUtf8(line);
    routed.event.bytes = std::string(line);
  }
  return routed;
}

bool EndsABody(std::string_view line) {
  const LineRole role = ClassOfLine(line).role;
  return role == LineRole::kFinal || role == LineRole::kModemError || IsMessageHeader(line);
}

void EmitBody(BodyState& body, std::vector<RoutedEvent>& out) {
  RoutedEvent routed;
  routed.slot = ListenerSlot::kIncoming;
  routed.event.kind = EventKind::kInfo;
  routed.event.text = SanitizeUtf8(body.text);
  routed.event.bytes = std::move(body.bytes);
  out.push_back(std::move(routed));
  body = BodyState{};
}

void AddBodyLine(BodyState& body, std::string_view line) {
  if (body.started) {
    body.text += '\n';
    body.bytes += '\n';
    body.characters += 1;
  }
  body.text.append(line);
  body.bytes.append(line);
  body.characters += CountCodePoints(line);
  body.started = true;
}

bool BodyComplete(const BodyState& body) {
  switch (body.expected.kind) {
    case BodyKind::kNone:
    case BodyKind::kOneLine:
      return true;
    case BodyKind::kUntilLength:
      return body.characters >= body.expected.length;
    case BodyKind::kUntilFinal:
      return false;
  }
  return true;
}

// Classifies one line (without its line end) and appends what it gives.
void ClassifyInto(std::string_view line, BodyState& body, std::vector<RoutedEvent>& out) {
  if (body.expected.kind != BodyKind::kNone) {
    // The first line after the header is the body whatever it says ("OK,
    // see you", "> hi", "+1 for me"); a later one continues a text body
    // unless it ends the command or starts the next message.
    if (!body.started || !EndsABody(line)) {
      AddBodyLine(body, line);
      if (BodyComplete(body)) EmitBody(body, out);
      return;
    }
    EmitBody(body, out);
  }
  out.push_back(Classify(line));
  if (IsMessageHeader(line)) body.expected = ExpectedBody(line);
}

// Appends the events of every complete line at the front of `buffer` to
// `events` and leaves the unfinished tail. A '>' that begins a line is the
// data prompt and ends its line at once, except where a body is due: then it
// is the body's first character.
void ParseInto(std::string& buffer, BodyState& body, std::vector<RoutedEvent>& events) {
  const std::string_view block(buffer);
  std::size_t start = 0;
  bool blanksOnly = true;  // nothing but blanks since the line began
  for (std::size_t i = 0; i < block.size(); ++i) {
    const char c = block[i];
    const bool bodyDue = body.expected.kind != BodyKind::kNone && !body.started;
    if (IsLineEnd(c) || (c == '>' && blanksOnly && !bodyDue)) {
      const std::size_t end = IsLineEnd(c) ? i : i + 1;
      if (end > start) {
        ClassifyInto(block.substr(start, end - start), body, events);
        body.endsAfterHeader.clear();
        if (IsLineEnd(c) && body.expected.kind != BodyKind::kNone && !body.started) body.endsAfterHeader = c;
      } else if (bodyDue && !body.endsAfterHeader.empty()) {
        // Lines end in CR LF; a second pair right after the header's is an
        // empty line, which is the text of an empty message.
        body.endsAfterHeader += c;
        if (body.endsAfterHeader == "\r\n\r\n") {
          ClassifyInto({}, body, events);
          body.endsAfterHeader.clear();
        } else if (body.endsAfterHeader.size() >= 4) {
          body.endsAfterHeader.clear();
        }
      }
      start = i + 1;
      blanksOnly = true;
    } else if (!IsBlank(c)) {
      blanksOnly = false;
    }
  }
  buffer.erase(0, start);
}

}  // namespace

std::vector<RoutedEvent> ParseReceiveBuffer(std::string& buffer, BodyState& body) {
  std::vector<RoutedEvent> events;
  ParseInto(buffer, body, events);
  return events;
}

ReplyParser::Output ReplyParser::Feed(std::string_view bytes) {
  Output out;
  while (!bytes.empty()) {
    if (skipping_) {
      std::size_t end = 0;
      while (end < bytes.size() && !IsLineEnd(bytes[end])) ++end;
      out.discarded += end;
      bytes.remove_prefix(end);
      if (bytes.empty()) break;
      skipping_ = false;  // the line end itself starts a fresh (empty) line
    }
    const std::size_t room = kMaxPending - buffer_.size();
    const std::string_view chunk = bytes.substr(0, std::min(room, bytes.size()));
    buffer_.append(chunk);
    bytes.remove_prefix(chunk.size());
    // What is pending never holds a line end, so only new bytes can complete
    // a line; a long line arriving in small reads is not rescanned each time.
    if (chunk.find_first_of("\r\n>") != std::string_view::npos) ParseInto(buffer_, body_, out.events);
    if (buffer_.size() >= kMaxPending) {
      out.discarded += buffer_.size();
      out.overflow = true;
      buffer_.clear();
      skipping_ = true;
    }
  }
  return out;
}

void ReplyParser::DiscardPending() {
  buffer_.clear();
  body_ = BodyState{};
  skipping_ = false;
}

}  // namespace qm
