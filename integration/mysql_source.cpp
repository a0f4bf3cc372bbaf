#include "integration/mysql_source.h"

#include <mysql.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <stop_token>
#include <utility>

#include "base/config_store.h"

namespace qm {

namespace {

constexpr unsigned kDefaultTimeoutSeconds = 30;
// How often a wait for the server looks at the stop.
constexpr int kStopCheckMs = 100;

// The stop of the poll running on this thread, for WaitForSocket: the
// library's wait hook has no argument of ours.
thread_local const std::stop_token* pollStop = nullptr;

class PollStopScope {
 public:
  explicit PollStopScope(const std::stop_token& stop) : saved_(std::exchange(pollStop, &stop)) {}
  ~PollStopScope() { pollStop = saved_; }
  PollStopScope(const PollStopScope&) = delete;
  PollStopScope& operator=(const PollStopScope&) = delete;

 private:
  const std::stop_token* saved_;
};

// The library's wait for its socket (connect, reads, writes), which also
// gives up when the driver stops. While mysql_real_connect runs the socket is
// the library's alone, so this is the only way to end a connect to a server
// that does not answer. Returns as poll does; a stop fails like an I/O error.
int WaitForSocket(my_socket fd, my_bool forReading, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pollStop != nullptr && pollStop->stop_requested()) {
      errno = ECANCELED;
      return -1;
    }
    int slice = kStopCheckMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        errno = ETIMEDOUT;
        return 0;
      }
      slice = static_cast<int>(std::min<long long>(slice, left));
    }
    pollfd watched{fd, static_cast<short>(forReading ? POLLIN : POLLOUT), 0};
    const int ready = poll(&watched, 1, slice);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return ready;
  }
}

// An idle connection has nothing to say: a readable socket means the server
// closed it (wait_timeout, a restart, KILL), and using it would cost a poll.
bool IdleAndOpen(MYSQL* connection) {
  pollfd watched{mysql_get_socket(connection), POLLIN, 0};
  return poll(&watched, 1, 0) == 0;
}

bool InTransaction(MYSQL* connection) {
  unsigned int status = 0;
  if (mariadb_get_infov(connection, MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) return true;
  return (status & SERVER_STATUS_IN_TRANS) != 0;
}

struct ResultFree {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};

// A BIT column arrives as raw big-endian bytes; as its number it reads like
// any other flag ("0" or "1").
std::string BitValue(const char* bytes, unsigned long length) {
  unsigned long long value = 0;
  for (unsigned long i = 0; i < length; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return std::to_string(value);
}

SqlResultSet ReadResult(MYSQL_RES* result) {
  SqlResultSet set;
  const unsigned int count = mysql_num_fields(result);
  const MYSQL_FIELD* fields = mysql_fetch_fields(result);
  for (unsigned int i = 0; i < count; ++i) set.columns.emplace_back(fields[i].name, fields[i].name_length);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    auto& values = set.rows.emplace_back(count);
    for (unsigned int i = 0; i < count; ++i) {
      if (row[i] == nullptr) continue;
      values[i] = fields[i].type == MYSQL_TYPE_BIT ? BitValue(row[i], lengths[i]) : std::string(row[i], lengths[i]);
    }
  }
  return set;
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

bool Failed(MYSQL* connection, std::string& error) {
  error = mysql_error(connection);
  if (error.empty()) error = "error " + std::to_string(mysql_errno(connection));
  return false;
}

}  // namespace

MysqlEndpoint ParseMysqlHost(std::string_view host) {
  MysqlEndpoint at;
  if (host.starts_with('/')) {
    at.socket = host;
    return at;
  }
  std::string_view name = host;
  std::string_view port;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close != std::string_view::npos && (close + 1 == host.size() || host[close + 1] == ':')) {
      name = host.substr(1, close - 1);
      if (close + 1 < host.size()) port = host.substr(close + 2);
    }
  } else if (const std::size_t colon = host.find(':');
             colon != std::string_view::npos && host.find(':', colon + 1) == std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
  }
  unsigned value = 0;
  if (!port.empty()) {
    const auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (problem != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) {
      at.host = host;  // not a port: the server's error will name the whole text
      return at;
    }
  }
  at.host = name;
  at.port = static_cast<uint16_t>(value);
  return at;
}

