#include "tests/support/mysql_admin.h"

#include <stdexcept>

namespace qm::test {

MysqlAdmin::MysqlAdmin(const std::string& socket) : handle_(mysql_init(nullptr)) {
  if (!mysql_real_connect(handle_, nullptr, "root", nullptr, nullptr, 0, socket.c_str(), CLIENT_MULTI_STATEMENTS)) {
    const std::string error = mysql_error(handle_);
    mysql_close(handle_);
    throw std::runtime_error(error);
  }
}

MysqlAdmin::~MysqlAdmin() { mysql_close(handle_); }

std::string MysqlAdmin::Run(const std::string& sql) {
  if (mysql_query(handle_, sql.c_str()) != 0) throw std::runtime_error(sql + ": " + mysql_error(handle_));
  std::string value;
  do {
    if (MYSQL_RES* result = mysql_store_result(handle_)) {
      MYSQL_ROW row = mysql_fetch_row(result);
      value = row && row[0] ? row[0] : "";
      mysql_free_result(result);
    }
  } while (mysql_next_result(handle_) == 0);
  if (mysql_errno(handle_) != 0) throw std::runtime_error(sql + ": " + mysql_error(handle_));
  return value;
}

}  // namespace qm::test
