// "qmctl memory": the messages stored in the modem.
#include <cstdio>

#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl memory read [--timeout SECONDS]\n"
    "       qmctl memory remove INDEX [--timeout SECONDS]\n"
    "       qmctl memory clear\n"
    "read lists the messages in the modem's memory (\"receiver.memory\"), each\n"
    "with its INDEX; remove reads the memory again and deletes the message at\n"
    "INDEX; clear deletes every message. --timeout bounds the reading (default 60).\n";

constexpr uint32_t kDefaultTimeout = 60;

// Reads the memory into the object's list of messages.
void ReadMemory(RemoteObject& memory, uint32_t timeout) {
  memory.Call("ReadSync", std::chrono::seconds(timeout) + kCallTimeout, timeout);
}

int List(DriverClient& client, RemoteObject& memory, bool json) {
  // The items belong to the memory object, which frees them with itself.
  const auto items = memory.Ask<std::vector<sdbus::ObjectPath>>("_NewEnum", kCallTimeout);
  std::size_t index = 0;
  for (const sdbus::ObjectPath& path : items) {
    RemoteObject item(client, path, "ISMSMessage", Owner::kDriver);
    Json entry = {{"index", index},
                  {"from", item.Get<std::string>("From")},
                  {"to", item.Get<std::string>("To")},
                  {"time", item.Get<uint32_t>("Timestamp")},
                  {"body", item.Get<std::string>("Body")}};
    if (json) {
      PrintLine(JsonLine(entry));
    } else {
      PrintLine(std::to_string(index) + "  " + entry["from"].get<std::string>() + "  " +
                entry["body"].get<std::string>());
    }
    ++index;
  }
  if (!json && items.empty()) PrintLine("The memory holds no messages");
  return 0;
}

}  // namespace

int RunMemory(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {{}, {"--timeout"}}, kUsage, status);
  if (!parsed) return status;
  const std::vector<std::string>& words = parsed->positional();
  if (words.empty()) return UsageError("memory needs read, remove or clear", kUsage);
  const std::string& action = words[0];
  if (action != "read" && action != "remove" && action != "clear") {
    return UsageError("unknown memory action '" + action + "'", kUsage);
  }
  if (words.size() != (action == "remove" ? 2u : 1u)) {
    return UsageError(action == "remove" ? "memory remove needs one INDEX" : "memory " + action + " takes no INDEX",
                      kUsage);
  }
  std::optional<uint32_t> index;
  if (action == "remove" && !(index = ParseUnsigned(words[1]))) return UsageError("INDEX must be a number", kUsage);
  uint32_t timeout = kDefaultTimeout;
  if (const auto value = parsed->Value("--timeout")) {
    const auto seconds = ParseUnsigned(*value, 86400);
    if (!seconds || *seconds == 0) return UsageError("--timeout needs a number of seconds", kUsage);
    timeout = *seconds;
  }
  const bool json = parsed->global().json;
  DriverClient client(parsed->global());
  RemoteObject memory = client.Create("SMSMemory");
  if (action == "clear") {
    memory.Call("Clear", kCallTimeout);
    PrintLine(json ? JsonLine(Json{{"cleared", true}}) : "The modem's memory is being cleared");
    return 0;
  }
  ReadMemory(memory, timeout);
  if (action == "read") return List(client, memory, json);
  memory.Call("Remove", kCallTimeout, *index);
  PrintLine(json ? JsonLine(Json{{"removed", *index}}) : "Message " + std::to_string(*index) + " is being removed");
  return 0;
}

}  // namespace qm
