#include "modem/reply_parser.h"

#include "modem/line_classes.h"
#include "modem/modem_error_event.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Index one past the end of the last complete line, 0 when there is none.
std::size_t CompleteLength(std::string_view buffer) {
  std::size_t lineStart = 0;
  std::size_t end = 0;
  for (std::size_t i = buffer.size(); i > 0; --i) {
    if (IsLineEnd(buffer[i - 1])) {
      lineStart = i;
      end = i;
      break;
    }
  }
  // What follows may still hold prompts, each the first non-blank byte of
  // its line (and each ending that line).
  for (std::size_t i = lineStart;;) {
    while (i < buffer.size() && IsBlank(buffer[i])) ++i;
    if (i >= buffer.size() || buffer[i] != '>') return end;
    end = ++i;
  }
}

ListenerSlot SlotFor(const LineClass& c, bool bodyFollows) {
  switch (c.rule) {
    case SlotRule::kBodyOrError:
      return bodyFollows ? ListenerSlot::kIncoming : ListenerSlot::kErrors;
    case SlotRule::kBodyOrInfo:
      return bodyFollows ? ListenerSlot::kIncoming : ListenerSlot::kInfo;
    case SlotRule::kFixed:
      break;
  }
  return c.slot;
}

const LineClass& ClassOf(std::string_view line) {
  for (const LineClass& c : kLineClasses) {
    if (StartsWithIgnoreCase(line, c.prefix)) return c;
  }
  return kLineClasses[std::size(kLineClasses) - 1];
}

bool IsBodyHeader(std::string_view line) {
  for (std::string_view header : kBodyHeaders) {
    if (StartsWithIgnoreCase(line, header)) return true;
  }
  return false;
}

}  // namespace

RoutedEvent ClassifyLine(std::string_view line, bool& bodyFollows) {
  const LineClass& c = ClassOf(line);
  RoutedEvent routed;
  routed.slot = SlotFor(c, bodyFollows);
  if (c.modemError) {
    routed.event = MakeModemErrorEvent(line);
    routed.event.text = SanitizeUtf8(routed.event.text);
  } else {
    routed.event.kind = c.kind;
    routed.event.code = c.code;
    routed.event.text = SanitizeUtf8(line);
    routed.event.bytes = std::string(line);
  }
  if (!c.finalResult) bodyFollows = IsBodyHeader(line);
  return routed;
}

namespace {

// Appends the events of every complete line at the front of `buffer` to `events`.
void ParseInto(std::string& buffer, bool& bodyFollows, std::vector<RoutedEvent>& events) {
  const std::size_t taken = CompleteLength(buffer);
  if (taken == 0) return;
  const std::string_view block(buffer.data(), taken);
  std::size_t start = 0;
  bool blanksOnly = true;  // nothing but blanks since the line began
  for (std::size_t i = 0; i < block.size(); ++i) {
    const char c = block[i];
    if (IsLineEnd(c) || (c == '>' && blanksOnly)) {
      const std::size_t end = IsLineEnd(c) ? i : i + 1;
      if (end > start) events.push_back(ClassifyLine(block.substr(start, end - start), bodyFollows));
      start = i + 1;
      blanksOnly = true;
    } else if (!IsBlank(c)) {
      blanksOnly = false;
    }
  }
  buffer.erase(0, taken);
}

}  // namespace

std::vector<RoutedEvent> ParseReceiveBuffer(std::string& buffer, bool& bodyFollows) {
  std::vector<RoutedEvent> events;
  ParseInto(buffer, bodyFollows, events);
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
    if (chunk.find_first_of("\r\n>") != std::string_view::npos) ParseInto(buffer_, bodyFollows_, out.events);
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
  skipping_ = false;
}

}  // namespace qm
