// A modem on the master side of a pseudo-terminal.
//
// The code under test opens SlavePath() like any serial port, through the
// real termios path. Everything it writes is recorded byte for byte. A
// complete line (ended by "\r\n", "\r", Ctrl-Z or Esc) is answered by the
// simulated modem once Simulate() has made one (a dialect, a SIM store, a
// network and faults), or by a script of exact lines and a responder.
// Unplug() closes the master, which the slave side sees as a vanished
// device. Made with a link path, the modem is reached through a symbolic
// link there (as through /dev/serial/by-id) that goes with Unplug and comes
// back with Replug, so the same modem reappears at the same path.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/event_fd.h"
#include "tests/support/simulated_modem.h"
#include "platform/unique_fd.h"

namespace qm::test {

class FakeModem {
 public:
  FakeModem();
  explicit FakeModem(std::string linkPath);
  ~FakeModem();
  FakeModem(const FakeModem&) = delete;
  FakeModem& operator=(const FakeModem&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // The path a driver opens: the link path when there is one.
  const std::string& PortPath() const { return linkPath_.empty() ? slavePath_ : linkPath_; }

  // Answers every line as the simulated modem of that profile; the script
  // below still comes first.
  SimulatedModem& Simulate(ModemProfile profile = ModemProfile::UsbStick());
  SimulatedModem& Sim() { return *sim_; }
  // Answers `command` (the exact line including its end) with `reply`.
  void OnCommand(std::string command, std::string reply);
  // Answers the lines no OnCommand entry matches: the reply to send, or
  // nullopt for none. Runs on the modem's thread.
  using Responder = std::function<std::optional<std::string>(const std::string& line)>;
  void SetResponder(Responder responder);
  // Writes bytes to the slave side, as the modem saying them.
  void Send(std::string_view bytes);
  // Everything received from the slave side so far.
  std::string Received() const;
  // Waits (at most `limit`) until the received bytes contain `text`.
  bool WaitForReceived(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;
  // Closes the master: the slave side hangs up.
  void Unplug();
  // A new pseudo-terminal behind the same link path, as a replugged device
  // gets a new node; the simulated modem powers on again.
  void Replug();
  // Writes every reply in small pieces with pauses, as slow links and USB
  // packets cut them.
  void SetSplitWrites(bool split) { splitWrites_ = split; }
  // What the kernel does when a killed program's last descriptor of a real
  // port closes: the exclusive mode it set goes. (This fake keeps the slave
  // open itself, so it must be told.)
  void ForgetExclusiveMode();

 private:
  void OpenPty();
  void Link();
  void Run(std::stop_token stop);
  void AnswerCompleteLines();

  UniqueFd master_;
  UniqueFd heldSlave_;  // keeps the master from seeing a hang-up while the transport reopens
  std::string slavePath_;
  std::string linkPath_;
  EventFd stopEvent_;

  mutable std::mutex mutex_;
  mutable std::condition_variable received_cv_;
  std::string received_;
  std::string pending_;
  std::map<std::string, std::string> script_;
  Responder responder_;
  std::unique_ptr<SimulatedModem> sim_;
  std::mutex writeMutex_;  // one reply or unsolicited line at a time
  std::atomic<bool> splitWrites_{false};
  std::jthread thread_;
};

}  // namespace qm::test
