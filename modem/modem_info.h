// The modem object: runs the initialisation sequence after the port has been
// opened, and holds what it found out (features, failures, model, signal
// strength, message memories).
//
// The sequence is a state machine fed with the reply events of the commands
// it queues: the command thread calls ProcessEvent first with an OK event to
// start, then with the event of every CMD_MODEM_EVENT record until it reports
// the ready state. No reply is fatal: errors end in a notification, a failure
// bit or nothing, and the sequence goes on.
//
// Threads: Reset and ProcessEvent on the command thread only; every accessor
// from any thread (atomics, and a lock for the texts).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "modem/async_event.h"
#include "modem/at_command_message.h"
#include "modem/init_steps.h"
#include "modem/modem_sender.h"

namespace qm {

class ConfigStore;

class ModemInfo {
 public:
  // Shows a desktop notification (title, text).
  using Notify = std::function<void(const std::string& title, const std::string& text)>;

  ModemInfo(ConfigStore& config, ModemCommandQueue& commands, Notify notify);

  // Before every connection attempt: back to state 0 with nothing known.
  void Reset(bool useFeatures, uint32_t checks);
  // Advances the sequence with one reply event; true once it is ready.
  bool ProcessEvent(const AsyncEvent& event);
  bool IsReady() const { return state_.load() == kInitReady; }

  int State() const { return state_.load(); }
  uint32_t Features() const { return features_.load(); }
  uint32_t Failures() const { return failures_.load(); }
  uint32_t Checks() const { return checks_.load(); }
  int FailureCount() const { return failureCount_.load(); }
  int SignalStrength() const { return signal_.load(); }
  bool Problems() const { return problems_.load(); }
  bool UseFeatures() const { return useFeatures_.load(); }
  std::string Model() const;
  // Memory 0 reads, 1 writes and sends, 2 receives; another index is "".
  std::string Memory(int index) const;
  void SetMemory(int index, std::string name);

  // "AT+CPMS=" with the memory names up to the first empty one; nullptr when
  // memory 0 is empty.
  std::unique_ptr<ATCommandMessage> MakeSelectMemoryCommand() const;

 private:
  // What one state handler decided.
  struct Step {
    bool advance = false;      // false: wait for the next event
    InitState next = kInitSendInit;
    std::string command;       // queued when not empty
    bool continueNow = false;  // run the next state at once with an OK event
  };
  static Step Wait() { return Step{}; }
  static Step Send(std::string command, InitState next) { return Step{true, next, std::move(command), false}; }
  static Step Continue(InitState next) { return Step{true, next, {}, true}; }
  static Step Finish() { return Step{true, kInitReady, {}, false}; }

  Step Handle(InitState state, const AsyncEvent& event);
  Step HandleListProbe(const ListProbe& probe, const AsyncEvent& event);
  Step HandleCmeeSupport(const AsyncEvent& event);
  Step HandleMemories(const AsyncEvent& event);
  Step HandleSignal(const AsyncEvent& event);
  Step HandleSendMode();
  Step SmscOrCustomInit();
  Step CustomInit();

  void SetFeaturesFromList(InitState state, const AsyncEvent& event, bool* parseFailed);
  // Notifies "<text><event text or the invalid-reply text>. " as a problem.
  void Report(std::string_view text, const AsyncEvent* event, bool problem);
  // A probe failed: notification, failure bit, failure count.
  void ProbeFailed(uint32_t failure, std::string_view text, const AsyncEvent* event);
  bool IsSkipped(InitState state) const;
  uint32_t AssumedFor(InitState state) const;
  void ChooseReadMode();
  std::string NotificationCommand() const;

  ConfigStore& config_;
  ModemCommandQueue& commands_;
  Notify notify_;

  std::atomic<int> state_{kInitSendInit};
  std::atomic<int> customIndex_{0};
  std::atomic<uint32_t> checks_{kAllChecks};
  std::atomic<uint32_t> features_{0};
  std::atomic<uint32_t> failures_{0};
  std::atomic<int> failureCount_{0};
  std::atomic<int> signal_{0};
  std::atomic<bool> useFeatures_{true};
  std::atomic<bool> problems_{false};

  mutable std::mutex textMutex_;
  std::string model_;
  std::array<std::string, 3> memories_;
};

}  // namespace qm
