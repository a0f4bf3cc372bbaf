// Reads the codec's settings from the configuration for one sending.
#pragma once

#include "sms/pdu_settings.h"

namespace qm {

class ConfigStore;

// "smsc.address", "smsc_addr_in_pdu", "sms.length_correction" and
// "cds_no_smsc_addr" (absent keys read as "" and 0). Any thread.
PduSettings ReadPduSettings(const ConfigStore& config);

}  // namespace qm
