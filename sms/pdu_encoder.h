// Encoding of outgoing messages as SMS-SUBMIT PDUs (TS 23.040 9.2.2.2): an
// SMS in GSM 7-bit or UCS2, split into concatenated segments when it is long,
// and a WAP push (Service Indication) as 8-bit data.
//
// Pure functions of their arguments (the concatenation reference is passed in;
// NewConcatReference draws one). Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sms/message.h"
#include "sms/pdu_settings.h"

namespace qm {

// Coding values (TP-DCS bits 3..2).
inline constexpr int kCoding7Bit = 0;
inline constexpr int kCoding8Bit = 4;
inline constexpr int kCodingUcs2 = 8;

// Most segments one message may have: the concatenation element counts them
// in one octet.
inline constexpr int kMaxSegments = 255;

// One segment, ready for "AT+CMGS=<tpduLength>" followed by `hex`.
struct SubmitPdu {
  std::string hex;     // upper-case hexadecimal, SMSC part first
  int tpduLength = 0;  // octets behind the SMSC part
};

// The PDUs of one message, in segment order, or why it cannot be sent.
struct SubmitPdus {
  std::vector<SubmitPdu> pdus;  // empty for a kind never sent as a PDU (USSD, report)
  std::string error;            // empty on success
  bool ok() const { return error.empty(); }
};

// Builds the PDUs of a message: kind 1 as an SMS, kind 2 as a WAP push, any
// other kind as an empty list. `concatReference` numbers the segments of a
// long message.
SubmitPdus BuildSubmitPdus(const SMSMessage& message, const PduSettings& settings, uint8_t concatReference);
// The same with a fresh random reference.
SubmitPdus BuildSubmitPdus(const SMSMessage& message, const PduSettings& settings);

// A random concatenation reference (a private generator per thread).
uint8_t NewConcatReference();

// The number of PDUs BuildSubmitPdus gives for the message; 0 for a message
// that cannot be encoded or is never sent as a PDU.
int CountSegments(const SMSMessage& message, const PduSettings& settings);

// The fields of an SMS-SUBMIT up to and including TP-VP.
struct SubmitHeaderFields {
  std::string_view destination;
  int typeOfNumber = 1;
  int coding = kCoding7Bit;
  int64_t validitySeconds = kDefaultValiditySeconds;
  bool userDataHeader = false;  // TP-UDHI
  bool push = false;            // DCS F5 (8-bit data, class 1)
  bool flash = false;           // message class 0
  bool reportRequest = false;   // TP-SRR
};

// SMSC part, first octet, TP-MR 00, TP-DA, TP-PID 00, TP-DCS, TP-VP.
std::string EncodeSubmitHeader(const SubmitHeaderFields& fields, const PduSettings& settings);

// The SMSC part: "smsc.address" as an address (TOA 91) with its length in
// octets when "smsc_addr_in_pdu" is 1, otherwise the single octet 00 (the
// service centre stored in the modem).
std::string EncodeSmscPart(const PduSettings& settings);
int SmscPartLength(const PduSettings& settings);

// 8 (UCS2) when the text has a character of 128 or above, else 0 (GSM 7-bit).
int DetectCoding(std::string_view text);

// Every UTF-16 code unit of the text as two octets, high octet first.
std::string EncodeUcs2(std::string_view text);

// TP-User-Data octets an SMS may use: 140 less "sms.length_correction", made
// even. A negative correction does not raise it above 140.
int UserDataLimit(const PduSettings& settings);

}  // namespace qm
