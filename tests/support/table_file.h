// Reading the driver's table files as another program would, for tests that
// account for every message.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qm::test {

using TableRow = std::vector<std::string>;

// The rows of a table file (tab-separated fields, CR LF line ends); none
// when the file does not exist.
std::vector<TableRow> ReadTableRows(const std::string& path);

// How often each value of `column` occurs in the rows.
std::map<std::string, int> CountByColumn(const std::vector<TableRow>& rows, std::size_t column);

// An outbox row as the driver writes it: an SMS to `to` with `text`, record
// `id` and message id `uniqueid`.
std::string OutboxRow(int id, const std::string& to, const std::string& text, int uniqueid);

// A document for a file source: one message element per (number, text).
std::string MessageDocument(const std::vector<std::pair<std::string, std::string>>& messages);

// Replaces the file at `path` in one step, so a reader never sees half of it.
void ReplaceFile(const std::string& path, const std::string& data);

}  // namespace qm::test
