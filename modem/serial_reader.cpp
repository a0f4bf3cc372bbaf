// The transport's reader thread: waits on the port, drains what arrives,
// parses it and routes the events; turns silence while a reply is awaited
// into one "timeout" event, and a vanished device into one failure event.
#include <algorithm>
#include <climits>

#include "base/config_store.h"
#include "base/logger.h"
#include "modem/async_serial_comm.h"

namespace qm {
namespace {

// A reply that arrives in pieces is collected into one pass while the pieces
// follow each other this closely.
constexpr int kGatherMs = 10;
// The byte-by-byte reader reads until the modem pauses this long.
constexpr int kBytePauseMs = 500;
constexpr auto kRetryAfterFailure = std::chrono::milliseconds(1000);

bool EndsComplete(std::string_view pass) {
  const std::string_view trimmed = pass.substr(0, pass.find_last_not_of(' ') + 1);
  return !trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r' || trimmed.back() == '>');
}

AsyncEvent FailureEvent(const SysError& error) {
  AsyncEvent event;
  event.kind = EventKind::kFailure;
  event.code = error.code;
  event.text = error.text;
  return event;
}

}  // namespace

void AsyncSerialComm::StartReader() {
  KillReader();
  byteByByte_.store(config_.GetInt("serial.byte_by_byte") != 0);
  LaunchReader([this](std::stop_token stop) { ReaderLoop(stop); });
}

void AsyncSerialComm::LaunchReader(std::function<void(std::stop_token)> body) {
  KillReader();
  reader_ = std::jthread(std::move(body));
}

void AsyncSerialComm::ReaderLoop(std::stop_token stop) {
  while (WaitUsable(stop, LinkStatus::kError)) {
    const int timeout = AwaitedReplyTimeout();
    uint64_t generation = 0;
    SysError error;
    const SerialPort::WaitResult result = port_.WaitReadable(timeout, &generation, &error);
    if (stop.stop_requested()) break;
    switch (result) {
      case SerialPort::WaitResult::kReadable:
        // A read error other than a hang-up waits like a failed wait, so a
        // faulty port cannot flood the error slot.
        if (!Drain(generation)) SleepFor(stop, kRetryAfterFailure);
        break;
      case SerialPort::WaitResult::kTimeout:
        HandleReplyTimeout();
        break;
      case SerialPort::WaitResult::kWoken:
        if (txEmpty_.exchange(false)) PushEvent(ListenerSlot::kWriteDone, AsyncEvent{EventKind::kWriteDone, 0, {}, {}});
        break;
      case SerialPort::WaitResult::kHangup:
        HandleHangup(generation, error);
        break;
      case SerialPort::WaitResult::kClosed:
        ResetOpenEventIfClosed();
        break;
      case SerialPort::WaitResult::kFailed:
        ReportFailure(error);
        SleepFor(stop, kRetryAfterFailure);
        break;
    }
  }
}

bool AsyncSerialComm::Drain(uint64_t generation) {
  if (generation != parsedGeneration_) {
    // A half line left from an earlier opening of the port is not part of
    // anything this one will say.
    parser_.DiscardPending();
    parsedGeneration_ = generation;
  }
  const bool byteByByte = byteByByte_.load();
  std::string pass;
  char chunk[4096];
  for (;;) {
    if (pass.size() >= ReplyParser::kMaxPending) {
      FeedReceived(pass);
      pass.clear();
    }
    const std::size_t room = ReplyParser::kMaxPending - pass.size();
    const SerialPort::ReadResult r = port_.Read(chunk, byteByByte ? 1 : std::min(sizeof chunk, room));
    if (r.count > 0) {
      pass.append(chunk, r.count);
      continue;
    }
    if (r.hangup) {
      FeedReceived(pass);
      HandleHangup(generation, r.error);
      return true;
    }
    if (r.closed) break;
    if (r.error.code != kErrNone) {
      FeedReceived(pass);
      ReportFailure(r.error);
      return false;
    }
    // What ends with a line end or the data prompt is complete: hand it on
    // at once. Only a line still being received is worth waiting for.
    if (!byteByByte && EndsComplete(pass)) break;
    if (!port_.WaitMoreInput(byteByByte ? kBytePauseMs : kGatherMs)) break;
  }
  FeedReceived(pass);
  return true;
}

void AsyncSerialComm::HandleReplyTimeout() {
  {
    std::lock_guard lock(stateMutex_);
    if (!awaitingReply_) return;
    awaitingReply_ = false;
  }
  PushEvent(ListenerSlot::kErrors, AsyncEvent{EventKind::kError, 0, "timeout", {}});
}

void AsyncSerialComm::ReportFailure(const SysError& error) {
  SetLastError(error);
  PushEvent(ListenerSlot::kErrors, FailureEvent(error));
}

void AsyncSerialComm::HandleHangup(uint64_t generation, const SysError& error) {
  // Only the opening that hung up is closed; one reopened meanwhile stays.
  if (!port_.CloseGeneration(generation, true)) return;
  ResetOpenEventIfClosed();
  parser_.DiscardPending();
  SetLastError(error);
  log_.Write(LogLevel::kPortFailure, "Serial port: " + error.text);
  // The status goes to error before the event is seen, so that a sender
  // ending its command on the event does not set it back to ready.
  SetStatus(LinkStatus::kError);
  PushEvent(ListenerSlot::kErrors, FailureEvent(error));
}

}  // namespace qm
