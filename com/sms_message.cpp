#include "com/sms_message.h"

#include <chrono>
#include <utility>

#include "com/automation_errors.h"
#include "com/sms_driver.h"
#include "com/status_observers.h"
#include "com/sync_waits.h"
#include "gateway/pdu_settings_reader.h"
#include "platform/clock.h"
#include "sms/pdu_encoder.h"
#include "storage/file_database.h"
#include "storage/message_rows.h"
#include "storage/outgoing_rows.h"
#include "storage/table_format.h"
#include "storage/table_setup.h"

namespace qm {
namespace {

constexpr uint32_t kOneDay = 86400;
constexpr int kFlagsColumn = 8;
constexpr int kSentReferenceColumn = 10;

// What a filed message went through is no request for the next sending.
constexpr uint32_t kHistoryFlags = kFlagListedByReader | kFlagDelivered | kFlagNotDelivered;

// One SendSync waiting for its message's story to end.
struct SendingWait {
  const TableSet& tables;
  uint32_t id = 0;
  bool waitDelivery = false;
  uint32_t timeoutSeconds = 0;
  std::chrono::steady_clock::time_point start;
  std::shared_ptr<CSMSMessage::StatusCell> cell;

  Polled<Done> operator()() const {
    const std::optional<StoredStatus> stored = LookUpStoredStatus(tables, id);
    uint32_t status = 0;
    {
      std::lock_guard lock(cell->mutex);
      if (stored) {
        cell->status = stored->status;
        if (stored->hasReference) cell->reference = stored->reference;
      }
      status = cell->status;
    }
    switch (status) {
      case kStatusSent:
        if (!waitDelivery) return Done{};
        break;
      case kStatusFailed:
        return Failure(kTextSendingFailed);
      case kStatusDelivered:
        return Done{};
      case kStatusNotDelivered:
        return Failure(kTextNotDelivered);
      default:
        break;
    }
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSeconds)) return Failure(kTextTimeout);
    return NotYet{};
  }
};

}  // namespace

const char* MessageStatusName(uint32_t status) {
  switch (status) {
    case kStatusPending:
      return "pending";
    case kStatusSent:
      return "sent";
    case kStatusFailed:
      return "failed";
    case kStatusDelivered:
      return "delivered";
    case kStatusNotDelivered:
      return "not delivered";
    default:
      return "unknown";
  }
}

std::optional<StoredStatus> LookUpStoredStatus(const TableSet& tables, uint32_t id) {
  const std::optional<OutgoingRow> found = FindOutgoingRow(tables, id);
  if (!found) return std::nullopt;
  switch (found->place) {
    case OutgoingPlace::kOutbox:
      return StoredStatus{kStatusPending};
    case OutgoingPlace::kFailed:
      return StoredStatus{kStatusFailed};
    case OutgoingPlace::kSent:
      break;
  }
  const Row& row = found->row;
  if (row.size() <= static_cast<std::size_t>(kSentReferenceColumn)) return std::nullopt;
  const auto flags = static_cast<uint32_t>(ReadDecimal(row[kFlagsColumn]));
  StoredStatus stored;
  stored.status = (flags & kFlagDelivered) != 0      ? kStatusDelivered
                  : (flags & kFlagNotDelivered) != 0 ? kStatusNotDelivered
                                                     : kStatusSent;
  stored.reference = static_cast<uint32_t>(ReadDecimal(row[kSentReferenceColumn]));
  stored.hasReference = true;
  return stored;
}

CSMSMessage::CSMSMessage(AutomationServices& services, const std::string& path)
    : AdaptorInterfaces(services.connection, path), services_(services) {
  id_ = static_cast<uint32_t>(message_ids::Take());
  timestamp_ = UnixNow();
  expired_ = timestamp_ + kOneDay;
  registerAdaptor();
}

CSMSMessage::CSMSMessage(AutomationServices& services, const std::string& path, const SMSMessage& message)
    : AdaptorInterfaces(services.connection, path),
      services_(services),
      from_(message.from),
      to_(message.to),
      body_(message.body),
      url_(message.Url()),
      id_(static_cast<uint32_t>(message.id)),
      timestamp_(message.timestamp),
      flags_(message.flags),
      expired_(message.expires) {
  status_->reference = static_cast<uint32_t>(message.reference);
  registerAdaptor();
}

CSMSMessage::~CSMSMessage() { unregisterAdaptor(); }

