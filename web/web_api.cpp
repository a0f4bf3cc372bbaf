#include "web/web_api.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "base/config_store.h"
#include "gateway/driver_counters.h"
#include "gateway/modem_snapshot.h"
#include "gateway/pdu_settings_reader.h"
#include "gateway/ussd_waiters.h"
#include "modem/async_serial_comm.h"
#include "modem/link_status.h"
#include "platform/clock.h"
#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/pdu_encoder.h"
#include "storage/file_database.h"
#include "storage/message_rows.h"
#include "storage/outgoing_rows.h"
#include "storage/table_setup.h"
#include "web/api_input.h"
#include "web/metrics_text.h"

namespace qm {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// How long a send waits for the command thread to write the outbox row, so
// that the id it answers can be looked up at once; a busier command thread
// still gets the message, only later.
constexpr auto kOutboxWait = 5s;

ApiAnswer JsonAnswer(int status, const json& body) { return ApiAnswer{status, JsonText(body)}; }

Rows AllRows(const FileDatabase* table) {
  // The row id is never empty, so this is every row, in key (= filing) order.
  return table ? table->SelectNotEqual(kRowIdColumn, "", 0) : Rows{};
}

const FileDatabase* TableOf(const TableSet& tables, MessageTable table) {
  switch (table) {
    case MessageTable::kInbox:
      return tables.inbox.get();
    case MessageTable::kOutbox:
      return tables.outbox.get();
    case MessageTable::kSent:
      return tables.sent.get();
    case MessageTable::kFailed:
      return tables.failed.get();
  }
  return nullptr;
}

}  // namespace

ApiAnswer ErrorAnswer(int status, std::string_view text) {
  return JsonAnswer(status, json{{"error", std::string(text)}});
}

json WebApi::StatusJson() const {
  const LinkStatus link = context_.transport.GetStatus();
  const ModemSnapshot modem = context_.modem.Get();
  const FileDatabase* outbox = context_.tables.outbox.get();
  return json{{"connected", IsLinkUp(link)},
              {"status_code", static_cast<int>(link)},
              {"status_text", std::string(LinkStatusText(link))},
              {"modem", modem.model},
              {"port", context_.config.GetString("modem.port")},
              {"signal", std::clamp(modem.signalPercent, 0, 100)},
              {"features", modem.features},
              {"failures", modem.failures},
              {"outbox", outbox ? std::max(outbox->Count(), 0) : 0},
              {"errors", context_.counters.Failures()},
              {"version", QM_VERSION},
              {"instance", context_.instance}};
}

ApiAnswer WebApi::Status() const { return JsonAnswer(200, StatusJson()); }

ApiAnswer WebApi::Send(std::string_view body) {
  const Parsed<SendInput> input = ParseSendInput(body);
  if (!input.ok()) return ErrorAnswer(400, input.error);
  const SendInput& in = input.value;
  // Made with id 0 and counted before it takes an id, so that a refused
  // text uses none.
  std::unique_ptr<SMSMessage> message =
      in.wapPushUrl.empty() ? std::make_unique<SMSMessage>(std::string(), in.to, in.text, 0)
                            : std::make_unique<PushMessage>(std::string(), in.to, in.text, in.wapPushUrl, 0);
  if (in.flash) message->flags |= kFlagFlash;
  if (in.report) message->flags |= kFlagStatusReport;
  const int segments = CountSegments(*message, ReadPduSettings(context_.config));
  if (segments <= 0) return ErrorAnswer(400, "the text cannot be sent: it needs more than 255 segments");
  message->segments = static_cast<uint32_t>(segments);
  message->id = message_ids::Take();
  const int32_t id = message->id;
  auto [done, awaited] = MakeAwaitedRequest();
  context_.commands.Push(DriverCommand(CMD_SOURCE_MESSAGE, 0, std::move(message), std::move(done)));
  // Carried out or dropped alike: either way the command thread is past it.
  awaited.WaitFor(kOutboxWait);
  return JsonAnswer(202, json{{"id", id}, {"segments", segments}});
}

ApiAnswer WebApi::Message(std::string_view idText) const {
  const Parsed<int32_t> id = ParseMessageId(idText);
  if (!id.ok()) return ErrorAnswer(400, id.error);
  const std::optional<OutgoingRow> found = FindOutgoingRow(context_.tables, id.value);
  if (found) {
    switch (found->place) {
      case OutgoingPlace::kOutbox:
        return JsonAnswer(200, RowJson(found->row, MessageTable::kOutbox));
      case OutgoingPlace::kFailed:
        return JsonAnswer(200, RowJson(found->row, MessageTable::kFailed));
      case OutgoingPlace::kSent:
        return JsonAnswer(200, RowJson(found->row, MessageTable::kSent));
    }
  }
  return ErrorAnswer(404, "no outgoing message has the id " + std::to_string(id.value));
}

