// Whether two addresses name the same subscriber, as when a delivery report
// names the recipient in another format than the one the message was sent to
// ("+27829200000", "27829200000", "0829200000").
//
// Each address is cut at the first "/" (what follows is a comment) and
// trimmed. An address holding a letter (or any non-ASCII byte) is
// alphanumeric and matches only the same text, ignoring letter case. Of a
// number only the digits count; a leading "+" or "00" marks it international,
// a single leading "0" national, and those prefixes are dropped. Two numbers
// in the same marked format must be equal; otherwise they match when equal or
// when the shorter, of at least 6 digits, ends the longer (the longer one
// then carries the country code the other leaves out).
//
// Pure function; any thread.
#pragma once

#include <string_view>

namespace qm {

bool SameSubscriber(std::string_view a, std::string_view b);

}  // namespace qm
