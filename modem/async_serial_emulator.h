// The built-in modem emulator: a transport without hardware.
//
// Everything written is answered from a table of canned replies that is fed
// through the normal reply parser, so the rest of the driver runs unchanged.
// A PDU whose text is "SEND <number> <text>" also comes back as a received
// message from <number>: a way to test the receiving side by hand.
//
// Threads: as for AsyncSerialComm. Writes only queue the written bytes; the
// emulator thread (in place of the reader) answers them one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "modem/async_serial_comm.h"
#include "modem/modem_event_sink.h"
#include "platform/blocking_queue.h"

namespace qm {

// The emulator's pauses: before every reply, and in addition before the
// replies that come "from the network" (a sent PDU, a USSD request).
// Tests shorten them.
struct EmulatorDelays {
  std::chrono::milliseconds reply{200};
  std::chrono::milliseconds network{2000};
};

class AsyncSerialEmulator final : public AsyncSerialComm {
 public:
  AsyncSerialEmulator(const ConfigStore& config, Logger& log, ModemEventSink& events,
                      EmulatorDelays delays = EmulatorDelays{});
  ~AsyncSerialEmulator() override;

  void StartReader() override;
  bool Open(const std::string& port) override;
  bool Close() override;
  bool Configure(uint32_t baudRate, int parity, int byteSize, int stopBits, int parityCheck) override;
  bool SetTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, uint32_t readInterval,
                   uint32_t readMultiplier, uint32_t readConstant) override;
  bool WriteCommand(std::string_view bytes) override;
  // Lower-case hex, then as WriteTextData.
  bool WriteHexData(std::string_view bytes) override;
  bool WriteTextData(std::string_view bytes) override;

  // The reference the next "+CMGS:" reply reports (starts at 1).
  uint32_t NextReference() const { return reference_.load(); }

 private:
  void Run(std::stop_token stop);
  // Turns a written "SEND <number> <text>" PDU into a received message.
  void InjectIncoming(std::string_view writtenHex);

  ModemEventSink& events_;
  const EmulatorDelays delays_;
  BlockingQueue<std::string> written_;
  std::atomic<uint32_t> reference_{1};
  // Counts opens and closes: an answer prepared before one is never heard,
  // as a reopened port drops what the modem said to the closed one.
  std::atomic<uint64_t> session_{0};
};

}  // namespace qm
