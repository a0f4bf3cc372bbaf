// "qmctl send": one message, or one to each recipient of a list.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/utf.h"
#include "sms/message.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"
#include "tools/qmctl/progress_bar.h"
#include "tools/qmctl/recipient_list.h"
#include "tools/qmctl/status_names.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl send --to NUMBER --text TEXT [OPTIONS]\n"
    "       qmctl send --file LIST [--text TEXT] [OPTIONS]\n"
    "Queues a message in the driver's outbox.\n"
    "  --to NUMBER        the recipient\n"
    "  --text TEXT        the message text (with --url: the text shown with the link)\n"
    "  --file LIST        send to every recipient of LIST (\"-\": standard input):\n"
    "                     one number per line, or NUMBER,TEXT (also ; or TAB);\n"
    "                     TEXT is the rest of the line, or a CSV field in double\n"
    "                     quotes (\"\" for a quote); blank lines, '#' lines and a\n"
    "                     header line are skipped.\n"
    "                     A bad line stops the whole list before anything is sent.\n"
    "  --flash            send as a flash message\n"
    "  --report           ask for a delivery report\n"
    "  --url URL          send a WAP push pointing to URL\n"
    "  --wait             wait until the message is sent (or has failed)\n"
    "  --delivery         wait for the delivery report instead (implies --wait\n"
    "                     and --report)\n"
    "  --timeout SECONDS  how long to wait (default 120)\n";

constexpr uint32_t kDefaultTimeout = 120;
constexpr auto kPollPeriod = std::chrono::milliseconds(500);

struct SendOptions {
  std::optional<std::string> url;
  uint32_t flags = 0;
  bool wait = false;
  bool delivery = false;
  uint32_t timeout = kDefaultTimeout;
};

RemoteObject Prepare(DriverClient& client, const std::string& to, const std::string& text, const SendOptions& o) {
  RemoteObject message = client.Create("SMSMessage");
  message.Set("To", to);
  message.Set("Body", text);
  if (o.url) message.Set("URL", *o.url);
  if (o.flags != 0) message.Set("Flags", o.flags);
  return message;
}

// Whether a status code ends the wait.
bool Finished(uint32_t code, bool delivery) { return delivery ? code >= 3 : code >= 2; }
bool Bad(uint32_t code) { return code == 3 || code == 5; }

Json Outcome(std::size_t line, const std::string& to, uint32_t id, uint32_t code, uint32_t reference) {
  Json json = Json::object();
  if (line != 0) json["line"] = line;
  json["to"] = to;
  json["id"] = id;
  json["status"] = MessageStatusName(code);
  json["status_code"] = code;
  json["reference"] = reference;
  return json;
}

int SendOne(DriverClient& client, const std::string& to, const std::string& text, const SendOptions& o, bool json) {
  RemoteObject message = Prepare(client, to, text, o);
  const auto id = message.Get<uint32_t>("ID");
  if (o.wait) {
    message.Call("SendSync", std::chrono::seconds(o.timeout) + kCallTimeout, o.delivery, o.timeout);
  } else {
    message.Call("Send", kCallTimeout);
  }
  const auto code = message.Get<uint32_t>("StatusCode");
  const auto reference = message.Get<uint32_t>("ReferenceID");
  if (json) {
    PrintLine(JsonLine(Outcome(0, to, id, code, reference)));
  } else if (!o.wait) {
    PrintLine("Message " + std::to_string(id) + " to " + to + " queued");
  } else {
    PrintLine("Message " + std::to_string(id) + " to " + to + " " + MessageStatusName(code) + " (reference " +
              std::to_string(reference) + ")");
  }
  return 0;
}

// One recipient of a list on its way.
struct Pending {
  const Recipient* recipient = nullptr;
  std::optional<RemoteObject> message;  // kept while waiting for its outcome
  uint32_t id = 0;
  uint32_t code = 0;
  uint32_t reference = 0;
  std::string error;
};

void Queue(DriverClient& client, const RecipientList& list, const SendOptions& o, std::vector<Pending>& out) {
  ProgressBar bar(list.recipients.size(), "queued");
  for (const Recipient& recipient : list.recipients) {
    Pending& item = out.emplace_back();
    item.recipient = &recipient;
    try {
      RemoteObject message = Prepare(client, recipient.number, recipient.text, o);
      item.id = message.Get<uint32_t>("ID");
      message.Call("Send", kCallTimeout);
      item.code = message.Get<uint32_t>("StatusCode");
      if (o.wait) item.message.emplace(std::move(message));
    } catch (const CommandFailure& failure) {
      // A message the driver refuses does not stop the others; a driver gone does.
      if (failure.code() == ExitCode::kNoDriver) throw;
      item.error = failure.what();
    }
    bar.Update(out.size());
  }
}

