#include "storage/table_setup.h"

#include <fmt/format.h>

#include "platform/utf.h"
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
  if (instance == 0) return std::string(fileName);
  const std::string infix = fmt::format(".{}.txt", instance);
  if (AsciiLowerCopy(fileName).find(infix) != std::string::npos) return std::string(fileName);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = fileName.find(".txt", pos);
    if (hit == std::string_view::npos) break;
    out.append(fileName.substr(pos, hit - pos));
    out.append(infix);
    pos = hit + 4;
  }
  out.append(fileName.substr(pos));
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
                std::string& error) {
  std::unique_ptr<FileDatabase>* slots[] = {&tables.inbox, &tables.outbox, &tables.sent, &tables.failed,
                                            &tables.addrbook};
  for (std::size_t i = 0; i < kTableNames.size(); ++i) {
    ApplyInstanceFileName(config, kTableNames[i], instance);
    auto table = std::make_unique<FileDatabase>(config, std::string(kTableNames[i]), useServiceProfile);
    if (table->Load(true) != 0 && table->Create() != 0) {
      error = fmt::format("Error opening file ({}): {}", table->FileName(), table->LastError().text);
      return false;
    }
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
    const int64_t number = ReadDecimal(value);
    if (!found || number > largest) largest = number;
    found = true;
  }
  if (found && largest > ReadDecimal(config.GetString("message.id"))) {
    config.SetString("message.id", std::to_string(largest));
  }
}

bool InitialiseTables(ConfigStore& config, unsigned instance, bool useServiceProfile, TableSet& tables,
                      std::string& error) {
  WriteMessageTableColumns(config);
  if (!OpenTables(config, instance, useServiceProfile, tables, error)) return false;
  RaiseMessageId(config, tables);
  return true;
}

}  // namespace qm
