#include "modem/async_serial_comm.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <utility>

#include "base/config_store.h"
#include "base/logger.h"
#include "modem/pin_mask.h"
#include "platform/utf.h"
#include "sms/hex.h"

namespace qm {
namespace {

constexpr std::string_view kStatusTexts[] = {"disconnected", "ready", "configuring", "busy", "error"};

std::string RemoveCrLf(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      ++i;
      continue;
    }
    out.push_back(bytes[i]);
  }
  return out;
}


}  // namespace

std::string_view LinkStatusText(LinkStatus status) {
  return kStatusTexts[static_cast<std::size_t>(status)];
}

uint64_t SteadyMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

AsyncSerialComm::AsyncSerialComm(const ConfigStore& config, Logger& log, MonotonicMsClock clock)
    : config_(config), log_(log), clock_(std::move(clock)) {
  statusTime_ = static_cast<int64_t>(::time(nullptr));
  statusTick_ = clock_();
}

AsyncSerialComm::~AsyncSerialComm() {
  AsyncSerialComm::KillReader();
  AsyncSerialComm::Close();
}

// ---- reader thread control ----

void AsyncSerialComm::RequestStop() {
  // Waits on the state condition take the reader's stop token: the request
  // ends them. A wait on the port needs its wake-up.
  reader_.request_stop();
  port_.WakeReader();
}

void AsyncSerialComm::KillReader() {
  RequestStop();
  if (reader_.joinable()) reader_.join();
  reader_ = std::jthread();
}

// ---- port ----

bool AsyncSerialComm::Open(const std::string& port) {
  const std::string path =
      port.empty() ? std::string()
                   : BuildPortPath(port, config_.GetInt("port.use_prefix") != 0, config_.GetString("port.prefix"));
  {
    std::lock_guard lock(errorMutex_);
    portPath_ = path;
  }
  // A port still open is closed first; the status stays as the caller set it.
  ResetOpenEvent();
  EndCommandInFlight();
  if (port_.Close(true)) log_.Write(LogLevel::kDetail, "Serial port closed");
  const SysError error = port_.Open(path);
  if (error.code != kErrNone) {
    SetStatus(LinkStatus::kError);
    SetLastError(error);
    return false;
  }
  ClearLastError();
  Purge();
  SignalOpen();
  return true;
}

bool AsyncSerialComm::Close() {
  ResetOpenEvent();
  EndCommandInFlight();
  if (port_.Close(true)) log_.Write(LogLevel::kDetail, "Serial port closed");
  SetStatus(LinkStatus::kDisconnected);
  return true;
}

bool AsyncSerialComm::Configure(uint32_t baudRate, int parity, int byteSize, int stopBits, int parityCheck) {
  const LineSettings settings{baudRate, parity, byteSize, stopBits, (parityCheck & 1) != 0};
  const SysError error = port_.Configure(settings);
  if (error.code != kErrNone) {
    SetStatus(LinkStatus::kError);
    SetLastError(error);
    return false;
  }
  return true;
}

bool AsyncSerialComm::SetTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, uint32_t readInterval,
                                  uint32_t readMultiplier, uint32_t readConstant) {
  port_.SetTimeouts(PortTimeouts{writeMultiplier, writeConstant, readInterval, readMultiplier, readConstant});
  return true;
}

// ---- writes ----

void AsyncSerialComm::LogSent(std::string_view bytes, bool removeLineEnds) {
  const std::string text = removeLineEnds ? RemoveCrLf(bytes) : std::string(bytes);
  log_.Write(LogLevel::kDetail, "Sent: " + MaskPin(SanitizeUtf8(text)));
}

void AsyncSerialComm::WriteDone(std::string bytes) {
  AsyncEvent event;
  event.kind = EventKind::kWriteDone;
  event.bytes = std::move(bytes);
  PushEvent(ListenerSlot::kWriteDone, std::move(event));
  if (byteByByte_.load()) {
    // The byte-by-byte reader reports "transmit buffer empty" as well.
    port_.DrainOutput();
    txEmpty_.store(true);
  }
  port_.WakeReader();
}