// Polls the queued messages until each has its outcome or the time is up.
void AwaitOutcomes(std::vector<Pending>& items, const SendOptions& o) {
  std::size_t open = 0;
  for (const Pending& item : items) open += item.message ? 1 : 0;
  const std::size_t total = open;
  ProgressBar bar(total, o.delivery ? "delivered or not" : "sent or failed");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.timeout);
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollPeriod);
    for (Pending& item : items) {
      if (!item.message || Finished(item.code, o.delivery)) continue;
      item.code = item.message->Get<uint32_t>("StatusCode");
      if (Finished(item.code, o.delivery)) {
        item.reference = item.message->Get<uint32_t>("ReferenceID");
        --open;
      }
    }
    bar.Update(total - open);
  }
}

int SendList(DriverClient& client, const RecipientList& list, const SendOptions& o, bool json) {
  std::vector<Pending> items;
  items.reserve(list.recipients.size());
  Queue(client, list, o, items);
  if (o.wait) AwaitOutcomes(items, o);

  std::size_t ok = 0, bad = 0, late = 0;
  for (const Pending& item : items) {
    const Recipient& r = *item.recipient;
    if (!item.error.empty()) {
      ++bad;
      if (json) PrintLine(JsonLine(Json{{"line", r.line}, {"to", r.number}, {"error", item.error}}));
      std::fprintf(stderr, "qmctl: line %zu (%s): %s\n", r.line, r.number.c_str(), item.error.c_str());
      continue;
    }
    if (json) PrintLine(JsonLine(Outcome(r.line, r.number, item.id, item.code, item.reference)));
    if (o.wait && !Finished(item.code, o.delivery)) {
      ++late;
    } else if (Bad(item.code)) {
      ++bad;
      std::fprintf(stderr, "qmctl: line %zu (%s): %s\n", r.line, r.number.c_str(),
                   MessageStatusName(item.code).c_str());
    } else {
      ++ok;
    }
  }
  if (!json) {
    std::string summary = std::to_string(ok) + (o.wait ? (o.delivery ? " delivered" : " sent") : " queued");
    if (bad != 0) summary += ", " + std::to_string(bad) + " failed";
    if (late != 0) summary += ", " + std::to_string(late) + " not finished in time";
    PrintLine(summary);
  }
  if (bad != 0) return ToInt(ExitCode::kRefused);
  return late != 0 ? ToInt(ExitCode::kTimeout) : 0;
}

std::optional<std::string> ReadList(const std::string& name, std::string& error) {
  std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (!file) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string content;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) {
    error = "cannot read " + name;
    return std::nullopt;
  }
  return content;
}

}  // namespace

int RunSend(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(
      args, {{"--flash", "--report", "--wait", "--delivery"}, {"--to", "--text", "--file", "--url", "--timeout"}},
      kUsage, status);
  if (!parsed) return status;
  if (!parsed->positional().empty()) return UsageError("unexpected '" + parsed->positional()[0] + "'", kUsage);
  const auto to = parsed->Value("--to");
  const auto text = parsed->Value("--text");
  const auto file = parsed->Value("--file");
  SendOptions o;
  o.url = parsed->Value("--url");
  o.delivery = parsed->Has("--delivery");
  o.wait = parsed->Has("--wait") || o.delivery;
  o.flags =
      (parsed->Has("--flash") ? kFlagFlash : 0u) | (parsed->Has("--report") || o.delivery ? kFlagStatusReport : 0u);
  if (const auto timeout = parsed->Value("--timeout")) {
    const auto seconds = ParseUnsigned(*timeout, 7 * 86400);
    if (!seconds || *seconds == 0) return UsageError("--timeout needs a number of seconds", kUsage);
    if (!o.wait) return UsageError("--timeout needs --wait or --delivery", kUsage);
    o.timeout = *seconds;
  }
  if (to && file) return UsageError("give --to or --file, not both", kUsage);
  if (!to && !file) return UsageError("send needs --to or --file", kUsage);
  const auto notText = [](const std::optional<std::string>& value) { return value && !IsValidUtf8(*value); };
  if (notText(to) || notText(text) || notText(o.url)) return UsageError("the arguments must be UTF-8 text", kUsage);
  const bool json = parsed->global().json;
  if (to) {
    if (!text) return UsageError("send needs --text", kUsage);
    DriverClient client(parsed->global());
    return SendOne(client, *to, *text, o, json);
  }
  std::string error;
  const auto content = ReadList(*file, error);
  if (!content) return UsageError(error, kUsage);
  const RecipientList list = ParseRecipientList(*content, text);
  for (const std::string& problem : list.errors)
    std::fprintf(stderr, "qmctl: %s: %s\n", file->c_str(), problem.c_str());
  if (!list.errors.empty()) return ToInt(ExitCode::kUsage);
  if (list.recipients.empty()) return UsageError(*file + " names no recipient", kUsage);
  DriverClient client(parsed->global());
  return SendList(client, list, o, json);
}

}  // namespace qm
