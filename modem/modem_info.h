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
// Threads: command thread only; nothing here is locked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
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
  bool IsReady() const { return state_ == InitState::kReady; }

  InitState State() const { return state_; }
  uint32_t Features() const { return features_; }
  uint32_t Failures() const { return failures_; }
  uint32_t Checks() const { return checks_; }
  int FailureCount() const { return failureCount_; }
  int SignalStrength() const { return signal_; }
  bool Problems() const { return problems_; }
  bool UseFeatures() const { return useFeatures_; }
  std::string Model() const { return model_; }
  // Memory 0 reads, 1 writes and sends, 2 receives; another index is "".
  std::string Memory(int index) const;
  void SetMemory(int index, std::string name);

  // "AT+CPMS=" with the memory names up to the first empty one; nullptr when
  // memory 0 is empty.
  std::unique_ptr<ATCommandMessage> MakeSelectMemoryCommand() const;

 private:
  // Reads one event of the current step; true when the step is over.
  bool HandleReply(const InitStep& step, const AsyncEvent& event);
  // Sends the current step's command again after a pause; false when it has
  // none.
  bool RetryStep();
  void NotificationsRefused();
  void ReadReplyLine(const InitStep& step, const AsyncEvent& event);
  InitState NextState(const InitStep& step);
  // The command sent on entering `step`; empty for none.
  std::string BuildCommand(const InitStep& step);
  // Notifies "<text><event text or the invalid-reply text>. ".
  void Report(std::string_view text, const AsyncEvent* event, bool problem);
  // A probe failed: notification, failure bit, failure count.
  void ProbeFailed(const InitStep& step, const AsyncEvent* event);
  void ChooseReadMode();
  std::string NotificationCommand() const;
  std::string SendModeCommand();
  std::string SmscAddress() const;

  ConfigStore& config_;
  ModemCommandQueue& commands_;
  Notify notify_;

  InitState state_ = InitState::kSendInit;
  int customIndex_ = 0;
  int simBusyRetries_ = 0;  // of the current step
  uint32_t checks_ = kAllChecks;
  uint32_t features_ = 0;
  uint32_t failures_ = 0;
  int failureCount_ = 0;
  int signal_ = 0;
  bool useFeatures_ = true;
  bool problems_ = false;
  std::string model_;
  std::array<std::string, 3> memories_;
  // The PIN the SIM called incorrect. Kept across connections and not sent
  // again until "modem.pin" changes: every reconnection would try it, and
  // the third wrong try locks the SIM.
  std::string refusedPin_;
};

}  // namespace qm
