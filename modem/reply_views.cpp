#include "modem/reply_views.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/utf.h"

namespace qm {
namespace {

std::string WithoutLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

// Splits "name: value" into its parts; false when there is no value.
bool SplitNameValue(std::string_view text, std::string* name, std::string* value) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon + 1 == text.size()) return false;
  *name = std::string(text.substr(0, colon));
  *value = std::string(TrimBlanks(text.substr(colon + 1)));
  return true;
}

// The values of one "(...)" group: numbers and ranges "a-b", kept within 0..255.
std::bitset<256> ParseGroup(std::string_view group) {
  std::bitset<256> set;
  if (group.size() < 3) return set;
  group = group.substr(1, group.size() - 2);
  std::size_t start = 0;
  while (start <= group.size()) {
    std::size_t end = group.find(',', start);
    if (end == std::string_view::npos) end = group.size();
    const std::string_view item = group.substr(start, end - start);
    const std::size_t dash = item.find('-');
    if (dash == std::string_view::npos) {
      const int n = ReadReplyNumber(item);
      if (n >= 0 && n <= 255) set.set(static_cast<std::size_t>(n));
    } else if (item.find('-', dash + 1) == std::string_view::npos) {
      const int a = ReadReplyNumber(item.substr(0, dash));
      const int b = ReadReplyNumber(item.substr(dash + 1));
      if (a <= b) {
        for (int v = std::max(a, 0); v <= std::min(b, 255); ++v) set.set(static_cast<std::size_t>(v));
      }
    }
    start = end + 1;
  }
  return set;
}

}  // namespace

int ReadReplyNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

StringReplyEvent::StringReplyEvent(const AsyncEvent& from) {
  kind = EventKind::kStringReply;
  code = from.code;
  bytes = from.bytes;
  std::string value;
  if (SplitNameValue(WithoutLineEnds(from.text), &name, &value)) {
    text = std::move(value);
  } else {
    parseFailed = true;
  }
}

ListReplyEvent::ListReplyEvent(const AsyncEvent& from) {
  kind = EventKind::kListReply;
  code = from.code;
  bytes = from.bytes;
  std::string name;
  std::string value;
  if (!SplitNameValue(WithoutLineEnds(from.text), &name, &value)) {
    parseFailed = true;
    return;
  }
  text = value;
  std::string compact;
  for (char c : value) {
    if (c != ' ') compact.push_back(c);
  }
  if (!compact.empty() && compact.find('(') == std::string::npos) {
    // The short form without parentheses ("+CSMS: 0"): one value, or a range,
    // per group.
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = compact.find(',', start);
      groups.push_back(ParseGroup("(" + compact.substr(start, comma - start) + ")"));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return;
  }
  if (compact.size() < 2) {
    parseFailed = true;
    return;
  }
  // Groups are separated by "),(": the ")" stays left, the "(" goes right.
  std::size_t start = 0;
  for (;;) {
    const std::size_t sep = compact.find("),(", start);
    if (sep == std::string::npos) {
      groups.push_back(ParseGroup(std::string_view(compact).substr(start)));
      break;
    }
    groups.push_back(ParseGroup(std::string_view(compact).substr(start, sep + 1 - start)));
    start = sep + 2;
  }
}

bool ListReplyEvent::Contains(int value, std::size_t group) const {
  return group < groups.size() && value >= 0 && value < 256 && groups[group].test(static_cast<std::size_t>(value));
}

std::vector<std::string> SplitReplyItems(std::string_view value) {
  std::vector<std::string> items;
  std::string current;
  bool quoted = false;
  const auto finish = [&] {
    std::string_view item = TrimBlanks(current);
    if (item.size() >= 2 && item.front() == '"' && item.back() == '"') item = item.substr(1, item.size() - 2);
    items.emplace_back(item);
    current.clear();
  };
  for (char c : value) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      finish();
    } else {
      current.push_back(c);
    }
  }
  finish();
  return items;
}

}  // namespace qm
