// The settings shared by sources that poll a database: the query (".query"),
// the server (".host"), the database (".base") and the login (".user",
// ".password"; the password is kept as plain text, like every value of the
// configuration). Also turns the rows a poll returned into work items, the
// same way whatever client fetched them.
//
// Rows become work items by their column names (letter case ignored):
//   msisdn, text (or body), url, flash, report, custom
//       a message as the XML "message" element makes it: an SMS, or a WAP
//       push when url is not empty; a row with an empty msisdn gives nothing
//   ussd
//       a USSD request (on a row whose msisdn is empty; empty ussd: nothing)
//   xml (in a result without msisdn and ussd)
//       each value is parsed as a whole message document, whose "handle" and
//       "handle_received" requests run at once
// NULL reads as empty. A flag column is set when its value is neither empty
// nor exactly "false" or "0". Results with none of these columns are ignored,
// so a query may also select helper values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "integration/sms_source.h"

namespace qm {

// One result of a query as text; NULL values are nullopt.
struct SqlResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

class SqlSMSSource : public SMSSource {
 public:
  using SMSSource::SMSSource;

  std::string TypeName() const override { return "sql"; }
  std::string Location() const override { return query; }

  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string query;
  std::string host;
  std::string base;
  std::string user;
  std::string password;

 protected:
  SqlSMSSource(const SqlSMSSource&) = default;

  // The work items of one poll's results, in result and row order.
  WorkItems TakeRows(const std::vector<SqlResultSet>& results) const;
  // The results one row a line ("name=value, ..."; NULL as NULL), for the
  // "SMS source returned" log line.
  static std::string RenderRows(const std::vector<SqlResultSet>& results);
};

}  // namespace qm
