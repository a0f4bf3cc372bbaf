#include "web/web_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stop_token>
#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "web/event_hub.h"
#include "web/listen_address.h"
#include "web/message_json.h"
#include "web/web_api.h"
#include "web/web_event_observers.h"
#include "web/web_routes.h"

namespace qm {
namespace {

constexpr std::size_t kWorkers = 8;
constexpr std::size_t kMaxStreams = 4;  // the other workers stay for the API
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 2;
constexpr std::size_t kKeepAliveRequests = 100;

// The library listens with a backlog of 5; a burst of clients overflows it,
// and a connection the kernel completes only on a retry may bring its
// request after the worker's keep-alive wait, which then drops it. A second
// listen() on the same socket deepens the backlog.
struct ListeningSocket : httplib::Server {
  static bool Deepen(httplib::Server& server) {
    return ::listen((server.*(&ListeningSocket::svr_sock_)).load(), SOMAXCONN) == 0;
  }
};

// The address a browser on this machine uses for a server on every address.
std::string BrowserHost(const ListenAddress& address) {
  ListenAddress shown = address;
  if (shown.host == "0.0.0.0") shown.host = "127.0.0.1";
  if (shown.host == "::") shown.host = "::1";
  return HostAndPort(shown);
}

}  // namespace

struct WebServer::Impl {
  Impl(WebContext context, MessageObservers* next)
      : context(context), api(context), events(kMaxStreams), observers(events, next) {}

  WebContext context;
  WebApi api;
  EventHub events;
  WebEventObservers observers;
  std::stop_source stop;
  std::unique_ptr<RouteServices> services;
  std::unique_ptr<httplib::Server> server;
  std::jthread listener;
};

WebServer::WebServer(WebContext context, MessageObservers* next) : impl_(std::make_unique<Impl>(context, next)) {}

WebServer::~WebServer() { Stop(); }

MessageObservers& WebServer::Observers() { return impl_->observers; }

void WebServer::UssdReplied(const std::string& text, uint32_t code) {
  impl_->events.Publish(WebEvent{"ussd", JsonText(nlohmann::json{{"reply", text}, {"status", code}})});
}

std::string WebServer::Start(const std::string& token) {
  Impl& web = *impl_;
  Logger& log = web.context.log;
  const ConfigStore& config = web.context.config;
  const ListenAddress address = ParseListenAddress(config.GetString("http.listen"), web.context.instance);
  if (!address.enabled) {
    log.Write(LogLevel::kDetail, "The web server is off (http.listen is empty)");
    return {};
  }
  if (!address.error.empty()) {
    log.Write(LogLevel::kError, "The web server does not start: " + address.error);
    return {};
  }
  const std::string cert = config.GetString("http.tls_cert");
  const std::string key = config.GetString("http.tls_key");
  const bool tls = !cert.empty() && !key.empty();
  if (!tls && (!cert.empty() || !key.empty())) {
    log.Write(LogLevel::kError, "The web server does not start: http.tls_cert and http.tls_key go together");
    return {};
  }
  if (!address.loopback && !tls) {
    log.Write(LogLevel::kError, "The web server does not start: it would listen on " + HostAndPort(address) +
                                    ", which other machines reach, without http.tls_cert and http.tls_key "
                                    "(use 127.0.0.1, or give a certificate and its key)");
    return {};
  }
  if (token.empty()) {
    log.Write(LogLevel::kError, "The web server does not start: no token could be made (no random bytes)");
    return {};
  }
  if (tls) {
    web.server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    if (!web.server->is_valid()) {
      log.Write(LogLevel::kError, "The web server does not start: the certificate " + cert + " or the key " + key +
                                      " cannot be read or do not match");
      web.server.reset();
      return {};
    }
  } else {
    web.server = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *web.server;
  // The library takes ownership of the queue it is handed as a raw pointer.
  server.new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(kWorkers).release(); };
  server.set_payload_max_length(kMaxRequestBody);
  server.set_read_timeout(kReadTimeoutSeconds);
  server.set_write_timeout(kWriteTimeoutSeconds);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_keep_alive_max_count(kKeepAliveRequests);
  web.services =
      std::make_unique<RouteServices>(RouteServices{web.api, web.events, log, token, tls, web.stop.get_token()});
  InstallRoutes(server, *web.services);
  errno = 0;
  if (!server.bind_to_port(address.host, address.port)) {
    const int error = errno;
    log.Write(LogLevel::kError, "The web server cannot listen on " + HostAndPort(address) +
                                    (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
    web.server.reset();
    return {};
  }
  if (!ListeningSocket::Deepen(server)) log.Write(LogLevel::kWarning, "The web server keeps a short listen backlog");
  web.listener = std::jthread([&server] { server.listen_after_bind(); });
  // A stop before the listener runs would be missed by the library (it
  // stops only a running server), and the join would wait for ever.
  for (int waited = 0; !server.is_running() && waited < 2000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  log.Write(LogLevel::kDetail,
            std::string("The web server listens on ") + (tls ? "https://" : "http://") + HostAndPort(address));
  return std::string(tls ? "https://" : "http://") + BrowserHost(address) + "/?token=" + token;
}

void WebServer::Stop() {
  Impl& web = *impl_;
  // Waits and streams end first, so that the workers they hold are free for
  // the library's stop to join.
  web.stop.request_stop();
  web.events.Close();
  if (web.server) web.server->stop();
  if (web.listener.joinable()) web.listener.join();
  web.server.reset();
}

std::string WebConsoleLine(const std::string& address) { return "Web console: " + address; }

}  // namespace qm
