// SMS-DELIVER, SMS-STATUS-REPORT and SMS-SUBMIT decoding (TS 23.040 9.2.2).
#include "sms/pdu_decoder.h"

#include <string>

#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/pdu_address.h"
#include "sms/pdu_inspect.h"
#include "sms/pdu_reader.h"
#include "sms/pdu_time.h"
#include "sms/user_data_header.h"

namespace qm {
namespace {

constexpr uint8_t kMtiDeliver = 0;
constexpr uint8_t kMtiSubmit = 1;
constexpr uint8_t kMtiStatusReport = 2;
constexpr uint8_t kUdhi = 0x40;

std::optional<DecodedPdu> Fail(PduDiagnostics* diagnostics, const PduReader& reader) {
  if (diagnostics) {
    diagnostics->failure = std::string("cannot read ") + (reader.failure() ? reader.failure() : "PDU");
  }
  return std::nullopt;
}

std::optional<DecodedPdu> Fail(PduDiagnostics* diagnostics, std::string why) {
  if (diagnostics) diagnostics->failure = std::move(why);
  return std::nullopt;
}

// The alphabet of a TP-DCS (TS 23.038 4): 0 GSM 7-bit, 4 8-bit, 8 UCS2, 12
// (reserved in the general group) read as UCS2. The message-waiting groups
// carry their alphabet in their group, not in bits 3..2.
int CodingFromDcs(uint8_t dcs) {
  if (dcs < 0x80) return dcs & 0x0C;
  if (dcs >= 0xC0 && dcs < 0xE0) return 0;
  if (dcs >= 0xE0 && dcs < 0xF0) return 8;
  if (dcs >= 0xF0) return dcs & 0x04;
  return 0;  // reserved groups: the default alphabet
}

// TP-UDL, the user-data header and the user data, which run to the end of the
// PDU. `pdu.coding` holds the coding of the DCS on entry.
bool ReadUserData(PduReader& reader, bool hasHeader, DecodedPdu& pdu, bool& exact) {
  uint8_t udl = 0;
  if (!reader.Octet(udl, "TP-UDL")) return false;
  int headerOctets = 0;  // UDHL and the header
  int udhl = 0;
  if (hasHeader) {
    uint8_t length = 0;
    std::string_view header;
    if (!reader.Octet(length, "TP-UDHL")) return false;
    if (!reader.Take(length, header, "TP-User-Data-Header")) return false;
    udhl = length;
    headerOctets = udhl + 1;
    const UserDataHeaderInfo info = ParseUserDataHeader(header);
    if (info.concatenated) {
      pdu.reference = info.reference;
      pdu.total = info.total;
      pdu.part = info.part;
    }
    if (info.ported) {
      pdu.ported = true;
      pdu.coding = 4;
    }
  }
  const std::string_view data = reader.Rest();
  int64_t expectedOctets = 0;
  if (pdu.coding == 0) {
    const int64_t count = hasHeader ? udl - HeaderSeptets(udhl) : udl;
    const std::size_t characters = count > 0 ? static_cast<std::size_t>(count) : 0;
    pdu.raw = UnpackSeptets(data, hasHeader ? SeptetFillBits(udhl) : 0, characters);
    expectedOctets = (static_cast<int64_t>(udl) * 7 + 7) / 8 - headerOctets;
  } else {
    expectedOctets = static_cast<int64_t>(udl) - headerOctets;
    std::size_t count = expectedOctets > 0 ? static_cast<std::size_t>(expectedOctets) : 0;
    if (count > data.size()) count = data.size();
    if (pdu.coding != 4) count -= count % 2;  // UCS2: whole units only
    pdu.raw = data.substr(0, count);
  }
  pdu.text = RawUnitsToText(pdu.coding, pdu.raw);
  exact = static_cast<int64_t>(data.size()) == expectedOctets;
  return true;
}

bool SkipSmscPart(PduReader& reader) {
  uint8_t length = 0;
  return reader.Octet(length, "SMSC length") && reader.Skip(length, "SMSC address");
}

// TP-PI and the optional fields it announces, behind TP-ST. True when they
// end exactly at the end of the PDU.
bool OptionalReportFieldsUseEveryOctet(PduReader& reader, bool hasHeader) {
  if (reader.AtEnd()) return true;
  uint8_t pi = 0;
  reader.Octet(pi, "TP-PI");
  for (uint8_t more = pi; more & 0x80;) {
    if (!reader.Octet(more, "TP-PI")) return false;
  }
  uint8_t dcs = 0;
  if ((pi & 0x01) && !reader.Skip(1, "TP-PID")) return false;
  if ((pi & 0x02) && !reader.Octet(dcs, "TP-DCS")) return false;
  if (pi & 0x04) {
    DecodedPdu ignored;
    ignored.coding = CodingFromDcs(dcs);
    bool exact = false;
    return ReadUserData(reader, hasHeader, ignored, exact) && exact;
  }
  return reader.AtEnd();
}

}  // namespace

std::string RawUnitsToText(int coding, std::string_view raw) {
  if (coding == 0) return GsmSeptetsToUtf8(raw);
  if (coding == 4) return BytesToLatin1Utf8(raw);
  std::u16string units(raw.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>((static_cast<unsigned char>(raw[2 * i]) << 8) |
                                     static_cast<unsigned char>(raw[2 * i + 1]));
  }
  return Utf16ToUtf8(units);
}

std::optional<DecodedPdu> DecodeStatusReportPdu(std::string_view pdu, bool noSmscPart, PduDiagnostics* diagnostics) {
  PduReader reader(pdu);
  if (!noSmscPart && !SkipSmscPart(reader)) return Fail(diagnostics, reader);
  uint8_t first = 0;
  if (!reader.Octet(first, "first octet")) return Fail(diagnostics, reader);
  if ((first & 0x03) != kMtiStatusReport) {
    return Fail(diagnostics, "TP-MTI " + std::to_string(first & 0x03) + " is not SMS-STATUS-REPORT");
  }
  DecodedPdu out;
  out.kind = kKindStatusReport;
  uint8_t mr = 0;
  uint8_t st = 0;
  int64_t scts = 0;
  int64_t dt = 0;
  if (!reader.Octet(mr, "TP-MR") || !ReadAddress(reader, out.from, "TP-RA") ||
      !ReadSemiOctetTime(reader, scts, "TP-SCTS") || !ReadSemiOctetTime(reader, dt, "TP-DT") ||
      !reader.Octet(st, "TP-ST")) {
    return Fail(diagnostics, reader);
  }
  out.messageReference = mr;
  out.time = ToMessageTime(scts);
  out.dischargeTime = ToMessageTime(dt);
  out.status = st;
  if (diagnostics) diagnostics->usedEveryOctet = OptionalReportFieldsUseEveryOctet(reader, first & kUdhi);
  return out;
}

std::optional<DecodedPdu> DecodeReceivedPdu(std::string_view pdu, PduDiagnostics* diagnostics) {
  PduReader reader(pdu);
  uint8_t first = 0;
  if (!SkipSmscPart(reader) || !reader.Octet(first, "first octet")) return Fail(diagnostics, reader);
  const uint8_t mti = first & 0x03;
  if (mti == kMtiStatusReport) return DecodeStatusReportPdu(pdu, false, diagnostics);
  if (mti != kMtiDeliver) return Fail(diagnostics, "TP-MTI " + std::to_string(mti) + " is not SMS-DELIVER");
  DecodedPdu out;
  uint8_t dcs = 0;
  int64_t scts = 0;
  if (!ReadAddress(reader, out.from, "TP-OA") || !reader.Skip(1, "TP-PID") || !reader.Octet(dcs, "TP-DCS") ||
      !ReadSemiOctetTime(reader, scts, "TP-SCTS")) {
    return Fail(diagnostics, reader);
  }
  out.time = ToMessageTime(scts);
  out.coding = CodingFromDcs(dcs);
  bool exact = false;
  if (!ReadUserData(reader, first & kUdhi, out, exact)) return Fail(diagnostics, reader);
  if (diagnostics) diagnostics->usedEveryOctet = exact;
  return out;
}

std::optional<DecodedPdu> DecodeSubmitPdu(std::string_view pdu, PduDiagnostics* diagnostics) {
  PduReader reader(pdu);
  uint8_t first = 0;
  if (!SkipSmscPart(reader) || !reader.Octet(first, "first octet")) return Fail(diagnostics, reader);
  if ((first & 0x03) != kMtiSubmit) {
    return Fail(diagnostics, "TP-MTI " + std::to_string(first & 0x03) + " is not SMS-SUBMIT");
  }
  DecodedPdu out;
  uint8_t dcs = 0;
  if (!reader.Skip(1, "TP-MR") || !ReadAddress(reader, out.from, "TP-DA") || !reader.Skip(1, "TP-PID") ||
      !reader.Octet(dcs, "TP-DCS")) {
    return Fail(diagnostics, reader);
  }
  // TP-VPF: none, enhanced (7 octets), relative (1), absolute (7).
  static constexpr std::size_t kValidityOctets[] = {0, 7, 1, 7};
  if (!reader.Skip(kValidityOctets[(first >> 3) & 0x03], "TP-VP")) return Fail(diagnostics, reader);
  out.coding = CodingFromDcs(dcs);
  bool exact = false;
  if (!ReadUserData(reader, first & kUdhi, out, exact)) return Fail(diagnostics, reader);
  if (diagnostics) diagnostics->usedEveryOctet = exact;
  return out;
}

std::optional<DecodedPdu> DecodeReceivedPdu(std::string_view pdu) { return DecodeReceivedPdu(pdu, nullptr); }

std::optional<DecodedPdu> DecodeStatusReportPdu(std::string_view pdu, bool noSmscPart) {
  return DecodeStatusReportPdu(pdu, noSmscPart, nullptr);
}

std::optional<DecodedPdu> DecodeSubmitPdu(std::string_view pdu) { return DecodeSubmitPdu(pdu, nullptr); }

}  // namespace qm
