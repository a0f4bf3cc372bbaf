// The life of the connection to the modem: connect, the initialisation
// sequence, disconnect, the configuring phase, the periodic reset and the
// reconnection check. Replies of commands that arrive once the modem is ready
// go to the memory listing while one runs; a USSD reply is decoded and
// handed to its waiter.
//
// Every change of the link happens here, on the command thread: the frame's
// Connect and Disconnect and the timers post commands instead of acting.
//
// Threads: command thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "gateway/gateway_context.h"
#include "gateway/request_completion.h"
#include "modem/async_event.h"

namespace qm {

class MemoryListing;
class ModemInfo;
class Outbox;
class USSDSyncObserverQueue;
struct ModemCapabilities;

class ModemSession {
 public:
  ModemSession(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing, Outbox& outbox,
               ModemCapabilities& capabilities, USSDSyncObserverQueue& ussdWaiters);
  ModemSession(const ModemSession&) = delete;
  ModemSession& operator=(const ModemSession&) = delete;

  // CMD_CONNECT: opens and configures the port and starts the
  // initialisation. `done` learns whether the port could be opened.
  void Connect(RequestCompletion done);
  // CMD_DISCONNECT: stops the timers of the connection, ends the command in
  // progress and closes the port. The user's disconnect also stops the
  // reconnection tries; one that is part of a reconnection does not.
  void Disconnect(bool reconnecting, RequestCompletion done);
  // The `result` of a CMD_DISCONNECT that is part of a reconnection.
  static constexpr int32_t kReconnecting = 1;
  // CMD_MODEM_EVENT.
  void OnModemEvent(const AsyncEvent& event, bool success);
  // CMD_MODEM_EVENT with kUnsolicitedLine: a line the modem sent on its own.
  void OnUnsolicitedLine(const AsyncEvent& event);

  // Who hears each USSD reply besides its waiter (the automation clients):
  // the decoded text, the network's result code and the recipient ("": the
  // modem does not name one). Set before the command thread starts.
  using UssdFollower = std::function<void(const std::string& text, uint32_t code, const std::string& recipient)>;
  void SetUssdFollower(UssdFollower follower) { ussdFollower_ = std::move(follower); }

  // TIMER_RESET: the configured reset commands, then (with
  // "modem.reset.reconnect") a reconnection after "modem.reset.sleep" ms.
  void ResetModem();
  // TIMER_RECONNECT: reconnects when the link is in its error state; it
  // fires at "modem.reconnect.time" from the first connect on, so a modem
  // missing at start, lost during the initialisation or failing to come back
  // at the first try is tried again until it answers.
  void CheckConnection();
  // Queues a disconnect followed by a connect, as the frame's commands do.
  void Reconnect();

  // The configuring phase: entering it marks the link configuring, takes
  // every item out of the modem command queue (messages go back to the
  // outbox, raw commands are dropped), ends any memory listing and switches
  // to the connection reply timeout; leaving it clears the reply queues
  // (unsolicited results stay), marks the link ready unless it failed, and
  // restores the reply timeout.
  void EnterConfiguring();
  void LeaveConfiguring();

 private:
  void OnInitialised();
  void OnUssdReply(const AsyncEvent& event);
  void KeepReconnecting();

  GatewayContext context_;
  ModemInfo& modem_;
  MemoryListing& listing_;
  Outbox& outbox_;
  ModemCapabilities& capabilities_;
  USSDSyncObserverQueue& ussdWaiters_;
  UssdFollower ussdFollower_;
  bool connecting_ = false;  // the initialisation sequence runs
  bool outage_ = false;      // reconnecting after the link was lost
  std::string lastFailure_;  // the last connect failure shown
};

}  // namespace qm