bool AsyncSerialComm::WriteCommand(std::string_view bytes) {
  LogSent(bytes, true);
  // The receive buffer is left alone: it belongs to the reader, and a reply
  // line that is half received must not be cut.
  ClearLastError();
  const SysError error = port_.Write(bytes);
  if (error.code != kErrNone && error.code != kErrIoPending) {
    SetLastError(error);
    return false;
  }
  WriteDone({});
  return true;
}

bool AsyncSerialComm::WriteTextData(std::string_view bytes) {
  LogSent(bytes, false);
  std::string data(bytes);
  data.push_back('\x1A');
  ClearLastError();
  const SysError error = port_.Write(data);
  if (error.code != kErrNone && error.code != kErrIoPending) {
    SetLastError(error);
    return false;
  }
  WriteDone(std::string(bytes));
  return true;
}

bool AsyncSerialComm::WriteHexData(std::string_view bytes) { return WriteTextData(BytesToHex(bytes, HexCase::kUpper)); }

bool AsyncSerialComm::Reserved(std::string_view, std::string_view) { return true; }

// ---- open event ----

void AsyncSerialComm::SignalOpen() {
  {
    std::lock_guard lock(stateMutex_);
    openSignalled_ = true;
  }
  stateCv_.notify_all();
}

void AsyncSerialComm::ResetOpenEvent() {
  std::lock_guard lock(stateMutex_);
  openSignalled_ = false;
}

void AsyncSerialComm::ResetOpenEventIfClosed() {
  // Under the status lock, so that an Open that has just succeeded (it
  // signals under the same lock after opening) is never undone.
  std::lock_guard lock(stateMutex_);
  if (!port_.IsOpen()) openSignalled_ = false;
}

bool AsyncSerialComm::WaitOpen(std::stop_token stop) {
  std::unique_lock lock(stateMutex_);
  // The wait returns the predicate's value even when stopped: a stop wins.
  return stateCv_.wait(lock, stop, [&] { return openSignalled_; }) && !stop.stop_requested();
}

bool AsyncSerialComm::IsOpenSignalled() const {
  std::lock_guard lock(stateMutex_);
  return openSignalled_;
}

bool AsyncSerialComm::WaitUsable(std::stop_token stop, LinkStatus alsoBlocked) {
  std::unique_lock lock(stateMutex_);
  return stateCv_.wait(lock, stop,
                       [&] { return openSignalled_ && status_ != LinkStatus::kDisconnected && status_ != alsoBlocked; }) &&
         !stop.stop_requested();
}

bool AsyncSerialComm::SleepFor(std::stop_token stop, std::chrono::milliseconds duration) {
  std::unique_lock lock(stateMutex_);
  stateCv_.wait_for(lock, stop, duration, [] { return false; });
  return !stop.stop_requested();
}

// ---- status ----

LinkStatus AsyncSerialComm::GetStatus() const {
  std::lock_guard lock(stateMutex_);
  return status_;
}

void AsyncSerialComm::SetStatus(LinkStatus status) {
  {
    std::lock_guard lock(stateMutex_);
    log_.Write(LogLevel::kDetail, "Status: " + std::to_string(static_cast<int>(status)));
    status_ = status;
    statusTime_ = static_cast<int64_t>(::time(nullptr));
    statusTick_ = clock_();
  }
  stateCv_.notify_all();
}

int64_t AsyncSerialComm::StatusTime() const {
  std::lock_guard lock(stateMutex_);
  return statusTime_;
}

void AsyncSerialComm::SetAwaitingReply(bool awaiting, uint32_t timeoutMs) {
  {
    std::lock_guard lock(stateMutex_);
    awaitingReply_ = awaiting;
    awaitTimeoutMs_ = timeoutMs;
  }
  // The reader may be waiting without a limit: wake it so that the reply
  // timeout starts counting now.
  if (awaiting) port_.WakeReader();
}

void AsyncSerialComm::EndCommandInFlight() {
  {
    std::lock_guard lock(stateMutex_);
    if (!awaitingReply_) return;
    awaitingReply_ = false;
  }
  // No reply can come through a closed port: the command in flight fails
  // now rather than time out in the middle of whatever follows.
  PushEvent(ListenerSlot::kErrors, AsyncEvent{EventKind::kFailure, kErrInvalidHandle, "The port was closed", {}});
}

bool AsyncSerialComm::IsAwaitingReply() const {
  std::lock_guard lock(stateMutex_);
  return awaitingReply_;
}

