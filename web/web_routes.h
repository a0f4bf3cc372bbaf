// The server's routes and the checks every request passes first: the Origin
// (403), the content type of a POST (415) and the token (401), then the
// API, the event stream, /metrics and the console's files. Every answer
// carries the security headers; every error is {"error": "..."}.
//
// Threads: the handlers run on the server's workers.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <stop_token>
#include <string>

#include "web/event_hub.h"
#include "web/web_api.h"

namespace qm {

class Logger;

inline constexpr std::size_t kMaxRequestBody = 64 * 1024;

struct RouteServices {
  WebApi& api;
  EventHub& events;
  Logger& log;
  std::string token;
  bool secure = false;   // HTTPS: the cookie gets "Secure"
  std::stop_token stop;  // the server is stopping
};

void InstallRoutes(httplib::Server& server, RouteServices& services);

}  // namespace qm
