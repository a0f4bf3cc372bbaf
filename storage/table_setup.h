// The start-up steps that decide the table files, called by the start-up
// code in this order:
//   1. WriteMessageTableColumns: the column lists of inbox, outbox, sent and
//      failed go into the configuration at every start;
//   2. OpenTables: for each table in the order inbox, outbox, sent, failed,
//      addrbook, the instance's file name is applied, the table is loaded and,
//      if that fails, created; a table that can be neither stops start-up with
//      the text to show;
//   3. RaiseMessageId: "message.id" is raised to the largest "uniqueid" found.
// InitialiseTables runs all three.
//
// Thread safety: start-up only (main thread, before the worker threads run).
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/config_store.h"
#include "storage/file_database.h"

namespace qm {

inline constexpr std::array<std::string_view, 5> kTableNames = {"inbox", "outbox", "sent", "failed",
                                                                "addrbook"};

inline constexpr std::array<std::string_view, 11> kInboxColumns = {
    "id",    "timestamp", "from",  "type",     "content",    "url",
    "handled", "flags",   "reserved", "uniqueid", "destination"};
inline constexpr std::array<std::string_view, 14> kOutboxColumns = {
    "id",     "timestamp", "to",    "type",     "segments", "content", "url",
    "dstton", "flags",     "uniqueid", "attempts", "source", "validity", "custom"};
inline constexpr std::array<std::string_view, 14> kSentColumns = {
    "id",     "timestamp", "to",    "type",     "segments", "content", "url",
    "dstton", "flags",     "uniqueid", "refid", "source",   "validity", "custom"};
inline constexpr std::array<std::string_view, 13> kFailedColumns = {
    "id",     "timestamp", "to",    "type",     "segments", "content", "url",
    "dstton", "flags",     "uniqueid", "source", "validity", "custom"};

// The column of "uniqueid" in all four message tables.
inline constexpr int kUniqueIdColumn = 9;

// The five tables, owned for the life of the process.
struct TableSet {
  std::unique_ptr<FileDatabase> inbox;
  std::unique_ptr<FileDatabase> outbox;
  std::unique_ptr<FileDatabase> sent;
  std::unique_ptr<FileDatabase> failed;
  std::unique_ptr<FileDatabase> addrbook;
};

// Writes name + ".columns.%d" for every column of a table, then an empty
// entry with %d = the column count, which ends the list.
void WriteColumnList(ConfigStore& config, std::string_view table, std::span<const std::string_view> columns);
void WriteMessageTableColumns(ConfigStore& config);

// The file name an instance uses: for an instance above 0, "." N goes before
// the extension of the file name, whatever it is ("inbox.txt" ->
// "inbox.2.txt", "inbox.csv" -> "inbox.2.csv"), or at the end when it has
// none ("inbox" -> "inbox.2"), unless it is there already. Instance 0 keeps
// the name. Two instances never share a file.
std::string InstanceFileName(std::string_view fileName, unsigned instance);

// Applies InstanceFileName to name + ".filename" and stores a changed name
// back, so later starts find it already applied.
void ApplyInstanceFileName(ConfigStore& config, std::string_view table, unsigned instance);

// Opens the five tables: each is loaded, and created only when its file does
// not exist. On failure returns false with `error` set to "Error opening file
// (<file>): <system error text>"; the tables opened so far stay in `tables`.
// An address book without a column list is left out (tables.addrbook stays
// empty) rather than stopping start-up. What was left out goes to `notices`,
// for the log.
bool OpenTables(ConfigStore& config, unsigned instance, bool useServiceProfile, TableSet& tables,
                std::string& error, std::vector<std::string>* notices = nullptr);

// Stores the largest "uniqueid" of the four message tables as "message.id"
// when it is greater than the current value.
void RaiseMessageId(ConfigStore& config, const TableSet& tables);

// Steps 1 to 3 above.
bool InitialiseTables(ConfigStore& config, unsigned instance, bool useServiceProfile, TableSet& tables,
                      std::string& error, std::vector<std::string>* notices = nullptr);

}  // namespace qm
