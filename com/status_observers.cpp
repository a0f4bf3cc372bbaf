#include "com/status_observers.h"

#include <algorithm>
#include <utility>

#include "com/object_registry.h"
#include "com/sms_driver.h"

namespace qm {
namespace {

// The connection of the SMSDriver at `path`, or nullptr when there is none.
// Only the look-up runs under the registry's lock: emitting a signal takes
// the bus library's lock, which a bus handler holds while it waits for the
// registry's.
sdbus::IConnection* DriverConnection(ObjectRegistry& registry, const std::string& path) {
  sdbus::IConnection* connection = nullptr;
  registry.With<CSMSDriver>(path, "", [&](CSMSDriver& driver) { connection = &driver.Connection(); });
  return connection;
}

// A signal that cannot be sent (the bus is going down) is not the command
// thread's concern.
template <class Emit>
void EmitQuietly(Emit&& emit) {
  try {
    emit();
  } catch (...) {
  }
}

}  // namespace

StatusObservers::StatusObservers(ObjectRegistry& registry)
    : statusSink_([&registry](const std::string& path, int32_t id, MessageStatus status) {
        sdbus::IConnection* connection = DriverConnection(registry, path);
        if (connection == nullptr) return false;
        EmitQuietly([&] {
          CSMSDriver::EmitStatusChanged(*connection, path, static_cast<uint32_t>(id), static_cast<uint32_t>(status));
        });
        return true;
      }),
      ussdSink_(
          [&registry](const std::string& path, const std::string& text, uint32_t code, const std::string& recipient) {
            sdbus::IConnection* connection = DriverConnection(registry, path);
            if (connection == nullptr) return false;
            EmitQuietly([&] { CSMSDriver::EmitUssdReply(*connection, path, text, code, recipient); });
            return true;
          }) {}

void StatusObservers::Trace(const std::string& observer, int32_t id, bool deliveryRequested) {
  std::lock_guard lock(mutex_);
  // An id traced already keeps what was asked first.
  status_[observer].ids.emplace(id, deliveryRequested);
}

void StatusObservers::AddUssdObserver(const std::string& observer) {
  std::lock_guard lock(mutex_);
  if (std::find(ussd_.begin(), ussd_.end(), observer) == ussd_.end()) ussd_.push_back(observer);
}

void StatusObservers::Forget(const std::string& observer) {
  std::lock_guard lock(mutex_);
  status_.erase(observer);
  std::erase(ussd_, observer);
}

void StatusObservers::StatusChanged(int32_t id, MessageStatus status) {
  const bool reported = status == MessageStatus::kDelivered || status == MessageStatus::kNotDelivered;
  const bool filed = status == MessageStatus::kSent || status == MessageStatus::kFailed;
  std::vector<std::string> callees;
  {
    std::lock_guard lock(mutex_);
    for (auto observer = status_.begin(); observer != status_.end();) {
      auto& ids = observer->second.ids;
      const auto traced = ids.find(id);
      if (traced == ids.end()) {
        ++observer;
        continue;
      }
      callees.push_back(observer->first);
      // The story of this id is over for this observer.
      if (reported || (filed && !traced->second)) ids.erase(traced);
      observer = ids.empty() ? status_.erase(observer) : std::next(observer);
    }
  }
  for (const std::string& observer : callees) {
    if (!statusSink_(observer, id, status)) Forget(observer);
  }
}

void StatusObservers::UssdReplied(const std::string& text, uint32_t code, const std::string& recipient) {
  std::vector<std::string> callees;
  {
    std::lock_guard lock(mutex_);
    callees = ussd_;
  }
  for (const std::string& observer : callees) {
    if (!ussdSink_(observer, text, code, recipient)) Forget(observer);
  }
}

std::size_t StatusObservers::StatusObserverCount() const {
  std::lock_guard lock(mutex_);
  return status_.size();
}

std::size_t StatusObservers::UssdObserverCount() const {
  std::lock_guard lock(mutex_);
  return ussd_.size();
}

}  // namespace qm
