#include "storage/row_index.h"

#include <algorithm>
#include <iterator>

namespace qm {

RowIndex::Rows::iterator RowIndex::LowerBound(std::string_view key) {
  return std::partition_point(rows_.begin(), rows_.end(), [&](const PackedRow& r) { return KeyOf(r) < key; });
}

RowIndex::Rows::const_iterator RowIndex::LowerBound(std::string_view key) const {
  return std::partition_point(rows_.begin(), rows_.end(), [&](const PackedRow& r) { return KeyOf(r) < key; });
}

const PackedRow* RowIndex::Find(std::string_view key) const {
  const auto it = LowerBound(key);
  return it != rows_.end() && KeyOf(*it) == key ? &*it : nullptr;
}

bool RowIndex::Store(PackedRow row) {
  const std::string_view key = KeyOf(row);
  if (rows_.empty() || KeyOf(rows_.back()) < key) {
    rows_.push_back(std::move(row));
    return false;
  }
  const auto it = LowerBound(key);
  if (it != rows_.end() && KeyOf(*it) == key) {
    *it = std::move(row);
    arena_.ReleaseEmpty();
    return true;
  }
  rows_.insert(it, std::move(row));
  return false;
}

bool RowIndex::Erase(std::string_view key) {
  const auto it = LowerBound(key);
  if (it == rows_.end() || KeyOf(*it) != key) return false;
  rows_.erase(it);
  arena_.ReleaseEmpty();
  return true;
}

void RowIndex::PopFront() {
  rows_.pop_front();
  arena_.ReleaseEmpty();
}

void RowIndex::Clear() {
  rows_.clear();
  arena_.ReleaseEmpty();
}

void RowIndex::Add(PackedRow row) {
  if (!rows_.empty() && sorted_) {
    const std::string_view last = KeyOf(rows_.back());
    const std::string_view key = KeyOf(row);
    if (key == last) {
      rows_.back() = std::move(row);
      return;
    }
    sorted_ = key > last;
  }
  rows_.push_back(std::move(row));
}

void RowIndex::Finish() {
  if (sorted_) return;
  sorted_ = true;
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&](const PackedRow& a, const PackedRow& b) { return KeyOf(a) < KeyOf(b); });
  // Of each run of equal keys keep the last one (added latest).
  auto out = rows_.begin();
  for (auto it = rows_.begin(); it != rows_.end();) {
    auto next = std::next(it);
    while (next != rows_.end() && KeyOf(*next) == KeyOf(*it)) it = next++;
    if (out != it) *out = std::move(*it);
    ++out;
    it = next;
  }
  rows_.erase(out, rows_.end());
  arena_.ReleaseEmpty();
}

void RowIndex::MergeFrom(RowIndex&& other) {
  other.Finish();
  arena_.Adopt(std::move(other.arena_));
  if (rows_.empty()) {
    rows_.swap(other.rows_);
    return;
  }
  Rows merged;
  auto a = rows_.begin();
  auto b = other.rows_.begin();
  while (a != rows_.end() || b != other.rows_.end()) {
    if (b == other.rows_.end() || (a != rows_.end() && KeyOf(*a) < KeyOf(*b))) {
      merged.push_back(std::move(*a++));
    } else {
      if (a != rows_.end() && KeyOf(*a) == KeyOf(*b)) ++a;  // replaced by other's row
      merged.push_back(std::move(*b++));
    }
  }
  rows_.swap(merged);
  other.rows_.clear();
  arena_.ReleaseEmpty();
}

}  // namespace qm
