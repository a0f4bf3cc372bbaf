#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace qm::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

constexpr long kDay = 24 * 60 * 60;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test HTTP server: ") + what);
}

// A self-signed certificate for `tls.hostName` with a fresh P-256 key.
std::pair<std::unique_ptr<EVP_PKEY, KeyDeleter>, std::unique_ptr<X509, CertificateDeleter>> MakeCertificate(
    const TestTls& tls) {
  std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation failed");
  std::unique_ptr<X509, CertificateDeleter> certificate(X509_new());
  Check(certificate != nullptr, "X509_new failed");
  X509* c = certificate.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
  X509_gmtime_adj(X509_getm_notBefore(c), tls.expired ? -2 * kDay : -kDay);
  X509_gmtime_adj(X509_getm_notAfter(c), tls.expired ? -kDay : kDay);
  X509_set_pubkey(c, key.get());
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(tls.hostName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(c, name);
  X509V3_CTX context;
  X509V3_set_ctx(&context, c, c, nullptr, nullptr, 0);
  const std::string altName = "DNS:" + tls.hostName;
  std::unique_ptr<X509_EXTENSION, ExtensionDeleter> extension(
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, altName.c_str()));
  Check(extension != nullptr && X509_add_ext(c, extension.get(), -1) == 1, "subjectAltName failed");
  Check(X509_sign(c, key.get(), EVP_sha256()) > 0, "signing failed");
  return {std::move(key), std::move(certificate)};
}

std::string ToPem(X509* certificate) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr && PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM output failed");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

// Splits the request head into its line and headers.
void ParseHead(RecordedRequest& request) {
  const std::size_t end = request.raw.find("\r\n\r\n");
  const std::string_view head = std::string_view(request.raw).substr(0, end);
  std::size_t pos = 0;
  bool first = true;
  while (pos <= head.size()) {
    std::size_t eol = head.find("\r\n", pos);
    if (eol == std::string_view::npos) eol = head.size();
    const std::string_view line = head.substr(pos, eol - pos);
    if (first) {
      request.requestLine = line;
      first = false;
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = eol + 2;
  }
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

// One connection, plain or TLS; I/O failures end the conversation quietly
// (clients in these tests hang up early on purpose).
class Channel {
 public:
  Channel(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  long Read(char* buffer, std::size_t size) {
    if (ssl_ != nullptr) return SSL_read(ssl_, buffer, static_cast<int>(size));
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, size, 0);
      if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
  }
  bool Write(std::string_view data) {
    while (!data.empty()) {
      long n;
      if (ssl_ != nullptr) {
        n = SSL_write(ssl_, data.data(), static_cast<int>(data.size()));
      } else {
        n = static_cast<long>(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL));
        if (n < 0 && errno == EINTR) continue;
      }
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

 private:
  int fd_;
  SSL* ssl_;
};

}  // namespace

HttpTestServer::HttpTestServer(Handler handler, std::optional<TestTls> tls) : handler_(std::move(handler)) {
  if (tls) {
    auto [key, certificate] = MakeCertificate(*tls);
    certificatePem_ = ToPem(certificate.get());
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    Check(tls_ != nullptr, "SSL_CTX_new failed");
    Check(SSL_CTX_use_certificate(tls_.get(), certificate.get()) == 1 &&
              SSL_CTX_use_PrivateKey(tls_.get(), key.get()) == 1,
          "certificate not usable");
  }
  listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  Check(static_cast<bool>(listener_), "socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  Check(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind failed");
  Check(::listen(listener_.get(), 64) == 0, "listen failed");
  socklen_t length = sizeof address;
  Check(::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname failed");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::jthread([this](std::stop_token stop) { Accept(stop); });
}

HttpTestServer::~HttpTestServer() {
  acceptor_.request_stop();
  stopEvent_.Signal();
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::jthread> servers;
  {
    std::lock_guard lock(mutex_);
    // Wakes connections blocked in a read, a handshake or a write.
    for (const int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
    servers.swap(servers_);
  }
  for (auto& server : servers) server.request_stop();
  servers.clear();  // joins
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpTestServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool HttpTestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return recorded_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

void HttpTestServer::Accept(std::stop_token stop) {
  while (!stop.stop_requested()) {
    pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {stopEvent_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    UniqueFd socket(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!socket) continue;
    std::lock_guard lock(mutex_);
    ++connections_;
    openSockets_.insert(socket.get());
    servers_.emplace_back(
        [this, s = std::move(socket)](std::stop_token serverStop) mutable { Serve(std::move(s), serverStop); });
  }
}

bool HttpTestServer::Pause(std::chrono::milliseconds duration, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  pauses_.wait_for(lock, stop, duration, [] { return false; });
  return !stop.stop_requested();
}

void HttpTestServer::Serve(UniqueFd socket, std::stop_token stop) {
  // A client that hung up turns a write into EPIPE here rather than a
  // SIGPIPE for the whole test program (OpenSSL writes without MSG_NOSIGNAL).
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  const int fd = socket.get();
  std::unique_ptr<SSL, SslDeleter> ssl;
  auto converse = [&] {
    if (tls_) {
      ssl.reset(SSL_new(tls_.get()));
      if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) return;
    }
    Channel channel(fd, ssl.get());
    RecordedRequest request;
    char buffer[4096];
    while (request.raw.find("\r\n\r\n") == std::string::npos && request.raw.size() < kMaxRequestBytes) {
      const long n = channel.Read(buffer, sizeof buffer);
      if (n <= 0) return;
      request.raw.append(buffer, static_cast<std::size_t>(n));
    }
    ParseHead(request);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    recorded_.notify_all();

    const TestReply reply = handler_(request);
    if (reply.silent) {
      Pause(std::chrono::hours(24), stop);
      return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
    if (reply.chunked) {
      head += "Transfer-Encoding: chunked\r\n";
    } else {
      std::size_t length = 0;
      for (const auto& part : reply.parts) length += part.size();
      head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    head += reply.headers + "Connection: close\r\n\r\n";
    auto frame = [&](const std::string& part) {
      if (!reply.chunked) return part;
      char size[24];
      std::snprintf(size, sizeof size, "%zx\r\n", part.size());
      return size + part + "\r\n";
    };
    // The head goes with the first part, so that the client gets them in one read.
    std::string out = head;
    for (std::size_t i = 0; i < reply.parts.size(); ++i) {
      if (i > 0) {
        if (!channel.Write(out) || !Pause(reply.pause, stop)) return;
        out.clear();
      }
      out += frame(reply.parts[i]);
    }
    if (reply.chunked) out += "0\r\n\r\n";
    if (!channel.Write(out)) return;
    if (ssl) SSL_shutdown(ssl.get());
  };
  converse();
  ssl.reset();
  std::lock_guard lock(mutex_);
  openSockets_.erase(fd);
  socket.Reset();
}

}  // namespace qm::test
