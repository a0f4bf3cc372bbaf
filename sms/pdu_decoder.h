// Decoding of received PDUs (SMS-DELIVER, SMS-STATUS-REPORT) and of our own
// SMS-SUBMIT PDUs, and the joining of decoded parts into a message.
//
// Pure functions: no I/O, no globals. Every length is checked against the data
// before it is read; a malformed PDU yields nullopt, never a read past the end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sms/message.h"

namespace qm {

// One received (or submitted) PDU. Text fields are UTF-8.
struct DecodedPdu {
  int kind = kKindSms;        // 1 message, 4 status report
  uint32_t time = 0;          // TP-SCTS, seconds since 1970 (local time)
  std::string from;           // TP-OA (report: TP-RA; submit: TP-DA)
  int coding = 0;             // DCS & 0x0C: 0 GSM 7-bit, 4 8-bit, 8 UCS2 (12 as UCS2)
  int reference = 0;          // concatenation reference
  int total = 1;              // number of parts
  int part = 0;               // part number counted from 0
  std::string text;           // decoded text
  // What `text` was decoded from: one septet per char (coding 0), the octets
  // (4), or the UTF-16 units as octet pairs, high first (8, 12). Parts join
  // here before decoding, as a sender may cut an escape pair or a surrogate
  // pair between them. Empty for a part made from its text alone.
  std::string raw;
  int memoryIndex = -1;       // modem memory location, -1 when not read from memory
  std::string memory;         // the memory of that location (empty: the current one)
  int messageReference = 0;   // report: TP-MR
  uint32_t dischargeTime = 0;  // report: TP-DT
  int status = 0;             // report: TP-ST
  bool ported = false;        // an application-port element was present
};

// Hexadecimal text to octets: each pair gives one octet, high nibble first; a
// character that is not a hex digit counts as 0; an odd final digit is dropped.
std::string HexToBytes(std::string_view hex);

// An SMS-DELIVER PDU (with its SMSC part); a status report is passed on to
// DecodeStatusReportPdu with an SMSC part.
std::optional<DecodedPdu> DecodeReceivedPdu(std::string_view pdu);

// An SMS-STATUS-REPORT PDU; `noSmscPart` ("cds_no_smsc_addr" 1) when the PDU
// starts directly with the TPDU.
std::optional<DecodedPdu> DecodeStatusReportPdu(std::string_view pdu, bool noSmscPart);

// An SMS-SUBMIT PDU as the driver writes it (with its SMSC part).
std::optional<DecodedPdu> DecodeSubmitPdu(std::string_view pdu);

// A text-mode time stamp "yy/MM/dd,hh:mm:ss[+zz]" as local time; 0 when it
// cannot be read.
uint32_t DecodeTextModeTime(std::string_view text);

// The text (UTF-8) of `raw` units in the given coding, as DecodedPdu::text.
std::string RawUnitsToText(int coding, std::string_view raw);

// Joins the parts of one message (ordered by part number) into a message: a
// status report, an SMS or a WAP push, holding the memory locations of the
// parts in the last part's memory. nullptr when nothing can be made. The
// raw units of the parts are joined and decoded once; when the parts differ
// in coding, are not consecutive or one has no raw units, their texts are
// joined instead.
std::unique_ptr<SMSMessage> AssembleMessage(const std::vector<DecodedPdu>& parts);

}  // namespace qm