ApiAnswer WebApi::List(MessageTable table, const std::multimap<std::string, std::string>& params) const {
  const Parsed<ListQuery> query = ParseListQuery(params);
  if (!query.ok()) return ErrorAnswer(400, query.error);
  return JsonAnswer(200, ListPage(AllRows(TableOf(context_.tables, table)), table, query.value));
}

ApiAnswer WebApi::Ussd(std::string_view body, std::stop_token stop) {
  const Parsed<UssdInput> input = ParseUssdInput(body);
  if (!input.ok()) return ErrorAnswer(400, input.error);
  const UssdInput& in = input.value;
  const LinkStatus link = context_.transport.GetStatus();
  if (!IsLinkUp(link)) return ErrorAnswer(503, "the modem is not connected");
  USSDSyncObserverQueue& waiters = context_.ussdWaiters;
  const uint32_t number = waiters.NextRequestNumber();
  waiters.Add(number, in.timeoutSeconds);
  // The command thread adds it to the outbox and dispatches it.
  context_.commands.Push(DriverCommand(CMD_SOURCE_MESSAGE, 0, std::make_unique<USSDRequest>(in.code)));
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::seconds(in.timeoutSeconds);
  std::mutex mutex;
  std::condition_variable_any wake;  // only the stop wakes it
  while (true) {
    USSDSyncObserverQueue::PollResult polled = waiters.Poll(number);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (polled.finished && polled.state == UssdWaitState::kReplied) {
      return JsonAnswer(200, json{{"reply", polled.reply}, {"code", in.code}});
    }
    // The housekeeping drops a waiter whose time is up: that is the
    // caller's time running out, whichever of the two notices it first.
    if ((polled.finished && waited >= limit) || (!polled.finished && waited > limit)) {
      return ErrorAnswer(504, "no USSD reply within " + std::to_string(in.timeoutSeconds) + " seconds");
    }
    if (polled.finished) return ErrorAnswer(502, "the USSD request failed");
    std::unique_lock lock(mutex);
    static_cast<void>(wake.wait_for(lock, stop, 100ms, [] { return false; }));
    if (stop.stop_requested()) return ErrorAnswer(503, "the driver is stopping");
  }
}

ApiAnswer WebApi::Connect() {
  // A link that is up or on its way stays as it is.
  if (!IsLinkUpOrComing(context_.transport.GetStatus())) context_.commands.Push(DriverCommand(CMD_CONNECT));
  return JsonAnswer(202, json::object());
}

ApiAnswer WebApi::Disconnect() {
  context_.commands.Push(DriverCommand(CMD_DISCONNECT));
  return JsonAnswer(202, json::object());
}

ApiAnswer WebApi::Count(std::string_view body) const {
  const Parsed<CountInput> input = ParseCountInput(body);
  if (!input.ok()) return ErrorAnswer(400, input.error);
  const std::string& text = input.value.text;
  const PduSettings settings = ReadPduSettings(context_.config);
  const SMSMessage message({}, "0", text, 0);
  const int segments = CountSegments(message, settings);
  const bool ucs2 = DetectCoding(text) == kCodingUcs2;
  const auto units = static_cast<int>(ucs2 ? Utf8ToUtf16(text).size() : ToGsmSeptets(text).size());
  // What one segment holds: the user data octets, less the concatenation
  // header (6 octets) once the text takes more than one.
  const int octets = UserDataLimit(settings) - (segments > 1 ? 6 : 0);
  const int perSegment = ucs2 ? octets / 2 : octets * 8 / 7;
  const int remaining = std::max(perSegment * std::max(segments, 1) - units, 0);
  return JsonAnswer(200, json{{"encoding", ucs2 ? "ucs2" : "gsm7"},
                              {"units", units},
                              {"segments", segments},
                              {"per_segment", perSegment},
                              {"remaining", remaining}});
}

std::string WebApi::Metrics() const {
  const FileDatabase* outbox = context_.tables.outbox.get();
  GaugeReadings gauges;
  gauges.outboxMessages = outbox ? std::max(outbox->Count(), 0) : 0;
  gauges.signalPercent = std::clamp(context_.modem.Get().signalPercent, 0, 100);
  gauges.linkUp = IsLinkUp(context_.transport.GetStatus());
  gauges.now = static_cast<int64_t>(UnixNow());
  return DriverMetricsText(context_.counters, gauges);
}

}  // namespace qm
