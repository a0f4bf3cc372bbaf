// The table interface shared by every message table and the address book.
//
// A table maps a key (the value of one chosen column) to a row: a list of
// UTF-8 strings, one per column. Column numbers are 0-based. The column names
// and the record counter come from the configuration under the table's name
// (name + ".columns.%d", name + ".id").
//
// Results follow the driver's conventions: 0 / -1 for operations that touch
// the file (the cause is then in LastError() of the implementation and in
// errno), 1 / 0 for lookups. Nothing throws.
//
// Thread safety: every operation may be called from any thread; each takes the
// table's own lock for its whole duration (file I/O included). No operation
// holds two table locks.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/config_store.h"

namespace qm {

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

class GenericDatabase {
 public:
  // Reads the column list and the record counter of table `name`.
  GenericDatabase(ConfigStore& config, std::string name);
  GenericDatabase(const GenericDatabase&) = delete;
  GenericDatabase& operator=(const GenericDatabase&) = delete;

  // The operations, in the order of the table interface.
  virtual ~GenericDatabase();
  // Stores counter + 1 under name + ".id", then hands out the counter and
  // increments it, all under the table lock: two threads never get the same.
  virtual uint32_t NextId();
  // NextId() as eight lower-case hex digits ("0000001a").
  virtual std::string NewId();
  virtual int Load(bool resetIds) = 0;
  virtual int Flush() = 0;
  virtual int Create() = 0;
  virtual int Save() = 0;
  virtual int Get(std::string_view key, Row& row) const = 0;
  virtual void Insert(const Row& row) = 0;
  virtual void Put(const Row& row) = 0;
  virtual void Remove(std::string_view key) = 0;
  virtual void Clear() = 0;
  virtual int Count() const = 0;
  virtual Rows SelectMatchingAll(const std::vector<int>& columns, const std::vector<std::string>& values,
                                 int limit) const = 0;
  virtual Rows SelectEqual(int column, std::string_view value, int limit) const = 0;
  virtual int FindEqual(int column, std::string_view value, Row& row) const = 0;
  virtual Rows SelectNotEqual(int column, std::string_view value, int limit) const = 0;
  virtual int FindNotEqual(int column, std::string_view value, Row& row) const = 0;
  virtual int FindLastEqual(int column, std::string_view value, Row& row) const = 0;
  virtual Rows SelectContaining(int column, std::string_view value, int limit) const = 0;
  virtual int FindContaining(int column, std::string_view value, Row& row) const = 0;
  virtual Rows SelectNotContaining(int column, std::string_view value, int limit) const = 0;
  virtual int FindNotContaining(int column, std::string_view value, Row& row) const = 0;
  virtual std::string MaxValue(int column, Row& row, bool numeric) const = 0;
  virtual Rows SelectByNumber(int column, int64_t number, int mode, int limit) const = 0;

  const std::string& Name() const { return name_; }
  const std::vector<std::string>& Columns() const { return columns_; }

 protected:
  ConfigStore& config_;
  const std::string name_;
  const std::vector<std::string> columns_;
  // The table lock: guards nextId_ here and every member of the implementation.
  mutable std::mutex lock_;
  uint32_t nextId_;
};

// The column list stored under name + ".columns.%d", up to the first empty or
// missing entry.
std::vector<std::string> ReadColumnList(const ConfigStore& config, std::string_view tableName);

}  // namespace qm
