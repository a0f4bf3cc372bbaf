// A table kept in memory and mirrored in a text file (one of inbox, outbox,
// sent, failed, addrbook).
//
// The whole file is read once (Load); afterwards memory is the truth and
// callers write it back with Save after each change they want on disk. While
// rows are only added to an unbounded table, Save appends just the new rows
// (and flushes them to disk); any removal, replacement, trimming or Clear makes
// the next Save rewrite the whole file atomically (temporary file, flush,
// rename), so a crash, a kill or a full disk leaves the old or the new file,
// never a torn one. A failed write is reported (-1) and the next Save rewrites
// everything; a row that Save reported as saved is never lost.
//
// Configuration (table name + suffix): ".filename" (may hold "%appdata%"-style
// variables, expanded when the table is constructed), ".columns.%d", ".index"
// (key column, default 0), ".id", ".separator" (its first character; empty
// means TAB), ".maxrecords" (0 = unbounded; above 0 the oldest keys are
// dropped on Put).
//
// A key column outside the table's columns is a configuration error: Load,
// Create and Save then fail with EINVAL and Put stores nothing, so no file is
// read past its rows or emptied by mistake.
//
// Fields that could not be read back from the file as they are (line breaks,
// NUL, stray quotes) are stored %-escaped by Put (see storage/text_escape.h);
// other fields are stored and returned as given.
//
// Thread safety: as GenericDatabase; every member may be called from any
// thread.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "storage/generic_database.h"
#include "storage/packed_row.h"
#include "storage/row_index.h"

namespace qm {

class FileDatabase final : public GenericDatabase {
 public:
  // Reads the table's configuration; does not touch the file. With
  // `useServiceProfile`, "%appdata%" in the file name means the service
  // account's folder.
  FileDatabase(ConfigStore& config, std::string name, bool useServiceProfile = false);
  ~FileDatabase() override;

  // Merges the file's rows into memory (a row with an existing key replaces
  // it). With `resetIds`, the record counter becomes the largest key read as
  // hexadecimal plus 2. -1 when the file cannot be opened or read completely;
  // memory is then unchanged.
  int Load(bool resetIds) override;
  int Flush() override;
  // Creates or empties the file (and its folder), then empties the table.
  int Create() override;
  int Save() override;
  int Get(std::string_view key, Row& row) const override;
  void Insert(const Row& row) override;
  // Pads the row to the column count (or cuts it), stores it under its key,
  // then trims the oldest rows beyond maxrecords.
  void Put(const Row& row) override;
  void Remove(std::string_view key) override;
  void Clear() override;
  int Count() const override;

  // Searches walk the rows in key order and return copies. Equality and
  // containment ignore letter case. A column beyond the rows' fields yields
  // nothing; a limit of 0 or less means no limit.
  Rows SelectMatchingAll(const std::vector<int>& columns, const std::vector<std::string>& values,
                         int limit) const override;
  Rows SelectEqual(int column, std::string_view value, int limit) const override;
  int FindEqual(int column, std::string_view value, Row& row) const override;
  Rows SelectNotEqual(int column, std::string_view value, int limit) const override;
  int FindNotEqual(int column, std::string_view value, Row& row) const override;
  int FindLastEqual(int column, std::string_view value, Row& row) const override;
  Rows SelectContaining(int column, std::string_view value, int limit) const override;
  int FindContaining(int column, std::string_view value, Row& row) const override;
  Rows SelectNotContaining(int column, std::string_view value, int limit) const override;
  int FindNotContaining(int column, std::string_view value, Row& row) const override;
  // The greatest field of the column (as decimal integers when `numeric`),
  // the first such row copied to `row`; "" and `row` untouched when empty.
  std::string MaxValue(int column, Row& row, bool numeric) const override;
  // Rows whose field read as a decimal integer is greater than `number`
  // (mode 0) or less than it (mode 1); other modes match nothing.
  Rows SelectByNumber(int column, int64_t number, int mode, int limit) const override;

  // The expanded path of the table file.
  const std::string& FileName() const { return fileName_; }
  const std::string& Separator() const { return separator_; }
  int KeyColumn() const { return index_; }
  int MaxRecords() const { return maxRecords_; }
  // The cause of the last failed Load, Create or Save.
  SysError LastError() const;
  // What the last Load left out and why ("" when it took everything), for
  // the log.
  std::string LoadNotice() const;

  // The next identifier that no row of the table holds: counting on from the
  // largest, and once the key space above it is used up, the lowest free one.
  uint32_t NextId() override;

 private:
  bool KeyColumnValid() const;
  int Fail(int err);
  int Fail(const SysError& err);
  bool ReadRows(int fd, RowIndex& fresh, bool& sawNul, std::string& tornRow) const;
  void AppendLine(std::string& out, const PackedRow& row, std::vector<std::string_view>& scratch) const;
  // 0 done, -1 failed, 1 the file is missing and needs a full rewrite.
  int AppendPending();
  int Rewrite();

  template <class Match>
  Rows SelectWhere(int column, int limit, Match match) const;
  template <class Match>
  int FindFirst(int column, Row& row, Match match) const;

  const int index_;
  const std::string fileName_;
  const std::string separator_;
  const int maxRecords_;

  // Guarded by lock_ (GenericDatabase).
  RowIndex records_;
  std::set<std::string, std::less<>> pending_;  // keys added since the last save
  bool appendable_ = true;  // the file holds exactly records_ minus pending_
  SysError lastError_;
  std::string loadNotice_;
};

// The separator a configured value gives: its first character, TAB when the
// value is empty or its first character cannot separate fields ('"', '%',
// '\\', a line break or NUL).
std::string TableSeparator(std::string_view configured);

}  // namespace qm
