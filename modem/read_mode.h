// How the driver learns of incoming messages ("sender.read_mode"), chosen
// by the modem initialisation from what the modem supports.
#pragma once

#include "base/config_store.h"

namespace qm {

enum class ReadMode : int {
  kNotifyIndex = 0,    // "+CMTI:" indexes, read with AT+CMGR
  kNotifyContent = 1,  // "+CMT:" with the message itself
  kPolling = 2,        // the memory is listed with AT+CMGL every "receiver.polling_time" seconds
  kIgnore = 3,         // incoming messages are left in the modem
};

inline ReadMode ConfiguredReadMode(const ConfigStore& config) {
  const int value = config.GetInt("sender.read_mode");
  return value >= 0 && value <= 3 ? static_cast<ReadMode>(value) : ReadMode::kIgnore;
}

inline void StoreReadMode(ConfigStore& config, ReadMode mode) {
  config.SetInt("sender.read_mode", static_cast<int>(mode));
}

}  // namespace qm
