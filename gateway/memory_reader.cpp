#include "gateway/memory_reader.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "base/config_store.h"
#include "base/logger.h"
#include "modem/async_serial_comm.h"
#include "modem/memory_commands.h"
#include "modem/message_body.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"
#include "sms/pdu_decoder.h"

namespace qm {
namespace {

// A modem that waits for its acknowledgement repeats a message within
// seconds (15 s on some); a repeat later than this is a new delivery.
constexpr uint32_t kRepeatWindowSeconds = 60;
constexpr std::size_t kRecentDirectMax = 64;
// Housekeeping runs at least this often while the reader waits.
constexpr auto kHousekeepingInterval = std::chrono::seconds(60);
// Parts of a message that never completes are handed out after this long
// unless "receiver.incomplete_timeout" says otherwise.
constexpr int kDefaultIncompleteSeconds = 86400;
// With "sender.delete_mode" 1, the locations of parts older than this are
// freed while the parts stay pending.
constexpr uint32_t kStalePartSeconds = 43200;

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

bool CommandStarts(const std::string& command, std::string_view prefix) {
  return StartsWithIgnoreCase(command, prefix);
}

// The index of "AT+CMGR=<index>\r\n"; -1 when there is none.
int ReadCommandIndex(const std::string& command) {
  int index = 0;
  bool digits = false;
  for (std::size_t i = 8; i < command.size() && command[i] >= '0' && command[i] <= '9' && index < 100000000; ++i) {
    index = index * 10 + (command[i] - '0');
    digits = true;
  }
  return digits ? index : -1;
}

}  // namespace

MemoryReader::MemoryReader(const GatewayContext& context) : context_(context) {}

MemoryReader::~MemoryReader() { Stop(); }

void MemoryReader::Start() {
  {
    std::lock_guard lock(markersMutex_);
    if (running_) return;
    running_ = true;
  }
  context_.transport.SetListener(&queue_, ListenerSlot::kIncoming);
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void MemoryReader::Stop() {
  std::map<uint64_t, DriverCommand> unposted;
  {
    std::lock_guard lock(markersMutex_);
    if (!running_) return;
    running_ = false;
    unposted.swap(markers_);
  }
  context_.transport.SetListener(nullptr, ListenerSlot::kIncoming);
  thread_.request_stop();
  queue_.Wake();
  if (thread_.joinable()) thread_.join();
  // What the thread had not reached yet is still read, so that no message
  // the modem has handed over is lost at exit.
  while (std::optional<AsyncEvent> event = queue_.TryPop()) OnEvent(std::move(*event));
  // Whoever waits for a marker learns that the lines before it are read.
  for (auto& [serial, command] : unposted) context_.commands.Push(std::move(command));
}

void MemoryReader::PostAfterPending(DriverCommand command) {
  uint64_t serial = 0;
  {
    std::lock_guard lock(markersMutex_);
    if (!running_) {
      context_.commands.Push(std::move(command));
      return;
    }
    serial = nextMarker_++;
    markers_.emplace(serial, std::move(command));
  }
  // The transport numbers events itself; the marker's own number travels
  // as its text.
  context_.transport.NoteOnIncomingSlot(AsyncEvent{EventKind::kMarker, 0, std::to_string(serial), {}});
}

void MemoryReader::PostMarkers(uint64_t upTo) {
  std::vector<DriverCommand> due;
  {
    std::lock_guard lock(markersMutex_);
    // Markers are noted in the order of their serials, so one that was
    // passed without being seen is due as well.
    auto end = markers_.upper_bound(upTo);
    for (auto it = markers_.begin(); it != end; ++it) due.push_back(std::move(it->second));
    markers_.erase(markers_.begin(), end);
  }
  for (DriverCommand& command : due) context_.commands.Push(std::move(command));
}

void MemoryReader::Run(std::stop_token stop) {
  auto lastHousekeeping = std::chrono::steady_clock::now();
  while (!stop.stop_requested()) {
    std::optional<AsyncEvent> event = queue_.PopFor(kHousekeepingInterval);
    if (event) {
      OnEvent(std::move(*event));
    } else {
      // Nothing left to read: no marker needs to wait (its note may have
      // been dropped with a cleared queue).
      PostMarkers(UINT64_MAX);
    }
    if (std::chrono::steady_clock::now() - lastHousekeeping >= kHousekeepingInterval) {
      lastHousekeeping = std::chrono::steady_clock::now();
      Housekeeping();
    }
  }
}

void MemoryReader::OnEvent(AsyncEvent event) {
  switch (event.kind) {
    case EventKind::kCommandWritten:
      OnCommandWritten(event.text);
      return;
    case EventKind::kCommandDone:
      OnCommandDone(event.text);
      return;
    case EventKind::kMarker:
      PostMarkers(std::strtoull(event.text.c_str(), nullptr, 10));
      return;
    case EventKind::kError:
    case EventKind::kFailure:
      // An error line here must not end reception: it is reported and the
      // reader goes on.
      context_.log.Write(LogLevel::kPortFailure, "Serial port: " + event.text);
      context_.commands.Push(DriverCommand(CMD_MODEM_EVENT, 0, std::make_unique<AsyncEvent>(event)));
      bodyDue_ = false;
      return;
    case EventKind::kIncomingMessage:
    case EventKind::kIncomingIndex:
    case EventKind::kStatusReport:
    case EventKind::kStatusReportIndex:
    case EventKind::kInfo:
      break;
    default:
      context_.log.Write(LogLevel::kError, "Serial port: unexpected reply! Type: " +
                                                 std::to_string(static_cast<int>(event.kind)) +
                                                 " Content: " + event.text);
      return;
  }
  if (bodyDue_) {
    bodyDue_ = false;
    if (entry_.textMode) {
      OnTextBody(event);
    } else {
      OnPduBody(event);
    }
    return;
  }
  if (StartsWithIgnoreCase(event.text, "+CUSD:")) {
    // Replies to USSD requests are the command thread's.
    context_.commands.Push(DriverCommand(CMD_MODEM_EVENT, kUnsolicitedLine, std::make_unique<AsyncEvent>(event)));
    return;
  }
  OnHeader(event);
}

void MemoryReader::OnCommandWritten(const std::string& command) {
  if (CommandStarts(command, "AT+CPMS=\"")) {
    // The memory read from now on: the first one named.
    const std::size_t end = command.find('"', 9);
    if (end != std::string::npos) currentMemory_ = command.substr(9, end - 9);
  }
  read_ = ReadInFlight{};
  if (CommandStarts(command, "AT+CMGR=")) read_.index = ReadCommandIndex(command);
}

void MemoryReader::OnCommandDone(const std::string& command) {
  if (!CommandStarts(command, "AT+CMGR=") || read_.index < 0) return;
  if (!read_.gotEntry) {
    // Some modems answer the read of an empty (or just deleted) location
    // with a bare OK: nothing to take.
    context_.log.Write(LogLevel::kDetail, "Memory location " + std::to_string(read_.index) + " is empty");
  }
  if (read_.gotReport) {
    announcedReports_.erase(read_.index);
  } else {
    LookForReportElsewhere(read_.index);
  }
  read_ = ReadInFlight{};
}

void MemoryReader::LookForReportElsewhere(int index) {
  const auto announced = announcedReports_.find(index);
  if (announced == announcedReports_.end()) return;
  const std::string storage = announced->second;
  announcedReports_.erase(announced);
  // Some modems announce a report in the message memory that they store in
  // the status-report memory.
  if (EqualsIgnoreCase(storage, "SR")) return;
  context_.log.Write(LogLevel::kDetail, "No status report in " + storage + " at " + std::to_string(index) +
                                            ", looking in SR");
  announcedReports_[index] = "SR";
  context_.commands.Push(DriverCommand(CMD_STORED_NOTICE, index, std::string("SR")));
}

void MemoryReader::OnHeader(const AsyncEvent& event) {
  ReceivedHeader header = ParseReceivedHeader(event.text);
  switch (header.kind) {
    case HeaderKind::kNone:
      context_.log.Write(LogLevel::kError, "Serial port: unexpected reply! Type: " +
                                                 std::to_string(static_cast<int>(event.kind)) +
                                                 " Content: " + event.text);
      return;
    case HeaderKind::kNotice:
    case HeaderKind::kReportNotice:
      if (header.index < 0) {
        context_.log.Write(LogLevel::kWarning, "Notice without a memory location ignored: " + event.text);
        return;
      }
      if (header.kind == HeaderKind::kReportNotice) {
        announcedReports_[header.index] = header.storage;
      } else {
        announcedReports_.erase(header.index);
      }
      context_.commands.Push(DriverCommand(CMD_STORED_NOTICE, header.index, std::move(header.storage)));
      return;
    case HeaderKind::kRead:
      header.index = read_.index;
      read_.gotEntry = true;
      break;
    case HeaderKind::kListed:
    case HeaderKind::kDirect:
    case HeaderKind::kDirectReport:
      break;
  }
  if (header.report) {
    // A text-mode status report is complete in its header.
    auto report = std::move(header.report);
    if (header.index >= 0) {
      report->memoryIndexes.push_back(header.index);
      report->memory = currentMemory_;
    }
    if (header.kind == HeaderKind::kRead) read_.gotReport = true;
    if (header.kind == HeaderKind::kDirectReport && IsRepeat(event.text)) return;
    Post(std::move(report), header.kind == HeaderKind::kListed);
    return;
  }
  bodyDue_ = ExpectedBody(event.text).kind != BodyKind::kNone;
  entry_ = std::move(header);
  entryLine_ = event.text;
  // A text-mode message whose header says its text is empty: no line follows.
  if (!bodyDue_ && entry_.textMode && entry_.kind != HeaderKind::kDirectReport) OnTextBody(AsyncEvent{});
}

void MemoryReader::OnPduBody(const AsyncEvent& event) {
  context_.log.Write(LogLevel::kDetail, "Received: " + event.text);
  std::string pdu = HexToBytes(TrimBlanks(event.text));
  const bool direct = entry_.kind == HeaderKind::kDirect || entry_.kind == HeaderKind::kDirectReport;
  if (direct && IsRepeat(event.text)) return;
  // The header's length counts the TPDU alone: an equal byte count means
  // there is no service-centre field (as in some modems' "+CDS:"), which
  // the decoder expects as an empty one.
  bool knownLayout = false;
  if (entry_.tpduLength > 0) {
    knownLayout = true;
    if (pdu.size() == static_cast<std::size_t>(entry_.tpduLength)) pdu.insert(pdu.begin(), '\0');
  }
  std::optional<DecodedPdu> record;
  if (entry_.kind == HeaderKind::kDirectReport) {
    const bool noSmsc = !knownLayout && context_.config.GetInt("cds_no_smsc_addr") == 1;
    record = DecodeStatusReportPdu(pdu, noSmsc);
  } else {
    record = DecodeReceivedPdu(pdu);
  }
  if (!record) {
    context_.log.Write(LogLevel::kWarning, "Undecodable PDU dropped: " + event.text);
    return;
  }
  record->memoryIndex = entry_.index;
  if (entry_.index >= 0) record->memory = currentMemory_;
  if (entry_.kind == HeaderKind::kRead) {
    if (record->kind == kKindStatusReport) {
      read_.gotReport = true;
    } else if (announcedReports_.count(entry_.index) != 0) {
      // Not what the notice announced: taken, but the location is left
      // alone, since the report may still be looked for elsewhere.
      record->memoryIndex = -1;
    }
  }
  AddPart(std::move(*record), entry_.kind == HeaderKind::kListed);
}

void MemoryReader::OnTextBody(const AsyncEvent& event) {
  context_.log.Write(LogLevel::kDetail, "Received: " + event.text);
  const bool direct = entry_.kind == HeaderKind::kDirect;
  if (direct && IsRepeat(entryLine_ + "\n" + event.text)) return;
  auto message = std::make_unique<SMSMessage>(entry_.from, std::string(), TextModeBody(event.text, entry_.dcs));
  if (entry_.time != 0) {
    message->timestamp = entry_.time;
    message->created = entry_.time;
  }
  if (entry_.index >= 0) {
    message->memoryIndexes.push_back(entry_.index);
    message->memory = currentMemory_;
  }
  if (entry_.kind == HeaderKind::kRead && announcedReports_.count(entry_.index) != 0) {
    message->memoryIndexes.clear();  // not the report announced there
  }
  Post(std::move(message), entry_.kind == HeaderKind::kListed);
}

void MemoryReader::AddPart(DecodedPdu record, bool listed) {
  PendingParts::Added added = pending_.Add(std::move(record), Now());
  if (added.duplicate) {
    context_.log.Write(LogLevel::kError, "Duplicate PDU ignored");
    if (added.freeIndex >= 0) context_.sender.Push(DeleteByIndexCommand(added.freeIndex));
  }
  for (std::vector<DecodedPdu>& parts : added.complete) Deliver(std::move(parts), listed, true);
  for (std::vector<DecodedPdu>& parts : added.evicted) Deliver(std::move(parts), false, false);
  if (pending_.GroupCount() > 0) FreeStaleLocations();
}

void MemoryReader::Deliver(std::vector<DecodedPdu> parts, bool listed, bool complete) {
  std::unique_ptr<SMSMessage> message = AssembleMessage(parts);
  if (!message) {
    context_.log.Write(LogLevel::kWarning, "Message parts that give no message dropped");
    return;
  }
  if (!complete) {
    context_.log.Write(LogLevel::kWarning, "Incomplete message from " + message->from + " handed on with " +
                                               std::to_string(parts.size()) + " of " +
                                               std::to_string(parts.front().total) + " parts");
  }
  Post(std::move(message), listed);
}

void MemoryReader::Post(std::unique_ptr<SMSMessage> message, bool listed) {
  context_.commands.Push(DriverCommand(listed ? CMD_LISTED_MESSAGE : CMD_INCOMING, 0, std::move(message)));
}

bool MemoryReader::IsRepeat(const std::string& content) {
  const uint32_t now = Now();
  while (!recentDirect_.empty() && now - recentDirect_.front().second > kRepeatWindowSeconds) {
    recentDirect_.pop_front();
  }
  for (const auto& [seen, when] : recentDirect_) {
    if (seen != content) continue;
    // The modem delivers it again because it waits for the acknowledgement.
    context_.log.Write(LogLevel::kDetail, "Repeated delivery acknowledged");
    context_.sender.Push(std::make_unique<ATCommandMessage>("AT+CNMA\r\n"));
    return true;
  }
  if (recentDirect_.size() >= kRecentDirectMax) recentDirect_.pop_front();
  recentDirect_.emplace_back(content, now);
  return false;
}

void MemoryReader::FreeStaleLocations() {
  if (ConfiguredDeleteMode(context_.config) != DeleteMode::kLast) return;
  for (int index : pending_.TakeStaleIndexes(Now(), kStalePartSeconds)) {
    context_.sender.Push(DeleteByIndexCommand(index));
  }
}

void MemoryReader::Housekeeping() {
  FreeStaleLocations();
  int maxAge = context_.config.GetInt("receiver.incomplete_timeout");
  if (maxAge <= 0) maxAge = kDefaultIncompleteSeconds;
  for (std::vector<DecodedPdu>& parts : pending_.TakeExpired(Now(), static_cast<uint32_t>(maxAge))) {
    Deliver(std::move(parts), false, false);
  }
}

}  // namespace qm
