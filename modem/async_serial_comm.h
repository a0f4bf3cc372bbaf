// The serial transport to the GSM modem.
//
// Owns the port, writes AT commands and message bodies, and runs one reader
// thread that collects the modem's bytes, parses them into lines and routes
// every reply, error and time-out as an AsyncEvent to up to six listener
// queues. It keeps the link status (0 disconnected, 1 ready, 2 configuring,
// 3 busy, 4 error). One instance exists per process: this class, or the
// built-in emulator derived from it.
//
// Threads:
//  - StartReader, RequestStop, KillReader and destruction: the owner (start-up
//    and exit), never concurrently with each other.
//  - Open, Close, Configure, SetTimeouts, Purge: the command thread.
//  - WriteCommand, WriteHexData, WriteTextData: the sending worker (one writer
//    at a time).
//  - Status, awaiting-reply flag, reply timeout, listeners, LastError,
//    CheckBusyTimeout, WaitOpen: any thread.
//  - The receive buffer and the reply parser belong to the reader thread alone.
#pragma once

#include <array>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "modem/link_status.h"
#include "modem/listener_queue.h"
#include "modem/reply_parser.h"
#include "platform/errors.h"
#include "platform/serial_port.h"

namespace qm {

class ConfigStore;
class Logger;

// A monotonic millisecond clock; injectable so the busy check can be tested.
using MonotonicMsClock = std::function<uint64_t()>;
uint64_t SteadyMilliseconds();

class AsyncSerialComm {
 public:
  static constexpr uint32_t kDefaultReplyTimeoutMs = 10000;

  AsyncSerialComm(const ConfigStore& config, Logger& log, MonotonicMsClock clock = SteadyMilliseconds);
  virtual ~AsyncSerialComm();
  AsyncSerialComm(const AsyncSerialComm&) = delete;
  AsyncSerialComm& operator=(const AsyncSerialComm&) = delete;

  // ---- operations a transport may replace, in this order ----

  // Starts the reader thread (stopping a running one first): the byte-by-byte
  // reader when "serial.byte_by_byte" is non-zero, else the block reader.
  virtual void StartReader();
  // Asks the reader to end and wakes it; returns at once.
  virtual void RequestStop();
  // Stops the reader and waits for it to end.
  virtual void KillReader();
  // Opens the port named by a configured port name ("port.use_prefix" and
  // "port.prefix" apply). On failure: status 4 and LastError. Does not log.
  virtual bool Open(const std::string& port);
  // Closes the port: the reader goes back to waiting, status 0.
  virtual bool Close();
  // Line settings; parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits
  // 0 one, 1 one and a half, 2 two. On failure: status 4 and LastError.
  virtual bool Configure(uint32_t baudRate, int parity, int byteSize, int stopBits, int parityCheck);
  virtual bool SetTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, uint32_t readInterval,
                           uint32_t readMultiplier, uint32_t readConstant);
  // Writes an AT command line; a kind-1 event goes to slot 0 once written.
  virtual bool WriteCommand(std::string_view bytes);
  // Writes the bytes as upper-case hex followed by Ctrl-Z.
  virtual bool WriteHexData(std::string_view bytes);
  // Writes the bytes followed by Ctrl-Z; the kind-1 event carries the bytes.
  virtual bool WriteTextData(std::string_view bytes);
  // Kept for the order of operations; does nothing.
  virtual bool Reserved(std::string_view first, std::string_view second);

  // ---- common operations ----

  // Blocks until the port is usable or `stop` is requested; false then.
  bool WaitOpen(std::stop_token stop);
  bool IsOpenSignalled() const;

  LinkStatus GetStatus() const;
  void SetStatus(LinkStatus status);
  bool IsConnected() const { return GetStatus() != LinkStatus::kDisconnected; }
  // Seconds since 1970 at the last status change.
  int64_t StatusTime() const;

  // Setting the flag wakes the reader, so that the reply timeout starts now.
  // `timeoutMs` (when not 0) replaces the reply timeout for this one wait: a
  // submission to the network may take far longer than a command.
  void SetAwaitingReply(bool awaiting, uint32_t timeoutMs = 0);
  bool IsAwaitingReply() const;
  // The timeout of the reply awaited now in ms; -1 when none is awaited.
  int AwaitedReplyTimeout() const;
  void SetReplyTimeout(uint32_t milliseconds);
  uint32_t ReplyTimeout() const;