void MysqlSMSSource::Closer::operator()(st_mysql* connection) const { mysql_close(connection); }

MysqlSMSSource::MysqlSMSSource(const SourceServices& services) : SqlSMSSource(services) {}

MysqlSMSSource::MysqlSMSSource(const MysqlSMSSource& other) : SqlSMSSource(other) {}

MysqlSMSSource::~MysqlSMSSource() = default;

std::string MysqlSMSSource::Login() const { return host + '\n' + base + '\n' + user + '\n' + password; }

WorkItems MysqlSMSSource::Retrieve() {
  const std::stop_token& stop = services_.stop;
  if (stop.stop_requested()) return {};
  const PollStopScope stopScope(stop);
  if (connection_ && (connectedAs_ != Login() || !IdleAndOpen(connection_.get()))) connection_.reset();

  std::string error;
  std::vector<SqlResultSet> results;
  if (!(connection_ || Connect(error)) || !RunQuery(results, error)) {
    connection_.reset();
    RetrieveFailed(stop.stop_requested() ? "the driver is stopping" : error);
    return {};
  }
  LogReturned(RenderRows(results));
  return TakeRows(results);
}

bool MysqlSMSSource::Connect(std::string& error) {
  // Not thread-safe itself, so done once here rather than by the first
  // mysql_init of whichever thread comes first.
  static const bool libraryReady = mysql_library_init(0, nullptr, nullptr) == 0;
  if (!libraryReady) {
    error = "the MySQL client library cannot start";
    return false;
  }
  Connection connection(mysql_init(nullptr));
  if (!connection) {
    error = "out of memory";
    return false;
  }
  MYSQL* handle = connection.get();
  const int32_t configured = services_.config.GetInt("source.timeout");
  const unsigned timeout = configured > 0 ? static_cast<unsigned>(configured) : kDefaultTimeoutSeconds;
  const unsigned noLocalFiles = 0;  // a server must never read files of ours
  mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &timeout);
  mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
  mysql_options(handle, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
  mysql_options(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  mysql_optionsv(handle, MARIADB_OPT_IO_WAIT, reinterpret_cast<void*>(&WaitForSocket));

  const MysqlEndpoint at = ParseMysqlHost(host);
  if (at.port != 0) {
    // The library takes "localhost" as its socket whatever the port.
    const unsigned tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(handle, MYSQL_OPT_PROTOCOL, &tcp);
  }
  if (mysql_real_connect(handle, OrNull(at.host), OrNull(user), OrNull(password), OrNull(base), at.port,
                         OrNull(at.socket), CLIENT_MULTI_STATEMENTS) == nullptr) {
    return Failed(handle, error);
  }
  connection_ = std::move(connection);
  connectedAs_ = Login();
  return true;
}

bool MysqlSMSSource::RunQuery(std::vector<SqlResultSet>& results, std::string& error) {
  MYSQL* handle = connection_.get();
  // Belt and braces beside WaitForSocket, for library versions that block
  // in recv without asking it: a shut-down socket ends any wait at once. The
  // callback only touches the number; the socket stays open until this scope
  // has ended, which waits for a callback running on another thread.
  const int fd = static_cast<int>(mysql_get_socket(handle));
  const std::stop_callback cut(services_.stop, [fd] { shutdown(fd, SHUT_RDWR); });

  if (mysql_real_query(handle, query.data(), query.size()) != 0) return Failed(handle, error);
  for (;;) {
    const std::unique_ptr<MYSQL_RES, ResultFree> result(mysql_store_result(handle));
    if (result) {
      results.push_back(ReadResult(result.get()));
    } else if (mysql_field_count(handle) != 0) {
      return Failed(handle, error);
    }
    const int next = mysql_next_result(handle);
    if (next > 0) return Failed(handle, error);
    if (next < 0) break;
  }
  if (InTransaction(handle)) {
    // Not at exit: the items may never reach the outbox, so the marks go.
    if (services_.stop.stop_requested()) return false;
    if (mysql_commit(handle) != 0) return Failed(handle, error);
  }
  return true;
}

}  // namespace qm
