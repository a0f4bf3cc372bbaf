// "qmctl ussd": a USSD request and the network's reply.
#include "platform/utf.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl ussd CODE [--timeout SECONDS]\n"
    "Sends a USSD request (such as *100#) and prints the reply.\n"
    "  --timeout SECONDS  how long to wait for the reply (default 30)\n";

constexpr uint32_t kDefaultTimeout = 30;

}  // namespace

int RunUssd(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {{}, {"--timeout"}}, kUsage, status);
  if (!parsed) return status;
  if (parsed->positional().size() != 1) return UsageError("ussd needs one CODE", kUsage);
  const std::string& code = parsed->positional().front();
  if (code.empty() || !IsValidUtf8(code)) return UsageError("CODE must be UTF-8 text", kUsage);
  uint32_t timeout = kDefaultTimeout;
  if (const auto value = parsed->Value("--timeout")) {
    const auto seconds = ParseUnsigned(*value, 86400);
    if (!seconds || *seconds == 0) return UsageError("--timeout needs a number of seconds", kUsage);
    timeout = *seconds;
  }
  DriverClient client(parsed->global());
  RemoteObject request = client.Create("USSDRequest");
  request.Set("Content", code);
  const auto reply = request.Ask<std::string>("SendSync", std::chrono::seconds(timeout) + kCallTimeout, timeout);
  if (parsed->global().json) {
    PrintLine(JsonLine(Json{{"request", code}, {"reply", reply}}));
  } else {
    PrintLine(reply);
  }
  return 0;
}

}  // namespace qm
