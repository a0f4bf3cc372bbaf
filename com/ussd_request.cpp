#include "com/ussd_request.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "com/automation_errors.h"
#include "com/sms_driver.h"
#include "com/status_observers.h"
#include "com/sync_waits.h"
#include "gateway/ussd_waiters.h"
#include "sms/message.h"

namespace qm {
namespace {

// One SendSync waiting for the reply to its request number.
struct ReplyWait {
  USSDSyncObserverQueue& waiters;
  uint32_t number = 0;
  uint32_t timeoutSeconds = 0;
  std::chrono::steady_clock::time_point start;

  Polled<std::string> operator()() const {
    USSDSyncObserverQueue::PollResult polled = waiters.Poll(number);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (polled.finished) {
      if (polled.state == UssdWaitState::kReplied) return std::move(polled.reply);
      // The housekeeping drops a waiter whose time is up: that is the
      // caller's time running out, whichever of the two notices it first.
      if (waited >= std::chrono::seconds(timeoutSeconds)) return Failure(kTextTimeout);
      return Failure(kTextUssdError);
    }
    if (waited > std::chrono::seconds(timeoutSeconds)) return Failure(kTextTimeout);
    return NotYet{};
  }
};

}  // namespace

CUSSDRequest::CUSSDRequest(AutomationServices& services, const std::string& path)
    : AdaptorInterfaces(services.connection, path), services_(services) {
  registerAdaptor();
}

CUSSDRequest::~CUSSDRequest() { unregisterAdaptor(); }

std::string CUSSDRequest::Caller() { return getObject().getCurrentlyProcessedMessage()->getSender(); }

void CUSSDRequest::Post() {
  auto request = std::make_unique<USSDRequest>(content_);
  request->from = from_;
  request->flags = flags_;
  // The command thread adds it to the outbox and dispatches it.
  services_.driver.commands.Push(DriverCommand(CMD_SOURCE_MESSAGE, 0, std::unique_ptr<SMSMessage>(std::move(request))));
}

void CUSSDRequest::Send() {
  Guarded([&] { Post(); });
}

void CUSSDRequest::SendWithReply(const sdbus::ObjectPath& observer) {
  Guarded([&] {
    if (!IsDriverOf(services_.registry, observer, Caller())) throw InvalidArg(kTextInvalidValue);
    services_.observers.AddUssdObserver(observer);
    Post();
  });
}

void CUSSDRequest::SendSync(sdbus::Result<std::string>&& result, uint32_t nTimeout) {
  const auto start = std::chrono::steady_clock::now();
  USSDSyncObserverQueue& waiters = services_.driver.ussdWaiters;
  const uint32_t number = waiters.NextRequestNumber();
  try {
    Guarded([&] {
      waiters.Add(number, static_cast<int>(std::min<uint32_t>(nTimeout, INT32_MAX)));
      Post();
    });
  } catch (const sdbus::Error& error) {
    result.returnError(error);
    return;
  }
  services_.syncWaits.Wait<std::string>(Caller(), std::move(result), ReplyWait{waiters, number, nTimeout, start});
}

std::unique_ptr<AutomationObject> MakeUSSDRequest(AutomationServices& services, const std::string& path) {
  return std::make_unique<CUSSDRequest>(services, path);
}

}  // namespace qm
