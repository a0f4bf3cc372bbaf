// "qmctl watch": the driver's events as they happen, one line each.
//
// Three handlers registered with the driver (receive, send, delivery) hand
// over each message as an object of this client, which is read and released;
// a driver object carries the status changes of messages traced with it and
// USSD replies; the link status is polled every second.
#include <csignal>
#include <cstdio>
#include <deque>

#include "platform/event_fd.h"
#include "platform/signals.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"
#include "tools/qmctl/status_names.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl watch [--json]\n"
    "Prints the driver's events until interrupted: incoming messages, sent\n"
    "(or failed) messages, delivery reports, status changes of messages and\n"
    "the modem link's status; one line, or one JSON object, per event.\n"
    "The watch is a handler of the driver: with \"inbox.discard_handled\" set,\n"
    "the messages it sees are not kept in the inbox.\n";

constexpr auto kStatusPeriod = std::chrono::seconds(1);

enum class EventKind { kIncoming, kSent, kDelivered, kStatus, kUssd };

struct Event {
  EventKind kind;
  std::string path;  // the message of kIncoming, kSent, kDelivered
  uint32_t id = 0;   // kStatus: the message; kUssd: the code
  uint32_t code = 0;
  std::string text;  // kUssd
};

struct HandlerKind {
  EventKind kind;
  const char* signal;
  const char* word;
};
constexpr HandlerKind kHandlerKinds[] = {{EventKind::kIncoming, "IncomingSMS", "incoming"},
                                         {EventKind::kSent, "SentSMS", "sent"},
                                         {EventKind::kDelivered, "DeliveredSMS", "delivered"}};

// Text on one line: line breaks shown as \n.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

class Watch {
 public:
  Watch(DriverClient& client, bool json) : client_(client), json_(json), driver_(client.Create("SMSDriver")) {
    driver_.OnSignal("SMSStatusChanged", "_ISMSDriverEvents", [this](uint32_t id, uint32_t code) {
      events_.push_back({EventKind::kStatus, {}, id, code, {}});
    });
    driver_.OnSignal("USSDReply", "_ISMSDriverEvents",
                     [this](const std::string& text, uint32_t code, const std::string& /*recipient*/) {
                       events_.push_back({EventKind::kUssd, {}, code, 0, text});
                     });
    driver_.Subscribed();
    for (uint32_t event = 0; event < std::size(kHandlerKinds); ++event) {
      const EventKind kind = kHandlerKinds[event].kind;
      RemoteObject& handler = handlers_.emplace_back(client.Create("SMSHandler"));
      handler.Set("Name", std::string("qmctl watch"));
      // The driver copies the event and the filters when the handler registers.
      handler.Set("Event", event);
      handler.OnSignal(kHandlerKinds[event].signal, "_ISMSHandlerEvents", [this, kind](const sdbus::ObjectPath& path) {
        events_.push_back({kind, path, 0, 0, {}});
      });
      handler.Subscribed();
      handler.Call("Register", kCallTimeout);
    }
  }

  // Runs until `stop` becomes readable.
  void Run(const EventFd& stop) {
    auto nextPoll = std::chrono::steady_clock::now();
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= nextPoll) {
        PollLinkStatus();
        nextPoll = now + kStatusPeriod;
      }
      client_.Dispatch(std::chrono::duration_cast<std::chrono::milliseconds>(nextPoll - now), stop.fd());
      if (stop.Drain()) return;
      while (!events_.empty()) {
        const Event event = std::move(events_.front());
        events_.pop_front();
        Print(event);
      }
    }
  }

 private:
  void PollLinkStatus() {
    const auto code = driver_.Get<uint32_t>("StatusCode");
    if (code == linkStatus_) return;
    linkStatus_ = code;
    Emit(Json{{"event", "connection"}, {"status", ConnectionStatusName(code)}, {"status_code", code}},
         "connection " + ConnectionStatusName(code));
  }

  void Print(const Event& event) {
    switch (event.kind) {
      case EventKind::kStatus:
        Emit(Json{{"event", "status"},
                  {"id", event.id},
                  {"status", MessageStatusName(event.code)},
                  {"status_code", event.code}},
             "status    #" + std::to_string(event.id) + " " + MessageStatusName(event.code));
        return;
      case EventKind::kUssd:
        Emit(Json{{"event", "ussd"}, {"code", event.id}, {"text", event.text}}, "ussd      " + OneLine(event.text));
        return;
      default:
        PrintMessage(event);
    }
  }

  // A message handed over by a handler: read, printed and released. One that
  // cannot be read is reported and the watch goes on.
  void PrintMessage(const Event& event) {
    const char* word = "";
    for (const HandlerKind& k : kHandlerKinds) {
      if (k.kind == event.kind) word = k.word;
    }
    try {
      RemoteObject message(client_, event.path, "ISMSMessage");
      const auto id = message.Get<uint32_t>("ID");
      const auto from = message.Get<std::string>("From");
      const auto to = message.Get<std::string>("To");
      const auto body = message.Get<std::string>("Body");
      const auto code = message.Get<uint32_t>("StatusCode");
      const Json json = {{"event", word},
                         {"id", id},
                         {"from", from},
                         {"to", to},
                         {"body", body},
                         {"time", message.Get<uint32_t>("Timestamp")},
                         {"status", MessageStatusName(code)}};
      std::string line = std::string(word) + std::string(10 - std::string_view(word).size(), ' ') + "#" +
                         std::to_string(id) + (event.kind == EventKind::kIncoming ? " from " + from : " to " + to);
      if (code == 3 || code == 5) line += " [" + MessageStatusName(code) + "]";
      Emit(json, line + ": " + OneLine(body));
    } catch (const CommandFailure& failure) {
      if (failure.code() == ExitCode::kNoDriver) throw;
      std::fprintf(stderr, "qmctl: cannot read a %s message: %s\n", word, failure.what());
    }
  }

  void Emit(const Json& json, const std::string& text) { PrintLine(json_ ? JsonLine(json) : text); }

  DriverClient& client_;
  const bool json_;
  std::deque<Event> events_;  // filled by the signal callbacks inside Dispatch
  RemoteObject driver_;
  std::vector<RemoteObject> handlers_;  // after events_: released before it goes
  uint32_t linkStatus_ = UINT32_MAX;
};

}  // namespace

int RunWatch(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kUsage, status);
  if (!parsed) return status;
  if (!parsed->positional().empty()) return UsageError("watch takes no arguments", kUsage);
  EventFd stop;
  SignalWatcher signals({SIGINT, SIGTERM, SIGHUP}, [&stop](int) { stop.Signal(); });
  if (!stop.valid() || !signals.ok()) throw CommandFailure(ExitCode::kRefused, "cannot catch signals");
  DriverClient client(parsed->global());
  Watch watch(client, parsed->global().json);
  std::fprintf(stderr, "Watching %s on %s; Ctrl-C ends\n", client.busName().c_str(), client.BusDescription().c_str());
  watch.Run(stop);
  return 0;
}

}  // namespace qm
