#include "sms/gsm_alphabet.h"

#include <array>
#include <cstdint>

#include "platform/utf.h"

namespace qm {
namespace {

// The default alphabet, septet -> code point. 0x1B is the escape, handled
// apart; its slot is never read.
constexpr std::array<char16_t, 128> kDefaultAlphabet = {
    u'@',    u'\u00A3', u'$',     u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',  // 0x00
    u'\u00F2', u'\u00C7', u'\n',  u'\u00D8', u'\u00F8', u'\r',    u'\u00C5', u'\u00E5',  // 0x08
    u'\u0394', u'_',    u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',  // 0x10
    u'\u03A3', u'\u0398', u'\u039E', u' ',    u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',  // 0x18
    u' ',    u'!',    u'"',    u'#',    u'\u00A4', u'%',    u'&',    u'\'',                // 0x20
    u'(',    u')',    u'*',    u'+',    u',',    u'-',    u'.',    u'/',                   // 0x28
    u'0',    u'1',    u'2',    u'3',    u'4',    u'5',    u'6',    u'7',                   // 0x30
    u'8',    u'9',    u':',    u';',    u'<',    u'=',    u'>',    u'?',                   // 0x38
    u'\u00A1', u'A',  u'B',    u'C',    u'D',    u'E',    u'F',    u'G',                   // 0x40
    u'H',    u'I',    u'J',    u'K',    u'L',    u'M',    u'N',    u'O',                   // 0x48
    u'P',    u'Q',    u'R',    u'S',    u'T',    u'U',    u'V',    u'W',                   // 0x50
    u'X',    u'Y',    u'Z',    u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',      // 0x58
    u'\u00BF', u'a',  u'b',    u'c',    u'd',    u'e',    u'f',    u'g',                   // 0x60
    u'h',    u'i',    u'j',    u'k',    u'l',    u'm',    u'n',    u'o',                   // 0x68
    u'p',    u'q',    u'r',    u's',    u't',    u'u',    u'v',    u'w',                   // 0x70
    u'x',    u'y',    u'z',    u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',      // 0x78
};

// The characters reached through the escape septet (single-shift table),
// shared by sending and reception, so that a form feed sent comes back as one.
struct Extension {
  uint8_t septet;
  char16_t character;
};
constexpr std::array<Extension, 10> kExtension = {{
    {0x0A, u'\f'}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['}, {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, u'\u20AC'},
}};


// ASCII character -> escaped septet, 0 when the character is not escaped.
constexpr std::array<uint8_t, 128> MakeEscapedTable() {
  std::array<uint8_t, 128> table{};
  for (const Extension& e : kExtension) {
    if (e.character < 128) table[e.character] = e.septet;
  }
  return table;
}
constexpr std::array<uint8_t, 128> kEscapedSeptet = MakeEscapedTable();

}  // namespace

std::string ToGsmSeptets(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 128) {
      out.push_back('?');
    } else if (c == '@') {
      out.push_back(0x00);
    } else if (c == '$') {
      out.push_back(0x02);
    } else if (c == '_') {
      out.push_back(0x11);
    } else if (kEscapedSeptet[c] != 0) {
      out.push_back(kGsmEscape);
      out.push_back(static_cast<char>(kEscapedSeptet[c]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string PackSeptetsWithFill(std::string_view septets, int fillBits) {
  std::string out;
  if (septets.empty()) return out;
  out.reserve((septets.size() * 7 + static_cast<std::size_t>(fillBits) + 7) / 8);
  uint32_t acc = 0;
  int bits = fillBits;
  for (char s : septets) {
    acc |= (static_cast<uint32_t>(static_cast<unsigned char>(s)) & 0x7F) << bits;
    bits += 7;
    while (bits >= 8) {
      out.push_back(static_cast<char>(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(static_cast<char>(acc & 0xFF));
  return out;
}

std::string PackSeptets(std::string_view septets) { return PackSeptetsWithFill(septets, 0); }

std::string PackSeptetsAfterHeader(std::string_view septets) { return PackSeptetsWithFill(septets, 1); }

std::string UnpackSeptets(std::string_view octets, int fillBits, std::size_t maxCount) {
  const std::size_t totalBits = octets.size() * 8;
  const std::size_t fill = static_cast<std::size_t>(fillBits);
  std::size_t count = totalBits > fill ? (totalBits - fill) / 7 : 0;
  if (count > maxCount) count = maxCount;
  std::string out(count, '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(octets.data());
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t bit = fill + 7 * i;
    const std::size_t index = bit / 8;
    const unsigned shift = bit % 8;
    uint32_t value = in[index] >> shift;
    if (shift > 1 && index + 1 < octets.size()) value |= static_cast<uint32_t>(in[index + 1]) << (8 - shift);
    out[i] = static_cast<char>(value & 0x7F);
  }
  return out;
}

std::string GsmSeptetsToUtf8(std::string_view septets) {
  std::string out;
  out.reserve(septets.size() + 8);
  for (std::size_t i = 0; i < septets.size(); ++i) {
    const auto s = static_cast<uint8_t>(septets[i] & 0x7F);
    if (s != static_cast<uint8_t>(kGsmEscape)) {
      const char16_t c = kDefaultAlphabet[s];
      if (c < 0x80) {
        out.push_back(static_cast<char>(c));
      } else {
        AppendUtf8(out, c);
      }
      continue;
    }
    if (i + 1 >= septets.size()) break;  // a lone escape at the end yields nothing
    const auto next = static_cast<uint8_t>(septets[++i] & 0x7F);
    for (const Extension& e : kExtension) {
      if (e.septet == next) {
        AppendUtf8(out, e.character);
        break;
      }
    }
  }
  return out;
}

}  // namespace qm
