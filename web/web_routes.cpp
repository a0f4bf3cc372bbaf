#include "web/web_routes.h"

#include <chrono>
#include <exception>

#include "base/logger.h"
#include "web/console_assets.h"
#include "web/openapi_document.h"
#include "web/request_policy.h"
#include "web/session_token.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using httplib::Request;
using httplib::Response;
using HandlerResponse = httplib::Server::HandlerResponse;

constexpr auto kKeepAliveComment = 15s;
constexpr auto kEventPoll = 1s;  // how often a stream looks at the status and the stop

void Answer(Response& res, const ApiAnswer& answer) {
  res.status = answer.status;
  res.set_content(answer.body, "application/json");
}

void Fail(Response& res, int status, std::string_view text) { Answer(res, ErrorAnswer(status, text)); }

std::string SessionCookie(const RouteServices& services, std::string_view value, bool clear) {
  std::string cookie = std::string(kSessionCookie) + "=" + std::string(value) + "; HttpOnly; SameSite=Strict; Path=/";
  if (services.secure) cookie += "; Secure";
  if (clear) cookie += "; Max-Age=0";
  return cookie;
}

bool HasToken(const RouteServices& services, const Request& req) {
  const std::string authorization = req.get_header_value("Authorization");
  if (!authorization.empty()) return SameToken(services.token, BearerToken(authorization));
  return SameToken(services.token, CookieValue(req.get_header_value("Cookie"), kSessionCookie));
}

// The checks before any route; an answer here ends the request, before its
// body is read.
HandlerResponse Guard(const RouteServices& services, const Request& req, Response& res) {
  if (!OriginAllowed(req.get_header_value("Origin"), req.get_header_value("Host"))) {
    Fail(res, 403, "cross-site request refused (the Origin does not match the Host)");
    return HandlerResponse::Handled;
  }
  if (req.method == "POST" && !IsJsonContentType(req.get_header_value("Content-Type"))) {
    Fail(res, 415, "POST requests must be Content-Type: application/json");
    return HandlerResponse::Handled;
  }
  if (NeedsToken(req.path) && !HasToken(services, req)) {
    Fail(res, 401, "a valid token is needed (Authorization: Bearer <token>, or log in)");
    return HandlerResponse::Handled;
  }
  return HandlerResponse::Unhandled;
}

std::string_view StatusText(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 413:
      return "the request body is larger than 64 KiB";
    case 414:
      return "the request address is too long";
    default:
      return "request failed";
  }
}

// The event stream: a status event at once and on every change, the hub's
// events as they come, a comment line now and then so that a dead client is
// noticed.
void StreamEvents(RouteServices& services, Response& res) {
  std::shared_ptr<EventHub::Subscription> subscription = services.events.Subscribe();
  if (!subscription) return Fail(res, 503, "too many event streams are open");
  res.set_header("X-Accel-Buffering", "no");
  res.set_chunked_content_provider("text/event-stream", [&services, subscription, lastStatus = std::string(),
                                                         lastWrite = std::chrono::steady_clock::now(), started = false](
                                                            std::size_t, httplib::DataSink& sink) mutable {
    if (services.stop.stop_requested()) return false;
    std::string out;
    if (!started) {
      out = "retry: 3000\n\n";
      started = true;
    }
    std::vector<WebEvent> events;
    if (out.empty() && !subscription->Wait(kEventPoll, events)) {
      sink.done();  // the hub closed it: the driver stops, or the client fell behind
      return true;
    }
    std::string status = JsonText(services.api.StatusJson());
    if (status != lastStatus) out += FormatServerSentEvent(WebEvent{"status", status});
    lastStatus = std::move(status);
    for (const WebEvent& event : events) out += FormatServerSentEvent(event);
    const auto now = std::chrono::steady_clock::now();
    if (out.empty() && now - lastWrite >= kKeepAliveComment) out = ": keep-alive\n\n";
    if (out.empty()) return true;
    lastWrite = now;
    return sink.write(out.data(), out.size());
  });
}

