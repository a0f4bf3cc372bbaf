#include "gateway/ussd_codec.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "modem/reply_views.h"
#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_decoder.h"

namespace qm {
namespace {

constexpr int kModeAsReceived = 1;
constexpr int kModeTextUnicode = 2;
constexpr int kModeDigitsUnicode = 3;
constexpr int kModeDigitsAscii = 4;

constexpr char kCarriageReturn = 0x0D;
constexpr std::string_view kReplyPrefix = "+CUSD:";

// A quote would close the quoted request and let the rest run as more AT
// command text; a CR would end the command line.
bool HasUnsafeCharacter(std::string_view text) {
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool AllHex(std::u16string_view units) {
  if (units.empty()) return false;
  for (char16_t c : units) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

// `count` hex digits from `at`, high first; a non-hex character counts as 0.
unsigned ReadHex(std::u16string_view units, std::size_t at, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    value = (value << 4) | static_cast<unsigned>(std::max(HexValue(units[i]), 0));
  }
  return value;
}

std::string DigitsUnicode(std::u16string_view units) {
  std::u16string out;
  for (std::size_t i = 0; i + 4 <= units.size(); i += 4) out.push_back(static_cast<char16_t>(ReadHex(units, i, 4)));
  return Utf16ToUtf8(out);  // a lone surrogate becomes U+FFFD
}

std::string DigitsAscii(std::u16string_view units) {
  std::string bytes;
  for (std::size_t i = 0; i + 2 <= units.size(); i += 2) bytes.push_back(static_cast<char>(ReadHex(units, i, 2)));
  return BytesToLatin1Utf8(bytes);
}

// Also the reading of a UCS2 reply the modem passed on as raw octets: the low
// octet of each character written as two hex digits and read four digits to a
// unit comes to the same pairs.
std::string TextUnicode(std::u16string_view units) {
  std::u16string out;
  for (std::size_t i = 0; i + 2 <= units.size(); i += 2) {
    out.push_back(static_cast<char16_t>(((units[i] & 0xFF) << 8) | (units[i + 1] & 0xFF)));
  }
  return Utf16ToUtf8(out);
}

// Hex of packed GSM 7-bit septets. Octets in a multiple of seven hold one
// septet more than was sent when the sender had 8k - 1 septets; that one is
// the CR padding (see UssdRequestCommand).
std::string UnpackedGsm(std::u16string_view units) {
  const std::string octets = HexToBytes(std::string(units.begin(), units.end()));
  std::string septets = UnpackSeptets(octets, 0, octets.size() * 8 / 7);
  if (octets.size() % 7 == 0 && !septets.empty() && septets.back() == kCarriageReturn) septets.pop_back();
  return GsmSeptetsToUtf8(septets);
}

std::string DecodeAutomatic(std::string_view text, std::u16string_view units, int dcs, bool requestWasPacked) {
  const bool hex = AllHex(units);
  switch (dcs) {
    case 0x48:
    case 0x08:  // UCS2
      return hex && units.size() % 4 == 0 ? DigitsUnicode(units) : TextUnicode(units);
    case 0x11:  // UCS2 behind a language code: two septets packed in two octets
      return hex && units.size() >= 4 ? DigitsUnicode(units.substr(4)) : std::string(text);
    case 0x0F:
    case 0x00:
    case 0x01:  // GSM 7-bit: a number such as "1234" is text, not hex
      return requestWasPacked && hex && units.size() % 2 == 0 ? UnpackedGsm(units) : std::string(text);
    default:
      return hex && units.size() % 4 == 0 ? DigitsUnicode(units) : std::string(text);
  }
}

}  // namespace

std::optional<std::string> UssdRequestCommand(std::string_view text, bool hidden, UssdRequestCoding coding) {
  if (HasUnsafeCharacter(text)) return std::nullopt;
  bool valid = true;
  const std::u16string units = Utf8ToUtf16(text, &valid);
  std::string payload;
  switch (coding) {
    case UssdRequestCoding::kText:
      if (!valid) return std::nullopt;
      for (char16_t c : units) {
        if (c > 0xFF) return std::nullopt;
        payload.push_back(static_cast<char>(c));
      }
      break;
    case UssdRequestCoding::kPacked: {
      std::string septets;
      for (char16_t c : units) septets.push_back(static_cast<char>(c & 0x7F));
      // 8k - 1 septets (7, 15, 23, ...) leave 7 spare zero bits in the last
      // octet, which the receiver reads as a trailing "@"; a CR fills them and
      // is dropped there. For the same reason a wanted CR that ends exactly on
      // an octet boundary (8k septets) gets a second one after it.
      const std::size_t septetsInCycle = septets.size() % 8;  // 8 septets fill 7 octets
      if (septetsInCycle == 7 || (septetsInCycle == 0 && !septets.empty() && septets.back() == kCarriageReturn)) {
        septets.push_back(kCarriageReturn);
      }
      AppendHex(payload, PackSeptets(septets));
      break;
    }
    case UssdRequestCoding::kUcs2:
      for (char16_t c : units) {
        const char octets[2] = {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
        AppendHex(payload, std::string_view(octets, 2));
      }
      break;
  }
  return std::string("AT+CUSD=") + (hidden ? "0" : "1") + ",\"" + payload + "\",15\r\n";
}

std::optional<UssdReply> ParseUssdReply(std::string_view line) {
  line = TrimBlanks(line);
  if (!StartsWithIgnoreCase(line, kReplyPrefix)) return std::nullopt;
  std::vector<std::string> fields = SplitReplyItems(line.substr(kReplyPrefix.size()));
  if (fields.size() < 2 || fields[1].empty()) return std::nullopt;
  UssdReply reply;
  reply.result = ReadReplyNumber(fields[0]);
  reply.text = std::move(fields[1]);
  if (fields.size() >= 3 && !fields[2].empty()) reply.dcs = ReadReplyNumber(fields[2]);
  return reply;
}

std::string DecodeUssdReply(std::string_view text, int dcs, int mode, bool requestWasPacked) {
  const std::u16string units = Utf8ToUtf16(text);
  switch (mode) {
    case kModeAsReceived: return std::string(text);
    case kModeTextUnicode: return TextUnicode(units);
    case kModeDigitsUnicode: return DigitsUnicode(units);
    case kModeDigitsAscii: return DigitsAscii(units);
    default: return DecodeAutomatic(text, units, dcs, requestWasPacked);
  }
}

}  // namespace qm
