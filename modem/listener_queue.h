// The queues the transport delivers events to, and the meaning of its six
// listener slots.
//
// A consumer registers its queue in one or more slots of the transport and
// pops events from it; pushing never blocks on the consumer. A registered
// queue must stay alive until it has been unregistered (SetListener with
// nullptr).
#pragma once

#include <cstddef>

#include "modem/async_event.h"
#include "platform/blocking_queue.h"

namespace qm {

using ListenerQueue = BlockingQueue<AsyncEvent>;

enum class ListenerSlot : int {
  kWriteDone = 0,  // kind 1
  kOk = 1,         // kind 2
  kPrompt = 2,     // kind 3
  kErrors = 3,     // kinds 4 and 9
  kIncoming = 4,   // unsolicited results, listings and the lines after a message header
  kInfo = 5,       // every other information line
};
inline constexpr std::size_t kListenerSlotCount = 6;

// The most events a listener queue holds; past it the oldest go, so a modem
// chattering to a queue nobody reads cannot exhaust memory.
inline constexpr std::size_t kListenerQueueCapacity = 1024;

}  // namespace qm
