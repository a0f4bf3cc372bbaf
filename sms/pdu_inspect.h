// Decoding with diagnostics, for tools and logs: why a PDU could not be
// decoded, whether its fields used every octet, and the decoding of a PDU of
// unknown origin (a user pasting a PDU does not know its form).
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sms/pdu_decoder.h"

namespace qm {

struct PduDiagnostics {
  std::string failure;          // "cannot read TP-UDL", ...; empty on success
  bool usedEveryOctet = false;  // the PDU ended exactly where its fields said
};

// As the functions of sms/pdu_decoder.h, filling `diagnostics` when given.
std::optional<DecodedPdu> DecodeReceivedPdu(std::string_view pdu, PduDiagnostics* diagnostics);
std::optional<DecodedPdu> DecodeStatusReportPdu(std::string_view pdu, bool noSmscPart,
                                                PduDiagnostics* diagnostics);
std::optional<DecodedPdu> DecodeSubmitPdu(std::string_view pdu, PduDiagnostics* diagnostics);

// Tries every reading: SMS-DELIVER or SMS-STATUS-REPORT with an SMSC part, a
// status report without one, our own SMS-SUBMIT. A reading that uses every
// octet wins, in that order; otherwise the first that decodes. On failure
// `error` (when given) says why.
std::optional<DecodedPdu> DecodeAnyPdu(std::string_view pdu, std::string* error);

}  // namespace qm
