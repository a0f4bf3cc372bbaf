#include "tests/support/table_file.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "tests/support/test_env.h"

namespace qm::test {

std::vector<TableRow> ReadTableRows(const std::string& path) {
  std::vector<TableRow> rows;
  if (!FileExists(path)) return rows;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    TableRow fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::map<std::string, int> CountByColumn(const std::vector<TableRow>& rows, std::size_t column) {
  std::map<std::string, int> counts;
  for (const TableRow& row : rows) {
    if (row.size() > column) ++counts[row[column]];
  }
  return counts;
}

std::string OutboxRow(int id, const std::string& to, const std::string& text, int uniqueid) {
  return fmt::format("{:08x}\t1700000000\t{}\tsms\t1\t{}\t\t1\t0\t{}\t0\t\t0\t\r\n", id, to, text, uniqueid);
}

std::string MessageDocument(const std::vector<std::pair<std::string, std::string>>& messages) {
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<messages>\n";
  for (const auto& [number, text] : messages) {
    document += "  <message msisdn=\"" + number + "\">" + text + "</message>\n";
  }
  return document + "</messages>\n";
}

void ReplaceFile(const std::string& path, const std::string& data) {
  const std::string temporary = path + ".new";
  WriteFile(temporary, data);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) throw std::runtime_error("rename failed: " + path);
}

}  // namespace qm::test
