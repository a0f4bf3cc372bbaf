// The list of a bulk send ("qmctl send --file"): pure parsing, no I/O.
//
// One recipient per line: a number alone (the message text comes from
// --text), or a number and a text separated by the first comma, semicolon
// or TAB. The text is the rest of the line, so it may hold commas of its own;
// written in double quotes (CSV style, "" for a quote) it ends at the closing
// quote. Blank lines and lines starting with '#' are skipped, and so is a
// first line whose number has no digit (a header such as "number,text").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct Recipient {
  std::size_t line = 0;  // counted from 1
  std::string number;
  std::string text;
};

struct RecipientList {
  std::vector<Recipient> recipients;
  std::vector<std::string> errors;  // "line N: ...", one per bad line
};

// Every line is checked, so that one bad line stops the whole list before
// anything is sent. `defaultText` is the text of lines without one.
RecipientList ParseRecipientList(std::string_view content, const std::optional<std::string>& defaultText);

}  // namespace qm
