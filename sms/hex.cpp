#include "sms/hex.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "sms/pdu_decoder.h"

namespace qm {
namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// Every received PDU passes through here: one table lookup per digit.
constexpr auto kDigitValues = [] {
  std::array<int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<int8_t>(10 + i);
    table['A' + i] = static_cast<int8_t>(10 + i);
  }
  return table;
}();

int HexDigit(char c) { return kDigitValues[static_cast<unsigned char>(c)]; }

}  // namespace

bool IsHexDigit(char c) { return HexDigit(c) >= 0; }

void AppendHex(std::string& out, std::string_view bytes, HexCase letters) {
  const char* digits = letters == HexCase::kUpper ? kUpperDigits : kLowerDigits;
  const std::size_t start = out.size();
  out.resize(start + bytes.size() * 2);
  char* p = out.data() + start;
  for (char b : bytes) {
    const auto v = static_cast<unsigned char>(b);
    *p++ = digits[v >> 4];
    *p++ = digits[v & 0x0F];
  }
}

std::string BytesToHex(std::string_view bytes, HexCase letters) {
  std::string out;
  AppendHex(out, bytes, letters);
  return out;
}

bool IsHexPdu(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text) {
    if (HexDigit(c) < 0) return false;
  }
  return true;
}

std::string HexToBytes(std::string_view hex) {
  std::string out(hex.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = HexDigit(hex[2 * i]);
    const int low = HexDigit(hex[2 * i + 1]);
    out[i] = static_cast<char>((std::max(high, 0) << 4) | std::max(low, 0));
  }
  return out;
}

}  // namespace qm
