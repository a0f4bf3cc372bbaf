// A serial port on Linux: termios on a non-blocking descriptor, waited on
// with poll().
//
// The port is opened exclusively (TIOCEXCL plus flock) and always put in raw
// mode: a Linux tty echoes and translates line ends by default, and a modem
// dialogue must see its bytes unchanged. Line settings follow the fields of a
// Windows device control block (baud rate, parity 0-4, byte size, stop-bit code
// 0/1/2, parity check) so the driver's settings keep their meaning.
//
// Threads: one reader thread calls WaitReadable/Read/WaitMoreInput; any other
// thread may Open, Close, Configure, Write and WakeReader. The descriptor is
// never closed while another thread uses it: Close wakes every waiter, waits
// until nobody uses the descriptor, and only then closes it (Linux reuses fd
// numbers at once, so closing under poll() could make it wait on another file).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/event_fd.h"

namespace qm {

// Line settings in the terms of a Windows device control block.
struct LineSettings {
  uint32_t baudRate = 115200;
  int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int byteSize = 8;  // 5..8
  int stopBits = 0;  // 0 one, 1 one and a half (5 data bits only), 2 two
  bool parityCheck = false;
};

// Port time-outs in milliseconds. Only the write pair has an effect on Linux:
// a write may take writeMultiplier x length + writeConstant (both 0: no limit).
// Reads are driven by poll() and the reader's own time-outs.
struct PortTimeouts {
  uint32_t writeMultiplier = 0;
  uint32_t writeConstant = 0;
  uint32_t readInterval = 0;
  uint32_t readMultiplier = 0;
  uint32_t readConstant = 0;
};

// The path a port name is opened as. With `usePrefix` the prefix is put in
// front of the name as it is (an empty prefix leaves the bare name); otherwise
// an absolute name is used as it is and any other name is looked up in /dev.
std::string BuildPortPath(std::string_view name, bool usePrefix, std::string_view prefix);

class SerialPort {
 public:
  enum class WaitResult {
    kReadable,  // input is waiting
    kWoken,     // WakeReader was called
    kTimeout,   // nothing within the time-out
    kHangup,    // the device is gone (unplugged, pty master closed)
    kClosed,    // the port is not open or is being closed
    kFailed,    // poll() failed; see the error
  };

  struct ReadResult {
    std::size_t count = 0;  // bytes read; 0 with no flag set: nothing waiting
    bool hangup = false;    // the device is gone
    bool closed = false;    // the port is not open or is being closed
    SysError error;         // any other failure
  };

  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `path` (closing an open port first), exclusively, in raw mode with
  // DTR and RTS on. A port another program holds (exclusive mode or flock)
  // fails with code 5 before anything about it is changed, also for root.
  // Nothing pending is discarded (callers Purge where they mean to). An
  // empty path fails with code 123 before anything is tried.
  SysError Open(const std::string& path);

  // Whether `path` could be opened, checked without changing its settings
  // (code 0: free; 5: another program holds it).
  static SysError IsFree(const std::string& path);

  // Wakes every user of the descriptor, waits until none is left, optionally
  // discards pending input and output, and closes. True when a port was open.
  bool Close(bool purge);
  // Closes only when the port is still the one opened as `generation`
  // (the reader uses this so that it never closes a port reopened meanwhile).
  bool CloseGeneration(uint64_t generation, bool purge);

  bool IsOpen() const;
  // Counts every successful Open; identifies one opening of the port.
  uint64_t Generation() const;

  SysError Configure(const LineSettings& settings);
  void SetTimeouts(const PortTimeouts& timeouts);
  PortTimeouts Timeouts() const;

  // Writes all of `data`, waiting for room within the write time-out.
  SysError Write(std::string_view data);
  // Discards pending input and output (tcflush).
  SysError Purge();
  // Waits until the output has been transmitted (tcdrain).
  SysError DrainOutput();

  // Reader: waits for input, a wake-up, a hang-up or the time-out (-1: none).
  // `generation` receives the opening the wait was made on.
  WaitResult WaitReadable(int timeoutMs, uint64_t* generation, SysError* error);
  // Reader: reads what is waiting, without blocking.
  ReadResult Read(char* buffer, std::size_t size);
  // Reader: waits up to `timeoutMs` for more input without consuming a
  // wake-up; true when input (or a hang-up) is waiting.
  bool WaitMoreInput(int timeoutMs);
  // Any thread: makes a pending or the next WaitReadable return kWoken.
  void WakeReader();

  // Synchronous exchange helper: reads until `silenceMs` pass without a byte
  // or `max` bytes have arrived. An error only when nothing could be read.
  SysError ReadUntilSilence(std::string& out, std::size_t max, int silenceMs);

 private:
  class Use;  // marks the descriptor as in use for the duration of a call

  bool CloseLocked(std::unique_lock<std::mutex>& lock, bool purge);

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  int fd_ = -1;
  int users_ = 0;
  bool closing_ = false;
  uint64_t generation_ = 0;
  PortTimeouts timeouts_;
  EventFd wake_;     // reader wake-ups
  EventFd closing_event_;  // signalled while a close waits for the users to leave
};

}  // namespace qm