int AsyncSerialComm::AwaitedReplyTimeout() const {
  std::lock_guard lock(stateMutex_);
  if (!awaitingReply_) return -1;
  const uint32_t ms = awaitTimeoutMs_ != 0 ? awaitTimeoutMs_ : replyTimeoutMs_.load();
  return static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
}

void AsyncSerialComm::SetReplyTimeout(uint32_t milliseconds) { replyTimeoutMs_.store(milliseconds); }

uint32_t AsyncSerialComm::ReplyTimeout() const { return replyTimeoutMs_.load(); }

bool AsyncSerialComm::CheckBusyTimeout() {
  {
    std::lock_guard lock(stateMutex_);
    if (status_ != LinkStatus::kBusy) return false;
    // Whole seconds, as the limit has always been given; 64-bit so that no
    // timeout value can overflow.
    const uint64_t limitMs = uint64_t{replyTimeoutMs_.load()} * 5 / 1000 * 1000;
    const uint64_t now = clock_();
    const uint64_t elapsed = now > statusTick_ ? now - statusTick_ : 0;
    if (elapsed <= limitMs) return false;
    log_.Write(LogLevel::kError, "Status BUSY for a long time, resetting");
    log_.Write(LogLevel::kDetail, "Status: " + std::to_string(static_cast<int>(LinkStatus::kReady)));
    status_ = LinkStatus::kReady;
    statusTime_ = static_cast<int64_t>(::time(nullptr));
    statusTick_ = now;
  }
  stateCv_.notify_all();
  return true;
}

// ---- listeners ----

ListenerQueue* AsyncSerialComm::SetListener(ListenerQueue* queue, ListenerSlot slot) {
  std::lock_guard lock(listenerMutex_);
  return std::exchange(listeners_[static_cast<std::size_t>(slot)], queue);
}

void AsyncSerialComm::PushEvent(ListenerSlot slot, AsyncEvent event) {
  // Pushed under the lock so that a queue cannot be unregistered (and then
  // destroyed by its owner) while an event is being handed to it.
  std::lock_guard lock(listenerMutex_);
  event.serial = ++eventSerial_;
  if (ListenerQueue* queue = listeners_[static_cast<std::size_t>(slot)]) {
    queue->PushBounded(std::move(event), kListenerQueueCapacity);
  }
}

uint64_t AsyncSerialComm::EventSerial() const {
  std::lock_guard lock(listenerMutex_);
  return eventSerial_;
}

void AsyncSerialComm::Purge() {
  port_.Purge();
  std::lock_guard lock(listenerMutex_);
  for (ListenerQueue* queue : listeners_) {
    if (queue) queue->Clear();
  }
}

void AsyncSerialComm::ClearReplyQueues() {
  std::lock_guard lock(listenerMutex_);
  for (std::size_t slot = 0; slot < kListenerSlotCount; ++slot) {
    if (static_cast<ListenerSlot>(slot) == ListenerSlot::kIncoming) continue;
    if (ListenerQueue* queue = listeners_[slot]) queue->Clear();
  }
}

void AsyncSerialComm::FeedReceived(std::string_view bytes) {
  if (bytes.empty()) return;
  ReplyParser::Output out = parser_.Feed(bytes);
  if (out.overflow) {
    log_.Write(LogLevel::kError, "Serial port: " + std::to_string(ReplyParser::kMaxPending) +
                      " bytes received without a line end, discarded");
  }
  for (RoutedEvent& routed : out.events) {
    if (routed.unsolicited) {
      // News the modem sends on its own ("+CREG: 1", "RING") is no reply to
      // the command in flight.
      log_.Write(LogLevel::kError, "Serial port: unsolicited result ignored: " + routed.event.text);
      continue;
    }
    PushEvent(routed.slot, std::move(routed.event));
  }
}

// ---- errors ----

void AsyncSerialComm::SetLastError(SysError error) {
  std::lock_guard lock(errorMutex_);
  lastError_ = std::move(error);
}

SysError AsyncSerialComm::LastError() const {
  std::lock_guard lock(errorMutex_);
  return lastError_;
}

std::string AsyncSerialComm::PortPath() const {
  std::lock_guard lock(errorMutex_);
  return portPath_;
}

}  // namespace qm
