#include "storage/table_setup.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "storage/table_format.h"

namespace qm {

void WriteColumnList(ConfigStore& config, std::string_view table, std::span<const std::string_view> columns) {
  const std::string format = std::string(table) + ".columns.%d";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    config.SetFormatted(format, static_cast<int>(i), columns[i]);
  }
  config.SetFormatted(format, static_cast<int>(columns.size()), "");
}

void WriteMessageTableColumns(ConfigStore& config) {
  WriteColumnList(config, "inbox", kInboxColumns);
  WriteColumnList(config, "outbox", kOutboxColumns);
  WriteColumnList(config, "sent", kSentColumns);
  WriteColumnList(config, "failed", kFailedColumns);
}

std::string InstanceFileName(std::string_view fileName, unsigned instance) {
  std::string out(fileName);
  if (instance == 0 || fileName.empty()) return out;
  const std::string mark = fmt::format(".{}", instance);
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = fileName.substr(nameStart);
  if (name.ends_with(mark)) return out;  // a name without extension, numbered already
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return out + mark;  // no extension ("inbox", ".inbox")
  if (name.substr(0, dot).ends_with(mark)) return out;
  out.insert(nameStart + dot, mark);
  return out;
}

void ApplyInstanceFileName(ConfigStore& config, std::string_view table, unsigned instance) {
  if (instance == 0) return;
  const std::string key = std::string(table) + ".filename";
  const std::string current = config.GetString(key);
  const std::string changed = InstanceFileName(current, instance);
  if (changed != current) config.SetString(key, changed);
}

bool OpenTables(ConfigStore& config, unsigned instance, bool useServiceProfile, TableSet& tables,
                std::string& error, std::vector<std::string>* notices) {
  std::unique_ptr<FileDatabase>* slots[] = {&tables.inbox, &tables.outbox, &tables.sent, &tables.failed,
                                            &tables.addrbook};
  for (std::size_t i = 0; i < kTableNames.size(); ++i) {
    const std::string name(kTableNames[i]);
    ApplyInstanceFileName(config, name, instance);
    auto table = std::make_unique<FileDatabase>(config, name, useServiceProfile);
    // Only a file that is not there is created: any other failure (no
    // permission, a read error) must leave the messages in it alone.
    if (table->Load(true) != 0 && (table->LastError().code != kErrFileNotFound || table->Create() != 0)) {
      const std::string text = fmt::format("Error opening file ({}): {}", table->FileName(), table->LastError().text);
      if (name == "addrbook" && table->Columns().empty()) {
        // The gateway works without its address book.
        if (notices) notices->push_back(text + "; the address book has no column list and is not used");
        continue;
      }
      error = text;
      return false;
    }
    if (notices && !table->LoadNotice().empty()) notices->push_back(table->LoadNotice());
    *slots[i] = std::move(table);
  }
  return true;
}

void RaiseMessageId(ConfigStore& config, const TableSet& tables) {
  const FileDatabase* messageTables[] = {tables.inbox.get(), tables.outbox.get(), tables.sent.get(),
                                         tables.failed.get()};
  bool found = false;
  int64_t largest = 0;
  for (const FileDatabase* table : messageTables) {
    if (table == nullptr) continue;
    Row row;
    const std::string value = table->MaxValue(kUniqueIdColumn, row, true);
    if (value.empty()) continue;
    int64_t number = ReadDecimal(value);
    constexpr int64_t kLargestId = std::numeric_limits<int32_t>::max();
    if (number > kLargestId) {
      // A number no message id can be is a damaged row: the largest id of
      // the other rows counts (a rare, slower walk).
      number = -1;
      for (const Row& r : table->SelectByNumber(kUniqueIdColumn, kLargestId + 1, 1, 0)) {
        number = std::max(number, ReadDecimal(r[kUniqueIdColumn]));
      }
    }
    if (number < 0) continue;
    if (!found || number > largest) largest = number;
    found = true;
  }
  if (found && largest > ReadDecimal(config.GetString("message.id"))) {
    config.SetString("message.id", std::to_string(largest));
  }
}

bool InitialiseTables(ConfigStore& config, unsigned instance, bool useServiceProfile, TableSet& tables,
                      std::string& error, std::vector<std::string>* notices) {
  WriteMessageTableColumns(config);
  if (!OpenTables(config, instance, useServiceProfile, tables, error, notices)) return false;
  RaiseMessageId(config, tables);
  return true;
}

}  // namespace qm
