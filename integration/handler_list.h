// The configured handlers, in order, and the offering of events to them.
//
// Loading reads "handler.0.type", "handler.1.type", ... : "cmdline" and
// "url" become handlers, "COM" entries (automation subscribers, which live
// only while their client does) are passed over, and any other type, empty
// or missing included, ends the list. Saving writes the list back in order
// and ends it with an empty type.
//
// Threads: any. An event is offered to a snapshot of the list, so a reload
// never frees a handler that is running.
#pragma once

#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "integration/sms_handler.h"

namespace qm {

class HandlerList {
 public:
  explicit HandlerList(HandlerServices services);
  HandlerList(const HandlerList&) = delete;
  HandlerList& operator=(const HandlerList&) = delete;

  void Load(const ConfigStore& config);
  void Save(ConfigStore& config) const;
  // Appends a handler made at run time (an automation subscriber).
  void Add(std::shared_ptr<SMSHandler> handler);
  void Remove(const SMSHandler* handler);
  std::vector<std::shared_ptr<SMSHandler>> Snapshot() const;

  struct Outcome {
    bool handled = false;              // a handler did its action
    std::vector<std::string> failed;   // the names of those that failed
  };
  // Offers the event to every handler of its kind that matches, in order.
  Outcome Dispatch(HandlerEvent event, const SMSMessage& message, HandlerStatus status) const;

  // Commands that are waited for stop being waited for (the driver exits).
  void Stop() { stop_.request_stop(); }

  const HandlerServices& Services() const { return services_; }

 private:
  std::stop_source stop_;
  HandlerServices services_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SMSHandler>> handlers_;
};

}  // namespace qm
