// Status reports matched to the sent messages they report on. The sent row
// is the newest one holding the report's message reference; it counts only
// when its recipient is the report's (SameSubscriber), since references
// repeat every 256 messages. The row gets the delivered or not-delivered flag
// (a later report adds its own), the report takes the row's id and custom
// text, then observers (status, then the report) and the user hear of it.
//
// A fast network's report can overtake the sending outcome of its own
// message (it follows the OK on the wire, the outcome takes another
// thread). A report that matches no row is therefore held, and tried again
// when a message with its reference is filed as sent, for ten minutes; the
// oldest of too many go.
//
// Threads: command thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

#include "gateway/gateway_context.h"
#include "gateway/message_observers.h"
#include "sms/message.h"

namespace qm {

// The outcome a report's status (TP-ST) stands for: the "transaction
// completed" group (0x00-0x1F: delivered, forwarded, replaced) is delivered,
// the rest not delivered.
MessageStatus DeliveryOutcome(uint32_t status);
// A temporary error while the service centre still tries (0x20-0x3F): the
// report is not final and changes nothing.
bool StillTrying(uint32_t status);

class DeliveryReports {
 public:
  explicit DeliveryReports(const GatewayContext& context);
  DeliveryReports(const DeliveryReports&) = delete;
  DeliveryReports& operator=(const DeliveryReports&) = delete;

  // Applies a received report; its id and custom text are set when it
  // matches a sent row, and it is held when it matches none yet.
  void ApplyStatusReport(StatusReport& report);
  // A message was filed as sent with this reference: the reports held for
  // it are tried again.
  void RetryHeldReports(int32_t reference);

  // Who is told of the new status and the report (may be null).
  void SetObservers(MessageObservers* observers) { observers_ = observers; }

 private:
  // True when the report matched a sent row (and was applied).
  bool Apply(StatusReport& report);

  GatewayContext context_;
  MessageObservers* observers_ = nullptr;
  struct Held {
    StatusReport report;
    std::chrono::steady_clock::time_point since;
  };
  std::deque<Held> held_;
};

}  // namespace qm
