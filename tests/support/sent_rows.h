// Rows of the "sent" table as the driver files them, for tests of what
// happens to sent messages later (delivery reports).
#pragma once

#include <cstdint>
#include <string>

#include "storage/file_database.h"

namespace qm::test {

// Files a sent message to `to` with the network's `reference` and saves the
// table; returns the row's key.
std::string FileSent(FileDatabase& sent, std::string to, int32_t reference, int32_t id = -1, std::string custom = {},
                     uint32_t flags = 0);

// The row's "flags" column ("missing" when there is no such row).
std::string SentFlags(const FileDatabase& sent, const std::string& key);

}  // namespace qm::test
