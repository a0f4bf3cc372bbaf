// UTF-8 <-> UTF-16 conversion and code-point aware text helpers.
//
// Text inside the program is UTF-8 in std::string. UTF-16 appears only where a
// wire format counts 16-bit code units (UCS2 user data, USSD). Conversions are
// explicit codecs, independent of the process locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// Decodes UTF-8 into UTF-16. Invalid sequences (overlong forms, surrogates,
// values above U+10FFFF, truncated sequences) become U+FFFD; `ok` (when given)
// is set to false if any was found.
std::u16string Utf8ToUtf16(std::string_view utf8, bool* ok = nullptr);

// Encodes UTF-16 as UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Replaces every invalid sequence with U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

// Number of code points in well-formed UTF-8 (an invalid byte counts as one).
std::size_t CountCodePoints(std::string_view utf8);

// The first `count` code points; never cuts a multi-byte sequence.
std::string TruncateCodePoints(std::string_view utf8, std::size_t count);

// Octets 0..255 <-> Latin-1 characters (U+0000..U+00FF) encoded as UTF-8.
// This is the byte <-> character mapping for 8-bit message data: every octet
// round-trips. A character above U+00FF maps to '?'.
std::string BytesToLatin1Utf8(std::string_view bytes);
std::string Latin1Utf8ToBytes(std::string_view utf8);

// The text without leading and trailing blanks (space, TAB, CR, LF).
std::string_view TrimBlanks(std::string_view text);

// ASCII-only case folding and comparison (locale independent).
char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// Case-insensitive (Unicode simple folding for the common scripts: Latin-1,
// Latin Extended-A, Greek, Cyrillic) substring and equality tests on UTF-8.
std::string FoldCase(std::string_view utf8);
// FoldCase appended to `out` (no allocation once `out` has the capacity).
void AppendFoldedCase(std::string_view utf8, std::string& out);
bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle);
bool EqualsIgnoreCaseUtf8(std::string_view a, std::string_view b);

}  // namespace qm
