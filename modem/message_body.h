// What follows a message header ("+CMT:", "+CBM:", "+CDS:", "+CMGR:",
// "+CMGL:") in the modem's output. Pure.
//
// In PDU mode the body is one line of hex, unless the header says it is
// empty. In text mode it is the message text, which may hold line breaks:
// with the full header (AT+CSDH=1) its length says how many characters come;
// without it, a read or listed message ends at the command's final result or
// at the next header. Text-mode status reports are complete in their header.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qm {

enum class BodyKind {
  kNone,         // the header is the whole message
  kOneLine,      // one line: a PDU, or a text whose length is not stated
  kUntilLength,  // text lines until `length` characters have come
  kUntilFinal,   // text lines until a final result or the next header
};

struct BodyExpectation {
  BodyKind kind = BodyKind::kNone;
  std::size_t length = 0;  // kUntilLength: characters, a line break counting one
};

// One comma-separated field after a header's colon: blanks trimmed, the
// enclosing double quotes removed (and noted). Commas inside quotes belong to
// their field.
struct HeaderField {
  std::string_view text;
  bool quoted = false;
};
std::vector<HeaderField> SplitHeaderFields(std::string_view line);

// True for the lines a body may follow.
bool IsMessageHeader(std::string_view line);

// What the header announces.
BodyExpectation ExpectedBody(std::string_view header);

}  // namespace qm
