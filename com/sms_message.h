// CSMSMessage: the SMSMessage automation class (org.quillmoor.GSM.ISMSMessage).
//
// A message a client fills in and sends, or one the driver hands to a client
// (a received, listed or filed message). Its texts, id, times and flags are
// its own; its status and reference come from the tables: whichever of the
// outbox, "failed" and "sent" holds its id says where it is.
//
// Threads: the properties and methods run on the bus thread. The status and
// reference are shared with the waiter thread that polls a SendSync, under
// a lock of their own; the object may be released while its SendSync waits.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "com/ISMSMessage_adaptor.h"
#include "com/automation_services.h"
#include "sms/message.h"

namespace qm {

struct TableSet;

// The status codes of a message, as clients see them.
inline constexpr uint32_t kStatusUnknown = 0;
inline constexpr uint32_t kStatusPending = 1;
inline constexpr uint32_t kStatusSent = 2;
inline constexpr uint32_t kStatusFailed = 3;
inline constexpr uint32_t kStatusDelivered = 4;
inline constexpr uint32_t kStatusNotDelivered = 5;

// "unknown", "pending", "sent", "failed", "delivered", "not delivered";
// "unknown" for any other code.
const char* MessageStatusName(uint32_t status);

// Where the tables hold message `id`: pending in the outbox, failed, or
// sent (delivered, not delivered or neither, after the row's flags) with the
// row's reference. nullopt when no table holds it.
struct StoredStatus {
  uint32_t status = kStatusUnknown;
  uint32_t reference = 0;  // of a sent row; 0 otherwise
  bool hasReference = false;
};
std::optional<StoredStatus> LookUpStoredStatus(const TableSet& tables, uint32_t id);

class CSMSMessage final
    : public AutomationObject,
      public sdbus::AdaptorInterfaces<org::quillmoor::GSM::ISMSMessage_adaptor, sdbus::Properties_adaptor> {
 public:
  // A new message: empty texts, the next message id, created now, valid for
  // a day, no flags, status 0.
  CSMSMessage(AutomationServices& services, const std::string& path);
  // A message of the driver: its texts (the URL of a push), id, time,
  // expiry, flags and reference; status 0 until the tables say otherwise.
  CSMSMessage(AutomationServices& services, const std::string& path, const SMSMessage& message);
  ~CSMSMessage() override;
  CSMSMessage(const CSMSMessage&) = delete;
  CSMSMessage& operator=(const CSMSMessage&) = delete;

  AutomationClass Class() const override { return AutomationClass::kSMSMessage; }

  // The message Send hands to the outbox: a push when URL is set.
  std::unique_ptr<SMSMessage> ToDriverMessage() const;

  // The status and reference, which a SendSync pass may refresh after the
  // object is gone.
  struct StatusCell {
    std::mutex mutex;
    uint32_t status = kStatusUnknown;
    uint32_t reference = 0;
  };

 private:
  // ---- methods ----
  void Send() override;
  void SendAndTrace(const sdbus::ObjectPath& observer) override;
  void SendSync(sdbus::Result<>&& result, bool bWaitDelivery, uint32_t nTimeout) override;

  // ---- properties ----
  std::string From() override { return from_; }
  void From(const std::string& value) override { from_ = value; }
  std::string To() override { return to_; }
  void To(const std::string& value) override { to_ = value; }
  std::string Body() override { return body_; }
  void Body(const std::string& value) override { body_ = value; }
  std::string URL() override { return url_; }
  void URL(const std::string& value) override { url_ = value; }
  uint32_t ID() override { return id_; }
  void ID(const uint32_t& value) override { id_ = value; }
  uint32_t Timestamp() override { return timestamp_; }
  void Timestamp(const uint32_t& value) override { timestamp_ = value; }
  uint32_t Flags() override { return flags_; }
  void Flags(const uint32_t& value) override { flags_ = value; }
  uint32_t Expired() override { return expired_; }
  void Expired(const uint32_t& value) override { expired_ = value; }
  uint32_t SegmentNumber() override;
  std::string Coding() override;
  std::string StatusStr() override;
  uint32_t StatusCode() override;
  uint32_t ReferenceID() override;

  // Throws the error Send gives when the message cannot go.
  void CheckSendable();
  // CheckSendable, then marks it pending and queues it for the outbox.
  void SendChecked();
  // Status and reference from the tables, when they know the message.
  void Refresh();
  std::string Caller();

  AutomationServices& services_;
  std::string from_;
  std::string to_;
  std::string body_;
  std::string url_;
  uint32_t id_ = 0;
  uint32_t timestamp_ = 0;
  uint32_t flags_ = 0;
  uint32_t expired_ = 0;
  std::shared_ptr<StatusCell> status_ = std::make_shared<StatusCell>();
};

// An SMSMessage object holding a driver message, for the classes that hand
// messages to clients (memory listings, handler events).
std::unique_ptr<AutomationObject> MakeSMSMessageFrom(AutomationServices& services, const std::string& path,
                                                     const SMSMessage& message);

}  // namespace qm
