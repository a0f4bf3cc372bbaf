#include "tests/support/received_pdus.h"

#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_address.h"

namespace qm::test {
namespace {

// +491710760000
const std::string kSmsc = std::string("\x07\x91\x94\x71\x01\x67\x00\x00", 8);
// 2012-08-07 12:34:56, zone 0, as semi-octets.
const std::string kTime = std::string("\x21\x80\x70\x21\x43\x65\x00", 7);

std::string Address(std::string_view number) {
  const bool international = !number.empty() && number.front() == '+';
  return EncodeAddress(international ? number.substr(1) : number, international ? 1 : 0);
}

}  // namespace

std::string DeliverPdu(std::string_view from, std::string_view text, bool ucs2, std::optional<PartOf> part) {
  std::string header;
  if (part) {
    header = std::string("\x05\x00\x03", 3);
    header += static_cast<char>(part->reference);
    header += static_cast<char>(part->total);
    header += static_cast<char>(part->number);
  }
  std::string tpdu;
  tpdu += static_cast<char>(part ? 0x44 : 0x04);
  tpdu += Address(from);
  tpdu += '\0';                            // TP-PID
  tpdu += static_cast<char>(ucs2 ? 0x08 : 0x00);
  tpdu += kTime;
  if (ucs2) {
    std::string octets = header;
    for (char16_t unit : Utf8ToUtf16(text)) {
      octets += static_cast<char>(unit >> 8);
      octets += static_cast<char>(unit & 0xFF);
    }
    tpdu += static_cast<char>(octets.size());
    tpdu += octets;
  } else {
    const std::string septets = ToGsmSeptets(text);
    const int headerBits = header.empty() ? 0 : static_cast<int>(header.size()) * 8;
    const int fill = header.empty() ? 0 : (7 - headerBits % 7) % 7;
    tpdu += static_cast<char>((headerBits + fill) / 7 + static_cast<int>(septets.size()));
    tpdu += header + PackSeptetsWithFill(septets, fill);
  }
  return BytesToHex(kSmsc + tpdu);
}

std::string StatusReportPdu(int reference, std::string_view recipient, int status, bool withSmsc) {
  std::string tpdu;
  tpdu += '\x06';
  tpdu += static_cast<char>(reference);
  tpdu += Address(recipient);
  tpdu += kTime;  // when the centre took the message
  tpdu += kTime;  // when it was delivered
  tpdu += static_cast<char>(status);
  return BytesToHex(withSmsc ? kSmsc + tpdu : tpdu);
}

int TpduLength(std::string_view hexPdu) {
  if (hexPdu.size() < 2) return 0;
  const int smscOctets = std::stoi(std::string(hexPdu.substr(0, 2)), nullptr, 16);
  return static_cast<int>(hexPdu.size() / 2) - 1 - smscOctets;
}

}  // namespace qm::test
