// Views that interpret an information line. Pure.
//
//   StringReplyEvent  "+CSQ: 31,0"            -> name "+CSQ", text "31,0"
//   ListReplyEvent    "+CNMI: (0-3),(0,2,3)"  -> groups {0,1,2,3}, {0,2,3}
//
// Both copy the code and bytes of the event they are built from. A view whose
// parse failed must be treated as an invalid reply. The views are values: they
// are never owned through an AsyncEvent pointer.
#pragma once

#include <bitset>
#include <cstddef>
#include <string>
#include <vector>

#include "modem/async_event.h"

namespace qm {

struct StringReplyEvent final : AsyncEvent {
  explicit StringReplyEvent(const AsyncEvent& from);

  std::string name;
  bool parseFailed = false;
};

struct ListReplyEvent final : AsyncEvent {
  explicit ListReplyEvent(const AsyncEvent& from);

  // True when group `group` exists and holds `value` (0..255).
  bool Contains(int value, std::size_t group) const;

  std::vector<std::bitset<256>> groups;
  bool parseFailed = false;
};

// A reply value split at commas outside double quotes; each item trimmed of
// blanks and of its enclosing quotes ("\"SM\",0,20" -> SM, 0, 20).
std::vector<std::string> SplitReplyItems(std::string_view value);

// The C-library decimal rule used for numbers in replies: blanks, an optional
// sign, digits up to the first other character; 0 when there is no digit.
int ReadReplyNumber(std::string_view text);

}  // namespace qm
