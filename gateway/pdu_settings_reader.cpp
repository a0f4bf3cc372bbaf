#include "gateway/pdu_settings_reader.h"

#include "base/config_store.h"

namespace qm {

PduSettings ReadPduSettings(const ConfigStore& config) {
  PduSettings settings;
  settings.smscAddress = config.GetString("smsc.address");
  settings.smscAddressInPdu = config.GetInt("smsc_addr_in_pdu") == 1;
  settings.lengthCorrection = config.GetInt("sms.length_correction");
  settings.statusReportWithoutSmsc = config.GetInt("cds_no_smsc_addr") == 1;
  return settings;
}

}  // namespace qm
