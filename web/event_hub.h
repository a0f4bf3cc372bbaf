// The news the event streams carry (incoming, sent, failed, delivered, ussd;
// the streams add status themselves), handed from the threads that have it
// to the web workers that write the streams.
//
// A stream subscribes and waits for its events; at most `maxStreams` at a
// time, so that streams never take every worker. Publishing never blocks: a
// stream that falls `kMaxBacklog` events behind (a client that stopped
// reading) is closed, and its client reconnects and reloads.
//
// Threads: any; one lock guards the subscriptions.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qm {

struct WebEvent {
  std::string name;  // "incoming", "sent", ...
  std::string data;  // one line of JSON
};

// "event: <name>\ndata: <data>\n\n".
std::string FormatServerSentEvent(const WebEvent& event);

class EventHub {
 public:
  static constexpr std::size_t kMaxBacklog = 1000;

  class Subscription;

  explicit EventHub(std::size_t maxStreams) : maxStreams_(maxStreams) {}
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // A new stream's subscription; nullptr when `maxStreams` are open or the
  // hub is closed. The subscription leaves when the last owner drops it.
  std::shared_ptr<Subscription> Subscribe();
  void Publish(WebEvent event);
  // Ends every stream (the driver exits): waits return at once, closed.
  void Close();

 private:
  struct Queue {
    std::deque<WebEvent> events;
    bool closed = false;
  };
  void Leave(const Queue* queue);

  const std::size_t maxStreams_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Queue>> queues_;
  bool closed_ = false;

  friend class Subscription;
};

class EventHub::Subscription {
 public:
  Subscription(EventHub& hub, std::shared_ptr<Queue> queue) : hub_(hub), queue_(std::move(queue)) {}
  ~Subscription() { hub_.Leave(queue_.get()); }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // The events published since the last call, waiting up to `limit` for the
  // first; false once the stream is closed.
  bool Wait(std::chrono::milliseconds limit, std::vector<WebEvent>& events);

 private:
  EventHub& hub_;
  std::shared_ptr<Queue> queue_;
};

}  // namespace qm
