// "qmctl status", "qmctl connect", "qmctl disconnect" and "qmctl at": the
// driver's state and its link to the modem.
#include <cinttypes>
#include <cstdio>

#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"
#include "tools/qmctl/status_names.h"

namespace qm {
namespace {

constexpr char kStatusUsage[] =
    "Usage: qmctl status [--json]\n"
    "Shows the driver's connection status, modem, signal, features, outbox size\n"
    "and error counter.\n";
constexpr char kConnectUsage[] =
    "Usage: qmctl connect|disconnect [--json]\n"
    "Connects the driver to its modem (in the background) or disconnects it.\n";
constexpr char kAtUsage[] =
    "Usage: qmctl at COMMAND\n"
    "Queues a raw AT command (\"\\r\\n\" is added); the modem's answer goes to the\n"
    "driver's log.\n";

// A value that the driver gives only once the modem is configured.
template <typename T>
std::optional<T> IfConfigured(RemoteObject& driver, const std::string& property) {
  try {
    return driver.Get<T>(property);
  } catch (const CommandFailure& failure) {
    if (failure.code() != ExitCode::kRefused) throw;
    return std::nullopt;
  }
}

Json StatusOf(DriverClient& client, RemoteObject& driver) {
  const auto code = driver.Get<uint32_t>("StatusCode");
  const auto modem = IfConfigured<std::string>(driver, "ModemName");
  const auto signal = IfConfigured<uint32_t>(driver, "SignalStrength");
  return Json{{"bus", client.busName()},
              {"pid", driver.Get<uint32_t>("PID")},
              {"status", ConnectionStatusName(code)},
              {"status_code", code},
              {"port", driver.Get<std::string>("PortName")},
              {"modem", modem ? Json(*modem) : Json()},
              {"signal", signal ? Json(*signal) : Json()},
              {"features", driver.Get<uint32_t>("ModemFeatures")},
              {"failures", driver.Get<uint32_t>("ModemFailures")},
              {"outbox", driver.Get<uint32_t>("OutboxSize")},
              {"errors", driver.Get<uint32_t>("ErrorNum")}};
}

void PrintStatusText(const Json& s, const std::string& busDescription) {
  std::printf("Driver:      %s on %s, process %u\n", s["bus"].get<std::string>().c_str(), busDescription.c_str(),
              s["pid"].get<uint32_t>());
  std::printf("Connection:  %s\n", s["status"].get<std::string>().c_str());
  std::printf("Port:        %s\n", s["port"].get<std::string>().c_str());
  if (s["modem"].is_null()) {
    std::printf("Modem:       (not configured)\n");
  } else {
    std::printf("Modem:       %s\n", s["modem"].get<std::string>().c_str());
    std::printf("Signal:      %u%%\n", s["signal"].get<uint32_t>());
  }
  std::printf("Features:    0x%08X\n", s["features"].get<uint32_t>());
  std::printf("Failures:    0x%08X\n", s["failures"].get<uint32_t>());
  std::printf("Outbox:      %u\n", s["outbox"].get<uint32_t>());
  std::printf("Errors:      %u\n", s["errors"].get<uint32_t>());
}

}  // namespace

int RunStatus(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kStatusUsage, status);
  if (!parsed) return status;
  if (!parsed->positional().empty()) return UsageError("status takes no arguments", kStatusUsage);
  DriverClient client(parsed->global());
  RemoteObject driver = client.Create("SMSDriver");
  const Json state = StatusOf(client, driver);
  if (parsed->global().json) {
    PrintLine(JsonLine(state));
  } else {
    PrintStatusText(state, client.BusDescription());
  }
  return 0;
}

int RunConnect(const CommandArgs& args, bool connect) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kConnectUsage, status);
  if (!parsed) return status;
  if (!parsed->positional().empty()) return UsageError("connect and disconnect take no arguments", kConnectUsage);
  DriverClient client(parsed->global());
  RemoteObject driver = client.Create("SMSDriver");
  driver.Call(connect ? "Connect" : "Disconnect", kCallTimeout);
  const auto code = driver.Get<uint32_t>("StatusCode");
  if (parsed->global().json) {
    PrintLine(JsonLine(Json{{"status", ConnectionStatusName(code)}, {"status_code", code}}));
  } else {
    PrintLine((connect ? "Connecting; the link is " : "Disconnected; the link is ") + ConnectionStatusName(code));
  }
  return 0;
}

int RunAt(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kAtUsage, status);
  if (!parsed) return status;
  if (parsed->positional().size() != 1) return UsageError("at needs one command", kAtUsage);
  const std::string& command = parsed->positional().front();
  DriverClient client(parsed->global());
  RemoteObject driver = client.Create("SMSDriver");
  driver.Call("SendAT", kCallTimeout, command);
  if (parsed->global().json) {
    PrintLine(JsonLine(Json{{"queued", command}}));
  } else {
    PrintLine("Queued; the modem's answer goes to the driver's log");
  }
  return 0;
}

}  // namespace qm
