#include "web/event_hub.h"

#include <algorithm>

namespace qm {

std::string FormatServerSentEvent(const WebEvent& event) {
  // The data is one line of JSON; a line break in it would end the field.
  std::string data = event.data;
  std::replace(data.begin(), data.end(), '\n', ' ');
  std::replace(data.begin(), data.end(), '\r', ' ');
  return "event: " + event.name + "\ndata: " + data + "\n\n";
}

std::shared_ptr<EventHub::Subscription> EventHub::Subscribe() {
  std::lock_guard lock(mutex_);
  if (closed_ || queues_.size() >= maxStreams_) return nullptr;
  queues_.push_back(std::make_shared<Queue>());
  return std::make_shared<Subscription>(*this, queues_.back());
}

void EventHub::Publish(WebEvent event) {
  {
    std::lock_guard lock(mutex_);
    for (const std::shared_ptr<Queue>& queue : queues_) {
      if (queue->closed) continue;
      if (queue->events.size() >= kMaxBacklog) {
        queue->closed = true;  // a reader this far behind has stopped reading
        queue->events.clear();
        continue;
      }
      queue->events.push_back(event);
    }
  }
  wake_.notify_all();
}

void EventHub::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const std::shared_ptr<Queue>& queue : queues_) queue->closed = true;
  }
  wake_.notify_all();
}

void EventHub::Leave(const Queue* queue) {
  std::lock_guard lock(mutex_);
  std::erase_if(queues_, [queue](const std::shared_ptr<Queue>& held) { return held.get() == queue; });
}

bool EventHub::Subscription::Wait(std::chrono::milliseconds limit, std::vector<WebEvent>& events) {
  events.clear();
  std::unique_lock lock(hub_.mutex_);
  hub_.wake_.wait_for(lock, limit, [this] { return queue_->closed || !queue_->events.empty(); });
  if (queue_->closed) return false;
  events.assign(std::make_move_iterator(queue_->events.begin()), std::make_move_iterator(queue_->events.end()));
  queue_->events.clear();
  return true;
}

}  // namespace qm