std::string CSMSMessage::Caller() { return getObject().getCurrentlyProcessedMessage()->getSender(); }

std::unique_ptr<SMSMessage> CSMSMessage::ToDriverMessage() const {
  // Made with id 0, so that no id is taken from the counter, then given its own.
  std::unique_ptr<SMSMessage> message = url_.empty() ? std::make_unique<SMSMessage>(from_, to_, body_, 0)
                                                     : std::make_unique<PushMessage>(from_, to_, body_, url_, 0);
  message->id = static_cast<int32_t>(id_);
  message->flags = flags_ & ~kHistoryFlags;
  message->timestamp = timestamp_;
  message->expires = expired_;
  return message;
}

uint32_t CSMSMessage::SegmentNumber() {
  return Guarded([&] {
    const int segments = CountSegments(*ToDriverMessage(), ReadPduSettings(services_.driver.config));
    return static_cast<uint32_t>(segments < 0 ? 0 : segments);
  });
}

std::string CSMSMessage::Coding() {
  return Guarded([&]() -> std::string {
    if (!url_.empty()) return "8bit";  // a push goes as 8-bit data
    return DetectCoding(body_) == kCodingUcs2 ? "UCS2" : "7bit";
  });
}

void CSMSMessage::Refresh() {
  const std::optional<StoredStatus> stored = LookUpStoredStatus(services_.driver.tables, id_);
  if (!stored) return;
  std::lock_guard lock(status_->mutex);
  status_->status = stored->status;
  if (stored->hasReference) status_->reference = stored->reference;
}

std::string CSMSMessage::StatusStr() {
  return Guarded([&]() -> std::string {
    Refresh();
    std::lock_guard lock(status_->mutex);
    return MessageStatusName(status_->status);
  });
}

uint32_t CSMSMessage::StatusCode() {
  return Guarded([&] {
    Refresh();
    std::lock_guard lock(status_->mutex);
    return status_->status;
  });
}

uint32_t CSMSMessage::ReferenceID() {
  return Guarded([&] {
    Refresh();
    std::lock_guard lock(status_->mutex);
    return status_->reference;
  });
}

void CSMSMessage::CheckSendable() {
  if (to_.empty()) throw Failure(kTextMissingDestination);
  std::lock_guard lock(status_->mutex);
  if (status_->status != kStatusUnknown) throw Failure(kTextAlreadySent);
}

void CSMSMessage::SendChecked() {
  CheckSendable();
  {
    std::lock_guard lock(status_->mutex);
    status_->status = kStatusPending;
  }
  // The command thread adds it to the outbox and dispatches it.
  services_.driver.commands.Push(DriverCommand(CMD_SOURCE_MESSAGE, 0, ToDriverMessage()));
}

void CSMSMessage::Send() {
  Guarded([&] { SendChecked(); });
}

void CSMSMessage::SendAndTrace(const sdbus::ObjectPath& observer) {
  Guarded([&] {
    if (!IsDriverOf(services_.registry, observer, Caller())) throw InvalidArg(kTextInvalidValue);
    // A message that cannot go leaves no observer behind waiting for it.
    CheckSendable();
    services_.observers.Trace(observer, static_cast<int32_t>(id_), (flags_ & kFlagStatusReport) != 0);
    SendChecked();
  });
}

void CSMSMessage::SendSync(sdbus::Result<>&& result, bool bWaitDelivery, uint32_t nTimeout) {
  try {
    Guarded([&] {
      if (bWaitDelivery) flags_ |= kFlagStatusReport;
      SendChecked();
    });
  } catch (const sdbus::Error& error) {
    result.returnError(error);  // Send's failure, unchanged
    return;
  }
  // The polls share only the status with the object, which may be released
  // while the call waits.
  services_.syncWaits.Wait<Done>(
      Caller(), std::move(result),
      SendingWait{services_.driver.tables, id_, bWaitDelivery, nTimeout, std::chrono::steady_clock::now(), status_});
}

std::unique_ptr<AutomationObject> MakeSMSMessage(AutomationServices& services, const std::string& path) {
  return std::make_unique<CSMSMessage>(services, path);
}

std::unique_ptr<AutomationObject> MakeSMSMessageFrom(AutomationServices& services, const std::string& path,
                                                     const SMSMessage& message) {
  return std::make_unique<CSMSMessage>(services, path, message);
}

}  // namespace qm
