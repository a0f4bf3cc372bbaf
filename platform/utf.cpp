#include "platform/utf.h"

namespace qm {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`; advances `pos`. Returns kReplacement and
// sets `bad` for an invalid sequence (consuming one byte).
char32_t DecodeOne(std::string_view s, std::size_t& pos, bool& bad) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    ++pos;
    bad = true;
    return kReplacement;
  }
  if (pos + static_cast<std::size_t>(len) > s.size()) {
    ++pos;
    bad = true;
    return kReplacement;
  }
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      bad = true;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    bad = true;
    return kReplacement;
  }
  pos += static_cast<std::size_t>(len);
  return cp;
}


// Simple case folding for the scripts SMS users write in most.
char32_t FoldCodePoint(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;  // Latin-1
  if (c >= 0x100 && c <= 0x17F) {                            // Latin Extended-A
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x14A || c < 0x138) return (c & 1) ? c : c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8, bool* ok) {
  std::u16string out;
  out.reserve(utf8.size());
  bool bad = false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeOne(utf8, pos, bad);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  if (ok) *ok = !bad;
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  bool bad = false;
  std::size_t pos = 0;
  while (pos < bytes.size() && !bad) DecodeOne(bytes, pos, bad);
  return !bad;
}

std::string SanitizeUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  bool bad = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) AppendUtf8(out, DecodeOne(bytes, pos, bad));
  return out;
}

std::size_t CountCodePoints(std::string_view utf8) {
  std::size_t count = 0;
  bool bad = false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    DecodeOne(utf8, pos, bad);
    ++count;
  }
  return count;
}

std::string TruncateCodePoints(std::string_view utf8, std::size_t count) {
  bool bad = false;
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < utf8.size(); ++n) DecodeOne(utf8, pos, bad);
  return std::string(utf8.substr(0, pos));
}

std::string BytesToLatin1Utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char b : bytes) AppendUtf8(out, static_cast<unsigned char>(b));
  return out;
}

std::string Latin1Utf8ToBytes(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  bool bad = false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeOne(utf8, pos, bad);
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string FoldCase(std::string_view utf8) {
  std::string out;
  AppendFoldedCase(utf8, out);
  return out;
}

void AppendFoldedCase(std::string_view utf8, std::string& out) {
  out.reserve(out.size() + utf8.size());
  bool bad = false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[pos]);
    if (b < 0x80) {  // fast path
      out.push_back(AsciiLower(static_cast<char>(b)));
      ++pos;
      continue;
    }
    AppendUtf8(out, FoldCodePoint(DecodeOne(utf8, pos, bad)));
  }
}

bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  return FoldCase(haystack).find(FoldCase(needle)) != std::string::npos;
}

bool EqualsIgnoreCaseUtf8(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace qm
