#include "storage/table_format.h"

#include <cstring>
#include <limits>

#include "storage/text_escape.h"

namespace qm {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view CleanField(std::string_view raw, bool dropBom) {
  if (dropBom && raw.starts_with(kBom)) raw.remove_prefix(kBom.size());
  while (!raw.empty() && IsBlank(raw.front())) raw.remove_prefix(1);
  while (!raw.empty() && IsBlank(raw.back())) raw.remove_suffix(1);
  if (raw == "\"") return raw;  // its two quotes would meet: left as it is
  if (!raw.empty() && raw.front() == '"') raw.remove_prefix(1);
  if (!raw.empty() && raw.back() == '"') raw.remove_suffix(1);
  return raw;
}

}  // namespace

std::size_t EndOfData(std::string_view chunk) {
  const void* nul = std::memchr(chunk.data(), '\0', chunk.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - chunk.data()) : chunk.size();
}

LineParse ParseTableLine(std::string_view line, std::string_view separator, std::size_t columns,
                         bool keyIsFirst, std::vector<std::string_view>& fields, std::size_t* present) {
  fields.clear();
  if (separator.empty()) separator = kDefaultSeparator;
  if (line.find('"') == std::string_view::npos) {
    // No quotes: no inside-quotes state, so split at every separator.
    std::size_t start = 0;
    for (;;) {
      const std::size_t hit =
          separator.size() == 1 ? line.find(separator.front(), start) : line.find(separator, start);
      if (fields.size() == columns) return LineParse::kSkipped;
      const std::size_t end = hit == std::string_view::npos ? line.size() : hit;
      fields.push_back(CleanField(line.substr(start, end - start), keyIsFirst && fields.empty()));
      if (hit == std::string_view::npos) break;
      start = hit + separator.size();
    }
    if (present) *present = fields.size();
    fields.resize(columns);
    return LineParse::kPlain;
  }
  const char first = separator.front();
  const std::size_t sepSize = separator.size();
  bool inside = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (i == 0 || line[i - 1] != '\\') inside = !inside;
    } else if (c == first && !inside && (sepSize == 1 || line.substr(i, sepSize) == separator)) {
      if (fields.size() == columns) return LineParse::kSkipped;
      fields.push_back(CleanField(line.substr(start, i - start), keyIsFirst && fields.empty()));
      i += sepSize - 1;
      start = i + 1;
    }
  }
  if (fields.size() == columns) return LineParse::kSkipped;
  fields.push_back(CleanField(line.substr(start), keyIsFirst && fields.empty()));
  if (present) *present = fields.size();
  fields.resize(columns);
  return LineParse::kQuoted;
}

FieldForm HowToWriteField(std::string_view field, std::string_view separator, bool firstInLine) {
  if (field.empty()) return FieldForm::kRaw;
  bool anyQuote = false;
  bool oddQuotes = false;
  bool separatorInside = false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c == '\r' || c == '\n' || c == '\0') return FieldForm::kEscaped;
    if (c == '"') {
      anyQuote = true;
      if (i == 0 || field[i - 1] != '\\') oddQuotes = !oddQuotes;
    } else if (!separator.empty() && c == separator.front() && field.substr(i, separator.size()) == separator) {
      separatorInside = true;
    }
  }
  const bool edgeBlank = IsBlank(field.front()) || IsBlank(field.back());
  const bool edgeQuote = field.front() == '"' || field.back() == '"';
  // At the start of a line a "#" would make it a comment, and a byte-order
  // mark would be dropped from a key.
  const bool lineStart = firstInLine && (field.front() == '#' || field.starts_with(kBom));
  if (!separatorInside && !edgeBlank && !edgeQuote && !oddQuotes && !lineStart) return FieldForm::kRaw;
  // Quotes around it read back exactly, unless it holds a quote itself or its
  // last backslash would keep the closing quote from closing.
  if (!anyQuote && field.back() != '\\') return FieldForm::kQuoted;
  return FieldForm::kEscaped;
}

void AppendTableLine(std::string& out, std::span<const std::string_view> fields,
                     std::string_view separator, bool check) {
  if (fields.size() == 1 && fields[0].empty()) {
    out.append("\"\"\r\n");  // an empty line would be skipped on reading
    return;
  }
  const auto quoted = [&](std::string_view text) {
    out.push_back('"');
    out.append(text);
    out.push_back('"');
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out.append(separator);
    switch (check ? HowToWriteField(fields[i], separator, i == 0) : FieldForm::kRaw) {
      case FieldForm::kRaw:
        out.append(fields[i]);
        break;
      case FieldForm::kQuoted:
        quoted(fields[i]);
        break;
      case FieldForm::kEscaped: {
        // The escaped text is plain, but may still start the line with "#" or
        // a byte-order mark: a blank (not the separator) before it keeps the
        // line a row and the mark in place, and reading trims it.
        const std::string escaped = EscapeFieldText(fields[i], separator);
        if (i == 0 && (escaped.starts_with('#') || escaped.starts_with(kBom))) {
          out.push_back(separator == " " ? '\t' : ' ');
        }
        out.append(escaped);
        break;
      }
    }
  }
  out.append("\r\n");
}

uint32_t ReadHexId(std::string_view key) {
  std::size_t i = 0;
  while (i < key.size() && (key[i] == ' ' || (key[i] >= '\t' && key[i] <= '\r'))) ++i;
  if (i + 2 < key.size() && key[i] == '0' && (key[i + 1] == 'x' || key[i + 1] == 'X')) i += 2;
  uint64_t value = 0;
  for (; i < key.size(); ++i) {
    const char c = key[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
  }
  return static_cast<uint32_t>(value);
}

int64_t ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  if (negative) return value == kLimit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(value);
  return value >= kLimit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(value);
}

}  // namespace qm
