#include "sms/pdu_address.h"

#include "sms/gsm_alphabet.h"

namespace qm {
namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

std::string NormaliseNumber(std::string_view text, int typeOfNumber) {
  if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) text = text.substr(0, slash);
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
  } else if (typeOfNumber == 1 && CountAddressCharacters(text) > 3) {
    if (text.starts_with("00") && text[2] != '0') {
      text.remove_prefix(2);
    } else if (text.starts_with("010")) {
      text.remove_prefix(3);
    }
  }
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '(' || c == ')' || c == '-' || c == '/' || c == ' ') continue;
    out.push_back(c);
  }
  return out;
}

std::size_t CountAddressCharacters(std::string_view digits) {
  std::size_t count = 0;
  for (char c : digits) {
    if (!IsContinuationByte(c)) ++count;
  }
  return count;
}

std::string EncodeAddress(std::string_view digits, int typeOfNumber) {
  const std::size_t count = CountAddressCharacters(digits);
  std::string out;
  out.reserve(2 + (count + 1) / 2);
  out.push_back(static_cast<char>(count & 0xFF));
  out.push_back(static_cast<char>(0x81 | ((typeOfNumber & 0x07) << 4)));
  int pending = -1;
  for (char c : digits) {
    if (IsContinuationByte(c)) continue;
    const int value = static_cast<unsigned char>(c) < 0x80 ? HexValue(c) : 0;
    if (pending < 0) {
      pending = value;
    } else {
      out.push_back(static_cast<char>(pending | (value << 4)));
      pending = -1;
    }
  }
  if (pending >= 0) out.push_back(static_cast<char>(pending | 0xF0));
  return out;
}

bool ReadAddress(PduReader& reader, std::string& out, const char* field) {
  out.clear();
  uint8_t length = 0;
  uint8_t toa = 0;
  if (!reader.Octet(length, field)) return false;
  if (!reader.Octet(toa, field)) return false;
  std::string_view value;
  if (!reader.Take((static_cast<std::size_t>(length) + 1) / 2, value, field)) return false;
  if ((toa & 0xF0) == 0xD0) {
    // Alphanumeric: the length counts the semi-octets used, so the septets
    // are length * 4 / 7; the padding bits of the last octet are not a
    // character.
    out = GsmSeptetsToUtf8(UnpackSeptets(value, 0, static_cast<std::size_t>(length) * 4 / 7));
    return true;
  }
  out.reserve(value.size() * 2);
  for (char c : value) {
    const auto octet = static_cast<unsigned char>(c);
    const int low = octet & 0x0F;
    const int high = octet >> 4;
    if (low < 10) out.push_back(static_cast<char>('0' + low));
    if (high < 10) out.push_back(static_cast<char>('0' + high));
  }
  return true;
}

}  // namespace qm
