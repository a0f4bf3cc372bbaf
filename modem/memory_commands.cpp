#include "modem/memory_commands.h"

#include <string>

#include "base/config_store.h"

namespace qm {

DeleteMode ConfiguredDeleteMode(const ConfigStore& config) {
  const int value = config.GetInt("sender.delete_mode");
  return value == 1 || value == 2 ? static_cast<DeleteMode>(value) : DeleteMode::kNone;
}

std::unique_ptr<ATCommandMessage> ListCommand(ListStatus status, const ConfigStore& config) {
  static constexpr const char* kTextNames[] = {"\"REC UNREAD\"", "\"REC READ\"", "\"STO UNSENT\"", "\"STO SENT\"",
                                               "\"ALL\""};
  const int number = static_cast<int>(status);
  const std::string argument =
      config.GetInt("sender.send_mode") == 1 ? kTextNames[number] : std::to_string(number);
  return std::make_unique<ATCommandMessage>("AT+CMGL=" + argument + "\r\n");
}

std::unique_ptr<ATCommandMessage> ReadOneCommand(int index) {
  return std::make_unique<ATCommandMessage>("AT+CMGR=" + std::to_string(index) + "\r\n");
}

std::unique_ptr<ATCommandMessage> DeleteByIndexCommand(int index) {
  return std::make_unique<ATCommandMessage>("AT+CMGD=" + std::to_string(index) + "\r\n");
}

std::unique_ptr<ATCommandMessage> DeleteAllCommand(const ConfigStore& config) {
  const std::string custom = config.GetString("sender.delete_all_cmd");
  return std::make_unique<ATCommandMessage>(custom.empty() ? std::string("AT+CMGD=1,4\r\n") : custom + "\r\n");
}

}  // namespace qm
