#include "storage/outgoing_rows.h"

#include <string>

#include "storage/file_database.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"

namespace qm {

std::optional<OutgoingRow> FindOutgoingRow(const TableSet& tables, int64_t id) {
  const std::string key = std::to_string(id);
  OutgoingRow found;
  if (tables.outbox && tables.outbox->FindEqual(kUniqueIdColumnOfRows, key, found.row) == 1) return found;
  // Filed rows are searched from the newest: a message just sent is near the end.
  if (tables.failed && tables.failed->FindLastEqual(kUniqueIdColumnOfRows, key, found.row) == 1) {
    found.place = OutgoingPlace::kFailed;
    return found;
  }
  if (tables.sent && tables.sent->FindLastEqual(kUniqueIdColumnOfRows, key, found.row) == 1) {
    found.place = OutgoingPlace::kSent;
    return found;
  }
  return std::nullopt;
}

}  // namespace qm
