#include "gateway/delivery_reports.h"

#include <charconv>
#include <string>
#include <string_view>

#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "gateway/number_match.h"
#include "gateway/user_notices.h"
#include "storage/table_setup.h"
#include "storage/text_escape.h"

namespace qm {
namespace {

constexpr std::size_t kSentToColumn = 2;
constexpr std::size_t kSentFlagsColumn = 8;
constexpr std::size_t kSentUniqueIdColumn = kUniqueIdColumn;
constexpr int kSentRefIdColumn = 10;
constexpr std::size_t kSentCustomColumn = 13;

// Message tables write numbers as unsigned decimal; anything else reads as 0.
uint32_t ReadUnsigned(std::string_view text) {
  uint32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

MessageStatus DeliveryOutcome(uint32_t status) {
  return status < 0x20 ? MessageStatus::kDelivered : MessageStatus::kNotDelivered;
}

bool StillTrying(uint32_t status) { return status >= 0x20 && status < 0x40; }

DeliveryReports::DeliveryReports(const GatewayContext& context) : context_(context) {}

namespace {
constexpr std::size_t kMostHeld = 64;
constexpr auto kHeldFor = std::chrono::minutes(10);
}  // namespace

void DeliveryReports::ApplyStatusReport(StatusReport& report) {
  if (StillTrying(report.status)) {
    context_.log.Write(LogLevel::kDetail, "Status report for message reference " + std::to_string(report.reference) +
                                              ": the service centre is still trying (status " +
                                              std::to_string(report.status) + ")");
    return;
  }
  if (Apply(report)) return;
  if (held_.size() >= kMostHeld) held_.pop_front();
  held_.push_back(Held{report, std::chrono::steady_clock::now()});
}

void DeliveryReports::RetryHeldReports(int32_t reference) {
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(held_, [&](Held& h) {
    return now - h.since > kHeldFor || ((h.report.reference & 0xFF) == (reference & 0xFF) && Apply(h.report));
  });
}

bool DeliveryReports::Apply(StatusReport& report) {
  FileDatabase& sent = *context_.tables.sent;
  const std::string separator = sent.Separator();
  Row row;
  // The reference is one octet, so it repeats: the newest row is the one meant.
  const std::string reference = std::to_string(static_cast<uint32_t>(report.reference));
  if (sent.FindLastEqual(kSentRefIdColumn, reference, row) == 0) return false;
  row.resize(kSentColumns.size());
  if (!SameSubscriber(UnescapeFieldText(row[kSentToColumn], separator), report.from)) return false;

  const bool delivered = DeliveryOutcome(report.status) == MessageStatus::kDelivered;
  const uint32_t flags = ReadUnsigned(row[kSentFlagsColumn]) | (delivered ? kFlagDelivered : kFlagNotDelivered);
  row[kSentFlagsColumn] = std::to_string(flags);
  sent.Put(row);
  if (sent.Save() != 0) {
    // The row stays changed in memory; the next save writes it.
    context_.log.Write(LogLevel::kError, "Error saving the sent table: " + sent.LastError().text);
  }

  if (delivered) context_.counters.deliveredTotal += 1;
  report.id = static_cast<int32_t>(ReadUnsigned(row[kSentUniqueIdColumn]));
  report.custom = UnescapeFieldText(row[kSentCustomColumn], separator);
  if (observers_) {
    observers_->StatusChanged(report.id, DeliveryOutcome(report.status));
    SMSMessage message({}, report.from, {}, report.id);
    message.reference = report.reference;
    message.custom = report.custom;
    observers_->DeliveryReported(message, delivered);
  }
  context_.notices.ShowBalloon("Delivery report received",
                               "SMS sent to " + report.from +
                                   (delivered ? " was delivered successfully" : " was not delivered for some reason"));
  return true;
}

}  // namespace qm
