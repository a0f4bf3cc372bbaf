// The message family: every message the engine handles, outgoing or received.
//
//   GenericMessage (abstract)
//     SMSMessage      kind 1 "sms"
//       PushMessage   kind 2 "push"  (adds url)
//       USSDRequest   kind 3 "ussd"
//       StatusReport  kind 4 "sr"    (adds dischargeTime, status)
//
// Messages are plain value holders. Text fields are UTF-8. An object is owned
// by whoever created or cloned it (std::unique_ptr<SMSMessage> when handed
// between threads).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum MessageKind : int {
  kKindAtCommand = 0,  // raw AT command in the modem command queue
  kKindSms = 1,
  kKindPush = 2,
  kKindUssd = 3,
  kKindStatusReport = 4,
};

enum MessageFlags : uint32_t {
  kFlagFlash = 1,
  kFlagListedByReader = 2,  // shown to the automation reader by its listing
  kFlagStatusReport = 4,
  kFlagDelivered = 16,
  kFlagNotDelivered = 32,
};

inline constexpr uint32_t kDefaultValiditySeconds = 86400;

class SMSMessage;

class GenericMessage {
 public:
  virtual ~GenericMessage() = default;
  virtual int Kind() const = 0;
  virtual std::string KindName() const = 0;
  virtual std::unique_ptr<GenericMessage> CloneGeneric() const = 0;
};

class SMSMessage : public GenericMessage {
 public:
  // Empty texts; id from the counter; now as created/timestamp; one day of
  // validity; both types of number 1.
  SMSMessage();
  // Texts set, types of number chosen by AutoTon; id -1 takes the next id.
  SMSMessage(std::string from, std::string to, std::string body, int32_t id = -1);
  SMSMessage(const SMSMessage&) = default;
  SMSMessage& operator=(const SMSMessage&) = default;

  int Kind() const override { return kKindSms; }
  std::string KindName() const override { return "sms"; }
  std::unique_ptr<GenericMessage> CloneGeneric() const override { return Clone(); }
  virtual std::unique_ptr<SMSMessage> Clone() const { return std::make_unique<SMSMessage>(*this); }
  virtual std::string Url() const { return {}; }

  int32_t Id() const { return id; }
  void SetId(int32_t value) { id = value; }
  const std::string& Custom() const { return custom; }
  void SetCustom(std::string value) { custom = std::move(value); }

  // Same body, created time, sender and recipient (memory indexes ignored).
  bool IsDuplicateOf(const SMSMessage& other) const;

  // The body on one line (CR and LF as blanks), cut to 47 characters plus
  // "..." when longer than 50.
  std::string Summary() const;

  // Validity in seconds (expires - timestamp), signed so that an expiry in the
  // past is negative rather than a huge number.
  int64_t ValiditySeconds() const { return static_cast<int64_t>(expires) - static_cast<int64_t>(timestamp); }

  uint32_t created = 0;
  uint32_t timestamp = 0;
  uint32_t expires = 0;
  int32_t id = 0;
  int32_t reference = 0;
  uint32_t segments = 0;
  std::string from;
  std::string to;
  std::string body;
  uint32_t flags = 0;
  std::vector<int32_t> memoryIndexes;
  // The modem memory that holds memoryIndexes ("SM", "ME", "SR"...; empty:
  // whichever is current).
  std::string memory;
  int32_t fromTon = 1;
  int32_t toTon = 1;
  uint32_t attempts = 0;
  std::string custom;
  // The outbox row the message was dispatched from (empty when none): the row
  // stays until the message is filed, so a crash never loses it.
  std::string rowId;
};

class PushMessage final : public SMSMessage {
 public:
  PushMessage() = default;
  PushMessage(std::string from, std::string to, std::string body, std::string url, int32_t id = -1)
      : SMSMessage(std::move(from), std::move(to), std::move(body), id), url(std::move(url)) {}

  int Kind() const override { return kKindPush; }
  std::string KindName() const override { return "push"; }
  std::unique_ptr<SMSMessage> Clone() const override { return std::make_unique<PushMessage>(*this); }
  std::string Url() const override { return url; }

  std::string url;
};

class StatusReport final : public SMSMessage {
 public:
  StatusReport() = default;
  StatusReport(std::string from, std::string to, int32_t reference, uint32_t dischargeTime, uint32_t status);

  int Kind() const override { return kKindStatusReport; }
  std::string KindName() const override { return "sr"; }
  std::unique_ptr<SMSMessage> Clone() const override { return std::make_unique<StatusReport>(*this); }

  uint32_t dischargeTime = 0;
  uint32_t status = 0;
};

class USSDRequest final : public SMSMessage {
 public:
  USSDRequest() = default;
  explicit USSDRequest(std::string body, int32_t id = -1) : SMSMessage({}, {}, std::move(body), id) {}

  int Kind() const override { return kKindUssd; }
  std::string KindName() const override { return "ussd"; }
  std::unique_ptr<SMSMessage> Clone() const override { return std::make_unique<USSDRequest>(*this); }
};

// The kind code for a kind name ("sms", "push", "ussd", "sr"; exact, lower
// case), or 0 when the name is unknown.
int KindFromName(std::string_view name);

// The process-wide message id counter. "message.id" holds the last id used;
// the counter is one above it.
namespace message_ids {
// Sets the next id to be taken, kept between 1 and the largest 32-bit id.
void SetNext(int64_t next);
// Takes an id (returns the counter and increments it; at the largest id the
// counter stays).
int32_t Take();
// The last id taken (counter - 1), written back to "message.id" at exit.
int32_t Last();
}  // namespace message_ids

// Type-of-number choice for a number text (see AutoTonSettings).
struct AutoTonSettings {
  int32_t length = 8;  // "auto_ton.length"
  int32_t longTon = 1;   // "auto_ton.long"
  int32_t shortTon = 0;  // "auto_ton.short"
};
void SetAutoTonSettings(const AutoTonSettings& settings);
AutoTonSettings GetAutoTonSettings();

// "+..." -> 1; "" -> 0; longer than the length setting -> long; else short.
int32_t AutoTon(std::string_view number);

}  // namespace qm
