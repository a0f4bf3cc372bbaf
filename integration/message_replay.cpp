#include "integration/message_replay.h"

#include <algorithm>
#include <cstdint>

#include "integration/handler_list.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "storage/text_escape.h"

namespace qm {

void MessageReplay::Run(const std::vector<ReplayRequest>& requests) const {
  for (const ReplayRequest& request : requests) {
    switch (request.kind) {
      case ReplayKind::kHandle:
        if (!request.custom.empty()) HandleCustom(request.custom);
        break;
      case ReplayKind::kHandleReceived:
        HandleReceived(request.timestamp);
        break;
    }
  }
}

void MessageReplay::HandleCustom(const std::string& custom) const {
  Row row;
  if (tables_.sent &&
      tables_.sent->FindLastEqual(kSentCustomColumn, EscapeFieldText(custom, tables_.sent->Separator()), row) != 0) {
    if (auto message = MessageFromSentRow(row)) {
      if ((message->flags & kFlagDelivered) != 0) {
        handlers_.Dispatch(HandlerEvent::kDelivery, *message, HandlerStatus::kDelivered);
      } else {
        handlers_.Dispatch(HandlerEvent::kSend, *message, HandlerStatus::kSent);
      }
    }
    return;
  }
  if (tables_.failed &&
      tables_.failed->FindLastEqual(kFailedCustomColumn, EscapeFieldText(custom, tables_.failed->Separator()), row) !=
          0) {
    if (auto message = MessageFromFailedRow(row)) {
      handlers_.Dispatch(HandlerEvent::kSend, *message, HandlerStatus::kFailed);
    }
  }
}

void MessageReplay::HandleReceived(uint64_t timestamp) const {
  if (!tables_.inbox) return;
  const auto after = static_cast<int64_t>(std::min<uint64_t>(timestamp, INT64_MAX));
  for (const Row& row : tables_.inbox->SelectByNumber(kRowTimestampColumn, after, 0, 0)) {
    if (auto message = MessageFromInboxRow(row)) {
      handlers_.Dispatch(HandlerEvent::kReceive, *message, HandlerStatus::kNone);
    }
  }
}

}  // namespace qm
