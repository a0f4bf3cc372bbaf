#include "sms/pdu_inspect.h"

namespace qm {

std::optional<DecodedPdu> DecodeAnyPdu(std::string_view pdu, std::string* error) {
  struct Reading {
    std::optional<DecodedPdu> pdu;
    PduDiagnostics diagnostics;
  };
  Reading readings[3];
  readings[0].pdu = DecodeReceivedPdu(pdu, &readings[0].diagnostics);  // DELIVER, or a report with SMSC part
  readings[1].pdu = DecodeStatusReportPdu(pdu, true, &readings[1].diagnostics);
  readings[2].pdu = DecodeSubmitPdu(pdu, &readings[2].diagnostics);
  for (Reading& r : readings) {
    if (r.pdu && r.diagnostics.usedEveryOctet) return std::move(r.pdu);
  }
  for (Reading& r : readings) {
    if (r.pdu) return std::move(r.pdu);
  }
  if (error) {
    // Name the failure of the reading the message type points to.
    const bool submit = readings[2].diagnostics.failure.find("TP-MTI") == std::string::npos;
    *error = submit ? readings[2].diagnostics.failure : readings[0].diagnostics.failure;
  }
  return std::nullopt;
}

}  // namespace qm
