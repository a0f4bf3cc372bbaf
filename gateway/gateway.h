// The message flows of the driver, wired together, and the one place that
// executes driver commands.
//
// The gateway owns the modem object, the outbox queue, the memory listing,
// the connection's session, the reader of received messages, the handling
// of incoming messages, delivery reports and sending outcomes, the USSD
// waiters, and the sending pipeline that it installs as the sending
// worker's message handler. Execute runs one command to its end;
// the command thread (CServiceThread) calls it for each command it pops, so
// commands never run concurrently and the modem state has one owner.
//
// Threads: Execute and DrainAtExit on the command thread (at exit, once it
// has stopped, on the main thread); GetOutbox's AddToOutbox and DispatchList
// from any thread.
#pragma once

#include <deque>
#include <string>
#include <utility>

#include "gateway/automation_reader.h"
#include "gateway/command_queue_sink.h"
#include "gateway/driver_command.h"
#include "gateway/gateway_context.h"
#include "gateway/delivery_reports.h"
#include "gateway/incoming_messages.h"
#include "gateway/memory_listing.h"
#include "gateway/memory_reader.h"
#include "gateway/modem_capabilities.h"
#include "gateway/modem_snapshot.h"
#include "gateway/modem_session.h"
#include "gateway/outbox.h"
#include "gateway/send_outcomes.h"
#include "gateway/sending_pipeline.h"
#include "gateway/ussd_waiters.h"
#include "modem/modem_info.h"

namespace qm {

class Gateway {
 public:
  explicit Gateway(const GatewayContext& context);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  void Execute(DriverCommand command);
  // At exit: executes the queued commands that carry messages (incoming,
  // listed, sending outcomes, source messages), so none is lost, and drops
  // the others; then every message still waiting for the modem goes back to
  // the outbox.
  void DrainAtExit();

  Outbox& GetOutbox() { return outbox_; }
  // Who is told of received, sent, failed and reported messages; set before
  // the command thread starts.
  void SetObservers(MessageObservers* observers);
  // The reader of received messages runs from StartReader to StopReader
  // (at exit, after the command thread has stopped, so that what it still
  // hands on is drained).
  void StartReader() { reader_.Start(); }
  void StopReader() { reader_.Stop(); }
  USSDSyncObserverQueue& UssdWaiters() { return ussdWaiters_; }
  // Who hears USSD replies besides their waiters; set before the command
  // thread starts.
  void SetUssdFollower(ModemSession::UssdFollower follower) { session_.SetUssdFollower(std::move(follower)); }
  const ModemInfo& Modem() const { return modem_; }
  const MemoryListing& Listing() const { return listing_; }
  const SendOutcomes& Outcomes() const { return outcomes_; }
  // The modem state as of the last executed command, for any thread.
  const SharedModemSnapshot& Snapshot() const { return snapshot_; }
  // The automation memory reader's way to the modem memory, for any thread.
  AutomationReader& MemoryReads() { return automationReader_; }

 private:
  void OnTimer(uint32_t id);
  // "+CMTI:"/"+CDSI:": reads the location, selecting its memory first when
  // it is not the current one; kept until the modem is ready.
  void OnStoredNotice(std::string storage, int index);
  void ReadWaitingNotices();
  void PublishSnapshot();

  GatewayContext context_;
  CommandQueueSink events_;
  ModemCapabilities capabilities_;
  USSDSyncObserverQueue ussdWaiters_;
  ModemInfo modem_;
  Outbox outbox_;
  MemoryListing listing_;
  ModemSession session_;
  DeliveryReports reports_;
  IncomingMessages incoming_;
  SendOutcomes outcomes_;
  SendingPipeline pipeline_;
  std::deque<std::pair<std::string, int>> waitingNotices_;  // memory, location
  SharedModemSnapshot snapshot_;
  AutomationReader automationReader_;
  MemoryReader reader_;  // last: stopped before what it posts to goes away
};

}  // namespace qm
