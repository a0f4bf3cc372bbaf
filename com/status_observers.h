// The SMSDriver objects clients gave as observers: SendAndTrace's status
// observers (each with the message ids it traces and whether it asked for
// delivery reports) and SendWithReply's USSD reply observers.
//
// A status change of a traced message calls the observer's
// _ChangeSMSStatus (its SMSStatusChanged signal); the id is then dropped
// from that observer once its story is over (delivered or not, or sent or
// failed without a delivery report asked for), and an observer tracing
// nothing more is dropped. Observers are named by object path; one that has
// been released is dropped at its next event.
//
// Threads: any; one lock covers the lists (the command thread reports while
// the bus thread registers).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "gateway/message_observers.h"

namespace qm {

class ObjectRegistry;

class StatusObservers {
 public:
  explicit StatusObservers(ObjectRegistry& registry) : registry_(registry) {}
  StatusObservers(const StatusObservers&) = delete;
  StatusObservers& operator=(const StatusObservers&) = delete;

  void Trace(const std::string& observer, int32_t id, bool deliveryRequested);
  void AddUssdObserver(const std::string& observer);
  void Forget(const std::string& observer);

  void StatusChanged(int32_t id, MessageStatus status);
  void UssdReplied(const std::string& text, uint32_t code, const std::string& recipient);

 private:
  struct Traced {
    std::map<int32_t, bool> ids;  // id -> a delivery report was asked for
  };
  ObjectRegistry& registry_;
  std::mutex mutex_;
  std::map<std::string, Traced> status_;
  std::vector<std::string> ussd_;
};

}  // namespace qm
