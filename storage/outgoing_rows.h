// Where the row of an outgoing message is, by its id: the outbox while it
// waits, else the newest failed or sent row. The outbox comes first because
// a message is filed before its outbox row goes.
//
// Threads: any; each table takes its own lock.
#pragma once

#include <cstdint>
#include <optional>

#include "storage/generic_database.h"

namespace qm {

struct TableSet;

enum class OutgoingPlace { kOutbox, kFailed, kSent };

struct OutgoingRow {
  OutgoingPlace place = OutgoingPlace::kOutbox;
  Row row;
};

std::optional<OutgoingRow> FindOutgoingRow(const TableSet& tables, int64_t id);

}  // namespace qm
