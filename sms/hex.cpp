#include "sms/hex.h"

#include "sms/pdu_decoder.h"

namespace qm {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void AppendHex(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size() * 2);
  char* p = out.data() + start;
  for (char b : bytes) {
    const auto v = static_cast<unsigned char>(b);
    *p++ = kDigits[v >> 4];
    *p++ = kDigits[v & 0x0F];
  }
}

std::string BytesToHex(std::string_view bytes) {
  std::string out;
  AppendHex(out, bytes);
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
    out[i] = static_cast<char>(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
  }
  return out;
}

}  // namespace qm
