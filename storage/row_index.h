// The rows of a table ordered by their key field.
//
// A sorted double-ended sequence of packed rows: lookups are binary searches,
// the common changes are O(1) (a new identifier is the largest key and goes at
// the end; trimming and removing the oldest row take the front), a key in
// the middle costs a move of the shorter side. Compared with a tree it needs
// no node per row, and walks run through memory in order.
//
// Thread safety: none; the owning table guards it.
#pragma once

#include <cstddef>
#include <deque>
#include <string_view>

#include "storage/packed_row.h"

namespace qm {

class RowIndex {
 public:
  using Rows = std::deque<PackedRow>;
  using const_iterator = Rows::const_iterator;
  using const_reverse_iterator = Rows::const_reverse_iterator;

  explicit RowIndex(std::size_t keyColumn = 0) : key_(keyColumn) {}

  std::size_t KeyColumn() const { return key_; }
  std::string_view KeyOf(const PackedRow& row) const { return row.Field(key_); }

  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const_iterator begin() const { return rows_.begin(); }
  const_iterator end() const { return rows_.end(); }
  const_reverse_iterator rbegin() const { return rows_.rbegin(); }
  const_reverse_iterator rend() const { return rows_.rend(); }

  // The row with that key, or nullptr.
  const PackedRow* Find(std::string_view key) const;
  // Inserts, or replaces the row with the same key. True when it replaced one.
  bool Store(PackedRow row);
  // Removes the row with that key; false when there is none.
  bool Erase(std::string_view key);
  // Removes the row with the smallest key.
  void PopFront();
  void Clear();

  // Bulk loading: rows in any order (packed into Arena()); of several with
  // one key the last added wins. Call Finish() before any other use.
  RowArena& Arena() { return arena_; }
  void Add(PackedRow row);
  void Finish();

  // Takes every row of `other` (same key column); its rows replace rows with
  // the same key here.
  void MergeFrom(RowIndex&& other);

 private:
  Rows::iterator LowerBound(std::string_view key);
  Rows::const_iterator LowerBound(std::string_view key) const;

  std::size_t key_;
  RowArena arena_;  // before rows_: rows leave their chunks before chunks go
  Rows rows_;
  bool sorted_ = true;
};

}  // namespace qm
