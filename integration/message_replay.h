// Reporting stored messages to the handlers again, as a message document's
// "handle" and "handle_received" requests ask:
//   handle:          the newest sent row whose custom text equals the value
//                    (case ignored) goes to the Delivery handlers as
//                    "delivered" when it was delivered, otherwise to the
//                    Send handlers as "sent"; without one, the newest such
//                    failed row goes to the Send handlers as "failed".
//   handle_received: every inbox row newer than the time stamp, in id
//                    order, goes to the Receive handlers that match it.
//
// Threads: any (the tables and the handler list have their own locks); the
// handlers run on the calling thread.
#pragma once

#include <vector>

#include "integration/message_document.h"

namespace qm {

struct TableSet;
class HandlerList;

class MessageReplay {
 public:
  MessageReplay(TableSet& tables, const HandlerList& handlers) : tables_(tables), handlers_(handlers) {}

  void Run(const std::vector<ReplayRequest>& requests) const;

 private:
  void HandleCustom(const std::string& custom) const;
  void HandleReceived(uint64_t timestamp) const;

  TableSet& tables_;
  const HandlerList& handlers_;
};

}  // namespace qm
