#include "storage/generic_database.h"

#include <fmt/format.h>

namespace qm {

std::vector<std::string> ReadColumnList(const ConfigStore& config, std::string_view tableName) {
  std::vector<std::string> columns;
  const std::string format = std::string(tableName) + ".columns.%d";
  for (int i = 0;; ++i) {
    std::string column = config.GetFormatted(format, i);
    if (column.empty()) break;
    columns.push_back(std::move(column));
  }
  return columns;
}

GenericDatabase::GenericDatabase(ConfigStore& config, std::string name)
    : config_(config),
      name_(std::move(name)),
      columns_(ReadColumnList(config, name_)),
      // The counter is kept as the configuration's signed number; its bits are the id.
      nextId_(static_cast<uint32_t>(config.GetInt(name_ + ".id"))) {}

GenericDatabase::~GenericDatabase() = default;

uint32_t GenericDatabase::NextId() {
  std::lock_guard lock(lock_);
  config_.SetInt(name_ + ".id", static_cast<int32_t>(nextId_ + 1));
  return nextId_++;
}

std::string GenericDatabase::NewId() { return fmt::format("{:08x}", NextId()); }

}  // namespace qm
