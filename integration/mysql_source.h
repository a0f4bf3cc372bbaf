// A source that polls a MariaDB or MySQL server: each poll runs ".query",
// which may hold several statements separated by ";" (select the waiting rows
// and mark them taken, or call a stored procedure), and every row of every
// result becomes a work item as SqlSMSSource describes.
//
// ".host" is empty (the local server's default socket), a host name or
// address (TCP port 3306), "host:port" ("[v6 address]:port"; always TCP, even
// for localhost) or a socket path starting with "/". The connection is kept
// between polls and opened again at the next poll after any failure; the
// character set is utf8mb4; connect, read and write wait at most
// "source.timeout" seconds (30 when not set).
//
// A poll is all or nothing. Any failure is logged as "Failed to retrieve
// source: <server's error>", returns nothing and closes the connection, which
// rolls back what the failed poll's statements left uncommitted. A
// transaction the query leaves open is committed only after every row has
// arrived. So a query that marks rows without committing them itself never
// loses a row to a connection that breaks mid-result: the marks are rolled
// back and the rows are taken at the next poll. (A query that commits itself,
// and the commit whose reply is lost, can leave rows marked that no poll
// returned; give such rows the time they were taken so they can be found.)
//
// At exit (SourceServices::stop) a poll in progress ends at once, whether it
// is connecting or waiting for the server, and is rolled back like a failure.
//
// Threads: Retrieve on the source thread only; the stop may come from any.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "integration/sql_source.h"

struct st_mysql;

namespace qm {

class MysqlSMSSource final : public SqlSMSSource {
 public:
  explicit MysqlSMSSource(const SourceServices& services);
  // The settings; the copy opens its own connection.
  MysqlSMSSource(const MysqlSMSSource& other);
  ~MysqlSMSSource() override;

  std::unique_ptr<SMSSource> Clone() const override { return std::make_unique<MysqlSMSSource>(*this); }
  SourceKind Kind() const override { return SourceKind::kMysql; }
  std::string TypeName() const override { return "mysql"; }

  WorkItems Retrieve() override;

 private:
  struct Closer {
    void operator()(st_mysql* connection) const;
  };
  using Connection = std::unique_ptr<st_mysql, Closer>;

  std::string Login() const;
  bool Connect(std::string& error);
  bool RunQuery(std::vector<SqlResultSet>& results, std::string& error);

  Connection connection_;
  std::string connectedAs_;  // Login() when the connection was opened
};

// Where ".host" points. A port (non-zero) means TCP; a socket path means a
// local socket; neither means the client library's default.
struct MysqlEndpoint {
  std::string host;
  uint16_t port = 0;
  std::string socket;
};
MysqlEndpoint ParseMysqlHost(std::string_view host);

}  // namespace qm
