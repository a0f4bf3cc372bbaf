// A small HTTP/1.1 server on 127.0.0.1 (an ephemeral port) for tests of the
// HTTP client: every request is recorded byte for byte and answered by the
// test's handler, over plain TCP or TLS with a self-signed certificate made
// at start.
//
// One thread accepts; each connection is served on a thread of its own and
// closed after one answer. The destructor cuts open connections (also the
// ones told to stay silent) and joins every thread.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/event_fd.h"
#include "platform/unique_fd.h"

namespace qm::test {

struct RecordedRequest {
  std::string requestLine;                                   // "GET /x HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
  std::string raw;                                           // every byte received
};

struct TestReply {
  int status = 200;
  std::vector<std::string> parts;      // the body, written piece by piece
  std::chrono::milliseconds pause{0};  // before each part after the first
  bool chunked = false;                // each part an HTTP chunk, instead of a Content-Length
  bool silent = false;                 // read the request, never answer
  std::string headers;                 // more header lines, each ended by CR LF
};

struct TestTls {
  std::string hostName = "localhost";  // the certificate's common and alternative name
  bool expired = false;                // valid until yesterday
};

class HttpTestServer {
 public:
  using Handler = std::function<TestReply(const RecordedRequest&)>;

  // Throws std::runtime_error when the server cannot be set up.
  explicit HttpTestServer(Handler handler, std::optional<TestTls> tls = std::nullopt);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  uint16_t Port() const { return port_; }
  // The certificate in PEM (empty without TLS), for a client to trust.
  const std::string& CertificatePem() const { return certificatePem_; }
  std::vector<RecordedRequest> Requests() const;
  // Connections accepted, including ones that never sent a whole request.
  std::size_t Connections() const;
  // Waits (at most `limit`) until `count` requests have been recorded.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  struct SslContextDeleter {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };

  void Accept(std::stop_token stop);
  void Serve(UniqueFd socket, std::stop_token stop);
  // Sleeps `duration` unless the server stops first; false when it stopped.
  bool Pause(std::chrono::milliseconds duration, std::stop_token stop);

  Handler handler_;
  std::unique_ptr<SSL_CTX, SslContextDeleter> tls_;
  std::string certificatePem_;
  UniqueFd listener_;
  uint16_t port_ = 0;
  EventFd stopEvent_;

  mutable std::mutex mutex_;
  mutable std::condition_variable recorded_;
  std::condition_variable_any pauses_;
  std::vector<RecordedRequest> requests_;
  std::size_t connections_ = 0;
  std::set<int> openSockets_;  // closed only after leaving the set
  std::list<std::jthread> servers_;
  std::jthread acceptor_;
};

}  // namespace qm::test
