// AT commands that delete messages stored in the modem's memory.
#pragma once

#include <memory>

#include "modem/at_command_message.h"

namespace qm {

class ConfigStore;

// What is deleted from the modem once a message has been taken care of
// ("sender.delete_mode"; any other value keeps everything).
enum class DeleteMode : int {
  kNone = 0,
  kLast = 1,  // the locations the message occupied
  kAll = 2,   // the whole memory, every "sender.delete_after" messages
};

DeleteMode ConfiguredDeleteMode(const ConfigStore& config);

// Which stored messages a listing asks for.
enum class ListStatus : int {
  kUnread = 0,
  kRead = 1,
  kUnsent = 2,
  kSent = 3,
  kAll = 4,
};

// "AT+CMGL=<status>\r\n": the number in PDU mode, the name ("REC UNREAD"
// ...) in text mode ("sender.send_mode" 1).
std::unique_ptr<ATCommandMessage> ListCommand(ListStatus status, const ConfigStore& config);

// "AT+CMGR=<index>\r\n".
std::unique_ptr<ATCommandMessage> ReadOneCommand(int index);

// "AT+CMGD=<index>\r\n".
std::unique_ptr<ATCommandMessage> DeleteByIndexCommand(int index);

// "sender.delete_all_cmd" followed by "\r\n", or "AT+CMGD=1,4\r\n" when the
// setting is empty.
std::unique_ptr<ATCommandMessage> DeleteAllCommand(const ConfigStore& config);

}  // namespace qm
