// Character-set conversion through iconv (glibc knows UTF-8, the Windows code
// pages and the ISO-8859 sets).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Converts `bytes` in `charset` to UTF-8. Bytes the charset does not define are
// replaced by U+FFFD. nullopt when the charset is unknown to iconv.
std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset);

// Converts UTF-8 to `charset`. Characters the charset cannot hold become '?'.
// nullopt when the charset is unknown to iconv.
std::optional<std::string> FromUtf8(std::string_view utf8, std::string_view charset);

// True when iconv can convert between `charset` and UTF-8.
bool IsKnownCharset(std::string_view charset);

// Normalises a declared character-set name to the name iconv knows, matching
// on letters and digits only and ignoring case ("Windows-1251", "win1251",
// "CP1251" all name the same set). Unknown names are returned unchanged.
std::string CanonicalCharsetName(std::string_view declared);

}  // namespace qm
