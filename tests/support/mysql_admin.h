// Root on the test MariaDB server's socket (QM_TEST_MYSQL_SOCKET, set by
// scripts/with-services.sh), for setting up and looking behind the sources.
#pragma once

#include <mysql.h>

#include <string>

namespace qm::test {

class MysqlAdmin {
 public:
  // Throws std::runtime_error when it cannot connect.
  explicit MysqlAdmin(const std::string& socket);
  ~MysqlAdmin();
  MysqlAdmin(const MysqlAdmin&) = delete;
  MysqlAdmin& operator=(const MysqlAdmin&) = delete;

  // Runs statements; the first value of the last result ("" when none).
  // Throws std::runtime_error with the server's error.
  std::string Run(const std::string& sql);

 private:
  MYSQL* handle_;
};

}  // namespace qm::test
