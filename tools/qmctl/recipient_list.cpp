#include "tools/qmctl/recipient_list.h"

#include <algorithm>
#include <utility>

#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::string_view kSeparators = ",;\t";

bool IsNumberChar(char c) { return (c >= '0' && c <= '9') || c == '+' || c == ' ' || c == '-' || c == '(' || c == ')'; }

// The text field: the rest of the line, or a quoted field that must end it.
std::optional<std::string> TextField(std::string_view rest, std::string& error) {
  rest = TrimBlanks(rest);
  if (!rest.starts_with('"')) return std::string(rest);
  std::string text;
  for (std::size_t i = 1; i < rest.size(); ++i) {
    if (rest[i] != '"') {
      text.push_back(rest[i]);
    } else if (i + 1 < rest.size() && rest[i + 1] == '"') {
      text.push_back('"');
      ++i;
    } else if (TrimBlanks(rest.substr(i + 1)).empty()) {
      return text;
    } else {
      error = "text after the closing quote";
      return std::nullopt;
    }
  }
  error = "the quoted text does not end";
  return std::nullopt;
}

}  // namespace

RecipientList ParseRecipientList(std::string_view content, const std::optional<std::string>& defaultText) {
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);  // a byte-order mark
  RecipientList list;
  bool firstLine = true;
  std::size_t lineNumber = 0;
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    ++lineNumber;
    line = TrimBlanks(line);
    if (line.empty() || line.starts_with('#')) continue;
    const bool header = std::exchange(firstLine, false);

    const std::size_t cut = line.find_first_of(kSeparators);
    const std::string_view number = TrimBlanks(line.substr(0, cut));
    const bool hasDigit = std::any_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (header && !hasDigit) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (!hasDigit || !std::all_of(number.begin(), number.end(), IsNumberChar)) {
      list.errors.push_back(where + "'" + SanitizeUtf8(number) + "' is not a phone number");
      continue;
    }
    std::string error;
    std::optional<std::string> text =
        cut == std::string_view::npos ? std::string() : TextField(line.substr(cut + 1), error);
    if (!text) {
      list.errors.push_back(where + error);
      continue;
    }
    if (text->empty()) {
      if (!defaultText) {
        list.errors.push_back(where + "no text (give --text, or a text after the number)");
        continue;
      }
      *text = *defaultText;
    }
    if (!IsValidUtf8(*text)) {
      list.errors.push_back(where + "the text is not UTF-8");
      continue;
    }
    list.recipients.push_back({lineNumber, std::string(number), std::move(*text)});
  }
  return list;
}

}  // namespace qm
