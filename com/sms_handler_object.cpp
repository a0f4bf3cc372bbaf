#include "com/sms_handler_object.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string_view>
#include <utility>

#include "base/logger.h"
#include "com/automation_errors.h"
#include "com/sms_message.h"
#include "integration/handler_list.h"

namespace qm {
namespace {

// The object's own number (the last part of its path, unique in this
// driver) as eight lowercase hexadecimal digits.
std::string IdentityName(const std::string& path) {
  uint64_t number = 0;
  const std::string_view digits = std::string_view(path).substr(path.rfind('/') + 1);
  std::from_chars(digits.data(), digits.data() + digits.size(), number);
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(number & 0xffffffffu));
  return text;
}

}  // namespace

CSMSHandler::CSMSHandler(AutomationServices& services, const std::string& path)
    : AdaptorInterfaces(services.connection, path),
      services_(services),
      path_(path),
      busName_(services.connection.getUniqueName()),
      name_(IdentityName(path)),
      waker_(sdbus::createProxy(services.connection, busName_, path)),
      mailbox_(std::make_shared<HandlerMailbox>(waker_)) {
  getObject().registerMethod(kMailboxTake).onInterface(kMailboxInterface).implementedAs([this] { TakeMail(); });
  registerAdaptor();
}

CSMSHandler::~CSMSHandler() { unregisterAdaptor(); }

void CSMSHandler::Retire() {
  LeaveHandlerList();
  waker_.reset();
}

void CSMSHandler::Register() {
  Guarded([&] {
    if (Registered()) return;
    HandlerList& list = services_.driver.handlers;
    auto handler = std::make_shared<COMSMSHandler>(list.Services(), mailbox_);
    handler->name = name_;
    handler->fromFilter = fromPattern_;
    handler->toFilter = toPattern_;
    handler->bodyFilter = bodyPattern_;
    // A kind the driver has no events of is kept as it is: it matches none.
    handler->event = static_cast<HandlerEvent>(static_cast<int>(event_));
    list.Add(std::move(handler));
  });
}

void CSMSHandler::Unregister() {
  Guarded([&] { LeaveHandlerList(); });
}

void CSMSHandler::_DeliverSMS(const sdbus::ObjectPath& pSMS) {
  Guarded([&] { Fire(event_, pSMS); });
}

bool CSMSHandler::Registered() const {
  for (const auto& handler : services_.driver.handlers.Snapshot()) {
    const auto* ours = dynamic_cast<const COMSMSHandler*>(handler.get());
    if (ours != nullptr && ours->DeliversTo(*mailbox_)) return true;
  }
  return false;
}

void CSMSHandler::LeaveHandlerList() {
  HandlerList& list = services_.driver.handlers;
  for (const auto& handler : list.Snapshot()) {
    const auto* ours = dynamic_cast<const COMSMSHandler*>(handler.get());
    if (ours != nullptr && ours->DeliversTo(*mailbox_)) list.Remove(handler.get());
  }
}

void CSMSHandler::TakeMail() {
  Guarded([&] {
    // Only the driver posts; anyone else gets nothing for the call.
    if (getObject().getCurrentlyProcessedMessage()->getSender() != busName_) throw InvalidArg(kTextInvalidValue);
    for (const HandlerDelivery& delivery : mailbox_->Take()) Deliver(delivery);
  });
}

void CSMSHandler::Deliver(const HandlerDelivery& delivery) {
  // The message is the handler's client's: it counts against that client's
  // objects and goes when the client leaves, so one that never releases
  // its messages is refused new ones at the limit rather than growing us.
  const std::string owner = services_.registry.OwnerOf(path_);
  if (owner.empty()) return;
  try {
    // Its status comes from the tables when the client reads it: the sent
    // or failed row, and a delivery report's flags on the sent row.
    const std::string message = services_.registry.Create(
        AutomationClass::kSMSMessage, owner,
        [&](const std::string& path) { return MakeSMSMessageFrom(services_, path, *delivery.message); });
    Fire(static_cast<uint32_t>(delivery.event), sdbus::ObjectPath(message));
  } catch (const std::exception& e) {
    services_.driver.log.Write(LogLevel::kError, "Handler failed: " + name_ + ": " + e.what());
  }
}

void CSMSHandler::Fire(uint32_t event, const sdbus::ObjectPath& message) {
  switch (event) {
    case 0:
      emitIncomingSMS(message);
      break;
    case 1:
      emitSentSMS(message);
      break;
    case 2:
      emitDeliveredSMS(message);
      break;
    default:
      break;
  }
}

std::unique_ptr<AutomationObject> MakeSMSHandler(AutomationServices& services, const std::string& path) {
  return std::make_unique<CSMSHandler>(services, path);
}

}  // namespace qm
