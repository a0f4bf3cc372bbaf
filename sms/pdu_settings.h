// The configuration values the PDU codec depends on, read once by the caller
// and passed in, so the codec itself stays a set of pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

class ConfigStore;

struct PduSettings {
  std::string smscAddress;             // "smsc.address"
  bool smscAddressInPdu = false;       // "smsc_addr_in_pdu" is 1
  int32_t lengthCorrection = 0;        // "sms.length_correction"
  bool statusReportWithoutSmsc = false;  // "cds_no_smsc_addr" is 1
};

// Reads the four keys (absent keys read as "" and 0). Any thread.
PduSettings ReadPduSettings(const ConfigStore& config);

}  // namespace qm