  // Registers `queue` in `slot` and returns the previous one.
  ListenerQueue* SetListener(ListenerQueue* queue, ListenerSlot slot);
  // Discards pending port input and output and clears every listener queue.
  void Purge();
  // Clears the reply queues but keeps the unsolicited results waiting on the
  // incoming slot and in the port ("+CMTI:" right after AT+CNMI=).
  void ClearReplyQueues();
  // Puts a note of the driver's own on the incoming slot, in line with what
  // the modem says there (a command about to be written, a marker).
  void NoteOnIncomingSlot(AsyncEvent note) { PushEvent(ListenerSlot::kIncoming, std::move(note)); }
  // The serial number of the last event pushed to a listener: an event with
  // a larger one came later.
  uint64_t EventSerial() const;
  // Resets a status stuck at busy for more than reply timeout x 5 ms to ready.
  bool CheckBusyTimeout();

  // The last failure of Open, Configure, SetTimeouts or a write (code 0: none).
  SysError LastError() const;
  // The path the port was last opened as.
  std::string PortPath() const;

 protected:
  // Pushes to the queue registered in the slot; dropped when there is none.
  void PushEvent(ListenerSlot slot, AsyncEvent event);
  // Parses freshly received bytes and routes the events (reader thread only).
  void FeedReceived(std::string_view bytes);
  void SetLastError(SysError error);
  void ClearLastError() { SetLastError(SysError{}); }
  void LogSent(std::string_view bytes, bool removeLineEnds);
  // Ends the command that awaits a reply with a failure event (the port is
  // being closed).
  void EndCommandInFlight();
  // The awaited reply did not come in time: the "timeout" event, once.
  void EndAwaitedReply() { HandleReplyTimeout(); }
  void SignalOpen();
  void ResetOpenEvent();
  // Waits until the port is usable and the status is neither disconnected
  // nor `alsoBlocked`; false when stopped.
  bool WaitUsable(std::stop_token stop, LinkStatus alsoBlocked);
  // Stops a running reader thread and starts `body` as the new one.
  void LaunchReader(std::function<void(std::stop_token)> body);
  // Sleeps, ending early on a stop request; false when stopped.
  bool SleepFor(std::stop_token stop, std::chrono::milliseconds duration);

  const ConfigStore& config_;
  Logger& log_;
  std::jthread reader_;

 private:
  void ReaderLoop(std::stop_token stop);
  // Reads everything the port has (in blocks, or byte by byte with a 500 ms
  // pause limit) and parses it once; false after a read error.
  bool Drain(uint64_t generation);
  // Reports a failure of the wait or a read as a kind-9 event.
  void ReportFailure(const SysError& error);
  // The device vanished: one kind-9 event, status 4, the port closed.
  void HandleHangup(uint64_t generation, const SysError& error);
  void HandleReplyTimeout();
  // The port was closed under the reader: wait for it to be opened again.
  void ResetOpenEventIfClosed();
  void WriteDone(std::string bytes);

  MonotonicMsClock clock_;
  SerialPort port_;
  ReplyParser parser_;            // reader thread only
  uint64_t parsedGeneration_ = 0;  // reader thread only
  std::atomic<bool> byteByByte_{false};
  std::atomic<bool> txEmpty_{false};

  mutable std::mutex stateMutex_;  // the status lock
  std::condition_variable_any stateCv_;
  LinkStatus status_ = LinkStatus::kDisconnected;
  int64_t statusTime_ = 0;
  uint64_t statusTick_ = 0;
  bool awaitingReply_ = false;
  uint32_t awaitTimeoutMs_ = 0;
  bool openSignalled_ = false;
  std::atomic<uint32_t> replyTimeoutMs_{kDefaultReplyTimeoutMs};

  mutable std::mutex listenerMutex_;
  std::array<ListenerQueue*, kListenerSlotCount> listeners_{};
  uint64_t eventSerial_ = 0;  // under listenerMutex_

  mutable std::mutex errorMutex_;
  SysError lastError_;
  std::string portPath_;
};

}  // namespace qm
