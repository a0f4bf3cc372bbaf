#include "storage/text_escape.h"

namespace qm {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, unsigned char byte) {
  out.push_back('%');
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 0x0F]);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte a "%XY" at `pos` stands for, or -1.
int EscapedByte(std::string_view text, std::size_t pos) {
  if (pos + 3 > text.size() || text[pos] != '%') return -1;
  const int hi = HexValue(text[pos + 1]);
  const int lo = HexValue(text[pos + 2]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

bool AlwaysEscaped(unsigned char byte) {
  return byte == '\r' || byte == '\n' || byte == '\t' || byte == '\0' || byte == '"';
}

// How many bytes of `text` at `pos` the reader takes as one escape (0: none),
// with what they stand for appended to `out` when given.
std::size_t DecodeAt(std::string_view text, std::size_t pos, std::string_view separator, std::string* out) {
  const int byte = EscapedByte(text, pos);
  if (byte < 0) return 0;
  if (AlwaysEscaped(static_cast<unsigned char>(byte)) || byte == ' ' || byte == '%') {
    if (out) out->push_back(static_cast<char>(byte));
    return 3;
  }
  // The separator: every one of its bytes escaped in turn.
  if (separator.empty()) return 0;
  for (std::size_t k = 0; k < separator.size(); ++k) {
    if (EscapedByte(text, pos + 3 * k) != static_cast<unsigned char>(separator[k])) return 0;
  }
  if (out) out->append(separator);
  return 3 * separator.size();
}

}  // namespace

std::string EscapeFieldText(std::string_view text, std::string_view separator) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    if (!separator.empty() && text.substr(i, separator.size()) == separator) {
      for (const char c : separator) AppendEscape(out, static_cast<unsigned char>(c));
      i += separator.size();
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool edgeBlank = byte == ' ' && (i == 0 || i + 1 == text.size());
    // A "%" that the reader would take as the start of an escape is escaped
    // itself; any other "%" stays as it is.
    const bool escapeLike = byte == '%' && DecodeAt(text, i, separator, nullptr) > 0;
    if (AlwaysEscaped(byte) || edgeBlank || escapeLike) {
      AppendEscape(out, byte);
    } else {
      out.push_back(text[i]);
    }
    ++i;
  }
  return out;
}

std::string UnescapeFieldText(std::string_view text, std::string_view separator) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t taken = DecodeAt(text, i, separator, &out);
    if (taken == 0) {
      out.push_back(text[i++]);
    } else {
      i += taken;
    }
  }
  return out;
}

}  // namespace qm
