// AT commands that delete messages stored in the modem's memory.
#pragma once

#include <memory>

#include "modem/at_command_message.h"

namespace qm {

class ConfigStore;

// "AT+CMGD=<index>\r\n".
std::unique_ptr<ATCommandMessage> DeleteByIndexCommand(int index);

// "sender.delete_all_cmd" followed by "\r\n", or "AT+CMGD=1,4\r\n" when the
// setting is empty.
std::unique_ptr<ATCommandMessage> DeleteAllCommand(const ConfigStore& config);

}  // namespace qm
