// The driver's HTTP server: the JSON API (web/openapi.json), the event
// stream, /metrics and the console's files, on threads of its own.
//
// "http.listen" chooses the address (the instance number is added to the
// port; empty: no server). Any address but loopback needs "http.tls_cert" and
// "http.tls_key", and then speaks HTTPS; without them the server does not
// start and the log says why (the driver runs on). Requests need the token
// (session_token.h) as a bearer token or the session cookie.
//
// Limits, so that no client can take the server: 8 workers, at most 4 of
// them on event streams (the next stream gets 503), 64 KiB request bodies
// (413), 5 s to send a request, 2 s idle on a kept-alive connection.
//
// Threads: construct, Start and Stop on the main thread; Observers and
// UssdReplied from the threads that have the news (they never block). Stop
// (also the destructor) ends the event streams and USSD waits, and returns
// once every worker has ended; it must come before the command thread and
// the tables go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "gateway/message_observers.h"
#include "web/web_context.h"

namespace qm {

class WebServer {
 public:
  // The observers of the message flows are `next` (may be null), which
  // Observers() passes every call on to.
  WebServer(WebContext context, MessageObservers* next);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // What the gateway reports to in place of `next`.
  MessageObservers& Observers();
  // A USSD reply for the event streams.
  void UssdReplied(const std::string& text, uint32_t code);

  // Listens, unless the settings say no or cannot be used (the log says
  // why). The console's address with the token ("http://127.0.0.1:8470/
  // ?token=..."), or "" when it does not listen.
  std::string Start(const std::string& token);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "Web console: <address>": the one line that shows the token.
std::string WebConsoleLine(const std::string& address);

}  // namespace qm
