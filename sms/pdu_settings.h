// The configuration values the PDU codec depends on, read by the caller
// (ReadPduSettings in gateway/) and passed in, so the codec stays pure.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct PduSettings {
  std::string smscAddress;             // "smsc.address"
  bool smscAddressInPdu = false;       // "smsc_addr_in_pdu" is 1
  int32_t lengthCorrection = 0;        // "sms.length_correction"
  bool statusReportWithoutSmsc = false;  // "cds_no_smsc_addr" is 1
};

}  // namespace qm
