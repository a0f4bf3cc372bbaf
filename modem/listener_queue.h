// The queues the transport delivers events to, and the meaning of its six
// listener slots.
//
// A consumer registers its queue in one or more slots of the transport and
// pops events from it; pushing never blocks on the consumer. A registered
// queue must stay alive until it has been unregistered (SetListener with
// nullptr).
#pragma once

#include "modem/async_event.h"
#include "platform/blocking_queue.h"

namespace qm {

using ListenerQueue = BlockingQueue<AsyncEvent>;

enum ListenerSlot : int {
  kSlotWriteDone = 0,  // kind 1
  kSlotOk = 1,         // kind 2
  kSlotPrompt = 2,     // kind 3
  kSlotErrors = 3,     // kinds 4 and 9
  kSlotIncoming = 4,   // unsolicited results, listings and the lines after a message header
  kSlotInfo = 5,       // every other information line
  kSlotCount = 6,
};

}  // namespace qm
