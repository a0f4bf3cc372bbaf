// The SMSDriver objects clients gave as observers: SendAndTrace's status
// observers (each with the message ids it traces and, per id, whether a
// delivery report was asked for) and SendWithReply's USSD reply observers.
//
// A status change of a traced message calls the observer's
// _ChangeSMSStatus (its SMSStatusChanged signal); the id is then dropped
// from that observer once its story is over (delivered or not, or sent or
// failed without a delivery report asked for), and an observer tracing
// nothing more is dropped. A USSD reply goes to every USSD observer; they
// stay until they are released, since a reply does not say which request it
// answers. Observers are named by object path; one that has been released
// is dropped at its next event.
//
// Threads: any; one lock covers the lists (the command thread reports while
// the bus thread registers). No lock is held while an observer is called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gateway/message_observers.h"

namespace qm {

class ObjectRegistry;

class StatusObservers {
 public:
  // How an event reaches an observer; false when the observer is gone.
  using StatusSink = std::function<bool(const std::string& observer, int32_t id, MessageStatus status)>;
  using UssdSink = std::function<bool(const std::string& observer, const std::string& text, uint32_t code,
                                      const std::string& recipient)>;

  // The observers are SMSDriver objects of `registry`; their signals are
  // emitted without the registry's lock held.
  explicit StatusObservers(ObjectRegistry& registry);
  StatusObservers(StatusSink status, UssdSink ussd) : statusSink_(std::move(status)), ussdSink_(std::move(ussd)) {}
  StatusObservers(const StatusObservers&) = delete;
  StatusObservers& operator=(const StatusObservers&) = delete;

  // The caller has checked that `observer` is an SMSDriver of the same
  // client (IsDriverOf).
  void Trace(const std::string& observer, int32_t id, bool deliveryRequested);
  void AddUssdObserver(const std::string& observer);
  void Forget(const std::string& observer);

  void StatusChanged(int32_t id, MessageStatus status);
  void UssdReplied(const std::string& text, uint32_t code, const std::string& recipient);

  std::size_t StatusObserverCount() const;
  std::size_t UssdObserverCount() const;

 private:
  struct Traced {
    std::map<int32_t, bool> ids;  // id -> a delivery report was asked for
  };
  StatusSink statusSink_;
  UssdSink ussdSink_;
  mutable std::mutex mutex_;
  std::map<std::string, Traced> status_;
  std::vector<std::string> ussd_;
};

}  // namespace qm
