// FileDatabase: the searches. Each walks the rows in key order under the
// table lock, reading the one field it tests in place, and copies only the
// rows it returns.
#include "storage/file_database.h"
#include "storage/table_format.h"
#include "storage/text_match.h"

namespace qm {

template <class Match>
Rows FileDatabase::SelectWhere(int column, int limit, Match match) const {
  Rows out;
  if (column < 0) return out;
  const auto col = static_cast<std::size_t>(column);
  std::lock_guard lock(lock_);
  for (const auto& row : records_) {
    if (col >= row.size()) break;  // a row too short for the column ends the walk
    if (!match(row.Field(col))) continue;
    out.push_back(row.Unpack());
    if (limit > 0 && out.size() >= static_cast<std::size_t>(limit)) break;
  }
  return out;
}

template <class Match>
int FileDatabase::FindFirst(int column, Row& row, Match match) const {
  Rows found = SelectWhere(column, 1, match);
  if (found.empty()) return 0;
  row = std::move(found.front());
  return 1;
}

Rows FileDatabase::SelectMatchingAll(const std::vector<int>& columns, const std::vector<std::string>& values,
                                     int limit) const {
  Rows out;
  if (columns.size() != values.size()) return out;  // the lists pair up by position
  std::vector<CaseInsensitiveMatcher> matchers(values.begin(), values.end());
  std::lock_guard lock(lock_);
  for (const auto& row : records_) {
    const std::size_t fields = row.size();
    bool all = true;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i] < 0 || static_cast<std::size_t>(columns[i]) >= fields) return out;
      if (!matchers[i].Equals(row.Field(static_cast<std::size_t>(columns[i])))) {
        all = false;
        break;
      }
    }
    if (!all) continue;
    out.push_back(row.Unpack());
    if (limit > 0 && out.size() >= static_cast<std::size_t>(limit)) break;
  }
  return out;
}

Rows FileDatabase::SelectEqual(int column, std::string_view value, int limit) const {
  CaseInsensitiveMatcher m(value);
  return SelectWhere(column, limit, [&](std::string_view f) { return m.Equals(f); });
}

int FileDatabase::FindEqual(int column, std::string_view value, Row& row) const {
  CaseInsensitiveMatcher m(value);
  return FindFirst(column, row, [&](std::string_view f) { return m.Equals(f); });
}

Rows FileDatabase::SelectNotEqual(int column, std::string_view value, int limit) const {
  CaseInsensitiveMatcher m(value);
  return SelectWhere(column, limit, [&](std::string_view f) { return !m.Equals(f); });
}

int FileDatabase::FindNotEqual(int column, std::string_view value, Row& row) const {
  CaseInsensitiveMatcher m(value);
  return FindFirst(column, row, [&](std::string_view f) { return !m.Equals(f); });
}

int FileDatabase::FindLastEqual(int column, std::string_view value, Row& row) const {
  if (column < 0) return 0;
  const auto col = static_cast<std::size_t>(column);
  CaseInsensitiveMatcher m(value);
  std::lock_guard lock(lock_);
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    if (col >= it->size()) return 0;
    if (m.Equals(it->Field(col))) {
      row = it->Unpack();
      return 1;
    }
  }
  return 0;
}

Rows FileDatabase::SelectContaining(int column, std::string_view value, int limit) const {
  CaseInsensitiveMatcher m(value);
  return SelectWhere(column, limit, [&](std::string_view f) { return m.IsIn(f); });
}

int FileDatabase::FindContaining(int column, std::string_view value, Row& row) const {
  CaseInsensitiveMatcher m(value);
  return FindFirst(column, row, [&](std::string_view f) { return m.IsIn(f); });
}

Rows FileDatabase::SelectNotContaining(int column, std::string_view value, int limit) const {
  CaseInsensitiveMatcher m(value);
  return SelectWhere(column, limit, [&](std::string_view f) { return !m.IsIn(f); });
}

int FileDatabase::FindNotContaining(int column, std::string_view value, Row& row) const {
  CaseInsensitiveMatcher m(value);
  return FindFirst(column, row, [&](std::string_view f) { return !m.IsIn(f); });
}

std::string FileDatabase::MaxValue(int column, Row& row, bool numeric) const {
  if (column < 0) return {};
  const auto col = static_cast<std::size_t>(column);
  std::lock_guard lock(lock_);
  const PackedRow* best = nullptr;
  std::string_view bestField;
  int64_t bestNumber = 0;
  for (const auto& r : records_) {
    if (col >= r.size()) break;
    const std::string_view field = r.Field(col);
    const int64_t number = numeric ? ReadDecimal(field) : 0;
    // Strictly greater: the first row holding the greatest value wins.
    const bool greater = best == nullptr || (numeric ? number > bestNumber : field > bestField);
    if (!greater) continue;
    best = &r;
    bestField = field;
    bestNumber = number;
  }
  if (best == nullptr) return {};
  row = best->Unpack();
  return std::string(bestField);
}

Rows FileDatabase::SelectByNumber(int column, int64_t number, int mode, int limit) const {
  if (mode == 0) return SelectWhere(column, limit, [&](std::string_view f) { return ReadDecimal(f) > number; });
  if (mode == 1) return SelectWhere(column, limit, [&](std::string_view f) { return ReadDecimal(f) < number; });
  return {};
}

}  // namespace qm
