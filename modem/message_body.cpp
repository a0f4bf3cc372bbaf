#include "modem/message_body.h"

#include <string>
#include <vector>

#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::string_view kHeaders[] = {"+CMT:", "+CBM:", "+CDS:", "+CMGR:", "+CMGL:"};

// Texts longer than a few messages are not bodies: a damaged length must not
// swallow the replies that follow.
constexpr std::size_t kLongestText = 1600;

bool IsNumber(std::string_view field) {
  if (field.empty()) return false;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::size_t Number(std::string_view field) {
  std::size_t value = 0;
  for (char c : field) value = value > kLongestText ? value : value * 10 + static_cast<std::size_t>(c - '0');
  return value;
}

// A PDU-mode header: its last field is the PDU's length, 0 for an empty
// location.
BodyExpectation PduBody(const std::vector<HeaderField>& fields) {
  if (!fields.empty() && fields.back().text == "0") return {};
  return {BodyKind::kOneLine, 0};
}

// A text-mode read or listing: the full header ends with the length.
BodyExpectation TextBody(const std::vector<HeaderField>& fields, std::size_t fullHeaderFields,
                         BodyKind withoutLength) {
  if (fields.size() >= fullHeaderFields && !fields.back().quoted && IsNumber(fields.back().text)) {
    const std::size_t length = Number(fields.back().text);
    if (length == 0) return {};  // an empty text: nothing follows
    if (length <= kLongestText) return {BodyKind::kUntilLength, length};
  }
  return {withoutLength, 0};
}

}  // namespace

std::vector<HeaderField> SplitHeaderFields(std::string_view line) {
  std::vector<HeaderField> fields;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return fields;
  const std::string_view rest = line.substr(colon + 1);
  bool inQuotes = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] == '"') inQuotes = !inQuotes;
    if (i < rest.size() && (rest[i] != ',' || inQuotes)) continue;
    HeaderField field{TrimBlanks(rest.substr(start, i - start))};
    if (field.text.size() >= 2 && field.text.front() == '"' && field.text.back() == '"') {
      field.quoted = true;
      field.text = TrimBlanks(field.text.substr(1, field.text.size() - 2));
    }
    fields.push_back(field);
    start = i + 1;
  }
  return fields;
}

bool IsMessageHeader(std::string_view line) {
  for (std::string_view header : kHeaders) {
    if (StartsWithIgnoreCase(line, header)) return true;
  }
  return false;
}

BodyExpectation ExpectedBody(std::string_view header) {
  const std::vector<HeaderField> fields = SplitHeaderFields(header);
  if (StartsWithIgnoreCase(header, "+CMT:")) {
    // PDU mode: [<alpha>],<length>; text mode: <oa>,[<alpha>],<scts>[,... ,<length>].
    if (fields.size() <= 2) return PduBody(fields);
    return TextBody(fields, 11, BodyKind::kOneLine);
  }
  if (StartsWithIgnoreCase(header, "+CBM:")) return {BodyKind::kOneLine, 0};
  if (StartsWithIgnoreCase(header, "+CDS:")) {
    // PDU mode: <length>; text mode: the whole report in the header.
    return fields.size() == 1 ? PduBody(fields) : BodyExpectation{};
  }
  if (StartsWithIgnoreCase(header, "+CMGR:")) {
    // <stat> is a number in PDU mode and quoted text in text mode, where a
    // status report has its <fo> where a message has its address.
    if (fields.empty()) return {};
    if (!fields[0].quoted) return PduBody(fields);
    if (fields.size() >= 2 && !fields[1].quoted && IsNumber(fields[1].text)) return {};
    return TextBody(fields, 11, BodyKind::kUntilFinal);
  }
  if (StartsWithIgnoreCase(header, "+CMGL:")) {
    // As "+CMGR:", one field later (the index comes first).
    if (fields.size() < 2) return {};
    if (!fields[1].quoted) return PduBody(fields);
    if (fields.size() >= 3 && !fields[2].quoted && IsNumber(fields[2].text)) return {};
    return TextBody(fields, 8, BodyKind::kUntilFinal);
  }
  return {};
}

}  // namespace qm
