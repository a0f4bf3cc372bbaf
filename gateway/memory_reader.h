// The reader of what the modem hands over on the incoming slot: messages
// delivered directly ("+CMT:", "+CDS:" with their PDU or text), notices of
// stored ones ("+CMTI:", "+CDSI:", passed to the command thread, which reads
// them), the entries of reads and listings ("+CMGR:", "+CMGL:"), and USSD
// replies ("+CUSD:").
//
// It decodes bodies in PDU and text mode, joins the parts of long messages
// (PendingParts), and posts every finished message to the command thread:
// CMD_LISTED_MESSAGE for a listing's entries, CMD_INCOMING otherwise. A
// repeat of a directly delivered message (a modem waiting for its
// acknowledgement) is acknowledged with AT+CNMA and not posted again.
//
// Threads: its own; Start and Stop by the owner, PostAfterPending from any
// thread. It posts commands and queues AT commands; it touches no state of
// the command thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "gateway/gateway_context.h"
#include "gateway/pending_parts.h"
#include "gateway/received_headers.h"
#include "modem/listener_queue.h"

namespace qm {

class MemoryReader {
 public:
  explicit MemoryReader(const GatewayContext& context);
  ~MemoryReader();
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;

  // Listens on the incoming slot from now on.
  void Start();
  void Stop();

  // Posts `command` to the command thread once every line that reached the
  // incoming slot before now has been read (at once when the reader does not
  // run), so that a finished listing's messages come first.
  void PostAfterPending(DriverCommand command);

 private:
  // What the read in flight ("AT+CMGR=") has given so far.
  struct ReadInFlight {
    int index = -1;
    bool gotEntry = false;
    bool gotReport = false;
  };

  void Run(std::stop_token stop);
  // Posts the commands of the markers up to the serial `upTo`.
  void PostMarkers(uint64_t upTo);
  void OnEvent(AsyncEvent event);
  void OnCommandWritten(const std::string& command);
  void OnCommandDone(const std::string& command);
  void OnHeader(const AsyncEvent& event);
  void OnPduBody(const AsyncEvent& event);
  void OnTextBody(const AsyncEvent& event);
  // A notice announced a status report at `index` that the read did not
  // find: asks for a read of the status-report memory, once.
  void LookForReportElsewhere(int index);
  void AddPart(DecodedPdu record, bool listed);
  void Deliver(std::vector<DecodedPdu> parts, bool listed, bool complete);
  void Post(std::unique_ptr<SMSMessage> message, bool listed);
  // A directly delivered message seen again shortly: true (and acknowledged).
  bool IsRepeat(const std::string& content);
  // With "sender.delete_mode" 1, frees the locations of parts pending long.
  void FreeStaleLocations();
  // Hands out groups that waited too long, frees stale locations.
  void Housekeeping();

  GatewayContext context_;
  ListenerQueue queue_;
  PendingParts pending_;

  // Reader thread only.
  ReceivedHeader entry_;    // the entry whose body comes next
  std::string entryLine_;   // its header line
  bool bodyDue_ = false;
  ReadInFlight read_;
  std::string currentMemory_;  // as the last "AT+CPMS=" chose (empty: not known)
  std::map<int, std::string> announcedReports_;  // location -> memory a "+CDSI:" named
  std::deque<std::pair<std::string, uint32_t>> recentDirect_;  // content, when

  std::mutex markersMutex_;
  std::map<uint64_t, DriverCommand> markers_;
  uint64_t nextMarker_ = 1;
  bool running_ = false;  // under markersMutex_

  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
