#include "modem/modem_error_event.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

#include "modem/cme_error_texts.h"
#include "modem/cms_error_texts.h"
#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::size_t kLeadInLength = 12;  // "+CME ERROR: "

// The C-library rule: blanks, an optional sign, decimal digits; nothing when
// there is no digit. Clamped to 32 bits.
std::optional<int> ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

std::string_view CmeErrorText(int code) { return LookUpErrorText(kCmeErrorTexts, code); }
std::string_view CmsErrorText(int code) { return LookUpErrorText(kCmsErrorTexts, code); }

AsyncEvent MakeModemErrorEvent(std::string_view line) {
  AsyncEvent event;
  event.kind = EventKind::kFailure;
  event.bytes = std::string(line);
  // The lead-in is counted in characters, as the modem's text may not be ASCII.
  const std::u16string wide = Utf8ToUtf16(line);
  const std::string tail = wide.size() > kLeadInLength ? Utf16ToUtf8(wide.substr(kLeadInLength)) : std::string();
  const std::optional<int> number = ReadDecimal(tail);
  if (!number) {
    event.code = 100;
    event.text = tail;
    return event;
  }
  event.code = *number;
  const std::string_view text = StartsWithIgnoreCase(line, "+CMS") ? CmsErrorText(*number) : CmeErrorText(*number);
  event.text = text.empty() ? tail : std::string(text);
  return event;
}

}  // namespace qm
