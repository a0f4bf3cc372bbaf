// Escapes that keep free text inside one table field.
//
// Table files hold one row per line with fields joined by a separator, and the
// reader trims blanks and strips edge double quotes. Text that users write
// (message bodies, senders, custom values, URLs) can hold any of those
// characters, so the writers of message rows store it escaped:
//
//   CR -> "%0D"   LF -> "%0A"   TAB -> "%09"   NUL -> "%00"   '"' -> "%22"
//   the separator character -> "%" and the hex of each of its bytes ("%3B")
//   a blank as the first or last character -> "%20"
//   a "%" that would read as one of these escapes, or as "%25" -> "%25"
//   ("50%00" -> "50%2500"; "%41" stays)
//
// Every text reads back exactly as it was written; a "%" that cannot start an
// escape stays as it is, so most texts are stored unchanged, and files
// written by earlier versions (which escaped only CR and LF) read back as
// before. Decoding accepts both letter cases of the hex digits. Searches on
// an escaped column must escape their value the same way.
//
// The separator is the table's separator as UTF-8 (one character, never "%").
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kDefaultSeparator = "\t";

// Escapes free text for a field of a table with the given separator.
std::string EscapeFieldText(std::string_view text, std::string_view separator = kDefaultSeparator);

// Reverses EscapeFieldText (and the older CR/LF-only escape).
std::string UnescapeFieldText(std::string_view text, std::string_view separator = kDefaultSeparator);

}  // namespace qm