void ServeConsole(const RouteServices& services, const Request& req, Response& res) {
  if (req.path.starts_with("/api/")) return Fail(res, 404, "no such API path");
  // The address the start-up line gives: the token becomes the session
  // cookie and leaves the address bar.
  if (req.path == "/" && req.has_param("token") && SameToken(services.token, req.get_param_value("token"))) {
    res.set_header("Set-Cookie", SessionCookie(services, services.token, false));
    res.set_header("Location", "/");
    res.status = 303;
    return;
  }
  const ConsoleAsset* asset = FindConsoleAsset(req.path);
  if (asset == nullptr) return Fail(res, 404, "not found");
  res.set_content(std::string(asset->body), std::string(asset->contentType));
}

}  // namespace

void InstallRoutes(httplib::Server& server, RouteServices& services) {
  WebApi& api = services.api;
  server.set_default_headers({{"Content-Security-Policy", std::string(kContentSecurityPolicy)},
                              {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});
  server.set_pre_routing_handler([&services](const Request& req, Response& res) { return Guard(services, req, res); });
  server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request&, Response& res) {
    if (!res.body.empty()) return HandlerResponse::Unhandled;
    Fail(res, res.status, StatusText(res.status));
    return HandlerResponse::Handled;
  }));
  server.set_exception_handler([&services](const Request& req, Response& res, std::exception_ptr error) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    services.log.Write(LogLevel::kError, "Web request " + req.method + " " + req.path + " failed: " + what);
    Fail(res, 500, "internal error");
  });

  server.Get("/api/v1/status", [&api](const Request&, Response& res) { Answer(res, api.Status()); });
  server.Post("/api/v1/messages", [&api](const Request& req, Response& res) { Answer(res, api.Send(req.body)); });
  server.Get(R"(/api/v1/messages/([^/]*))",
             [&api](const Request& req, Response& res) { Answer(res, api.Message(req.matches[1].str())); });
  for (const MessageTable table :
       {MessageTable::kInbox, MessageTable::kOutbox, MessageTable::kSent, MessageTable::kFailed}) {
    server.Get(std::string("/api/v1/") + TableStateName(table),
               [&api, table](const Request& req, Response& res) { Answer(res, api.List(table, req.params)); });
  }
  server.Post("/api/v1/ussd", [&services](const Request& req, Response& res) {
    Answer(res, services.api.Ussd(req.body, services.stop));
  });
  server.Post("/api/v1/connect", [&api](const Request&, Response& res) { Answer(res, api.Connect()); });
  server.Post("/api/v1/disconnect", [&api](const Request&, Response& res) { Answer(res, api.Disconnect()); });
  server.Post("/api/v1/count", [&api](const Request& req, Response& res) { Answer(res, api.Count(req.body)); });
  server.Post("/api/v1/login", [&services](const Request& req, Response& res) {
    const Parsed<std::string> token = ParseLoginInput(req.body);
    if (!token.ok()) return Fail(res, 400, token.error);
    if (!SameToken(services.token, token.value)) return Fail(res, 401, "wrong token");
    res.set_header("Set-Cookie", SessionCookie(services, services.token, false));
    res.set_content("{}", "application/json");
  });
  server.Post("/api/v1/logout", [&services](const Request&, Response& res) {
    res.set_header("Set-Cookie", SessionCookie(services, "", true));
    res.set_content("{}", "application/json");
  });
  server.Get("/api/v1/events", [&services](const Request&, Response& res) { StreamEvents(services, res); });
  server.Get("/api/v1/openapi.json", [](const Request&, Response& res) {
    res.set_content(std::string(OpenApiDocument()), "application/json");
  });
  server.Get("/metrics", [&api](const Request&, Response& res) {
    res.set_content(api.Metrics(), "text/plain; version=0.0.4; charset=utf-8");
  });
  server.Get(".*", [&services](const Request& req, Response& res) { ServeConsole(services, req, res); });
  const auto notAllowed = [](const Request&, Response& res) { Fail(res, 405, "method not allowed"); };
  server.Post(".*", notAllowed).Put(".*", notAllowed).Patch(".*", notAllowed).Delete(".*", notAllowed);
}

}  // namespace qm
