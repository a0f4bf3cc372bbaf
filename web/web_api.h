// The JSON API's actions, apart from HTTP: each takes the request's body or
// parameters and gives the status code and JSON answer. They act on the same
// objects as the automation server: messages go to the command thread as
// CMD_SOURCE_MESSAGE (which adds them to the outbox), connect and disconnect
// as commands, tables are read under their own locks.
//
// Threads: any web worker. Nothing here blocks the command thread; Send and
// Ussd wait on the caller's thread (Send until the outbox row is written,
// Ussd for the reply).
#pragma once

#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <string>
#include <string_view>

#include "web/message_json.h"
#include "web/web_context.h"

namespace qm {

struct ApiAnswer {
  int status = 200;
  std::string body;  // JSON
};

// {"error": text} with that status.
ApiAnswer ErrorAnswer(int status, std::string_view text);

class WebApi {
 public:
  explicit WebApi(WebContext context) : context_(context) {}

  nlohmann::json StatusJson() const;
  ApiAnswer Status() const;
  ApiAnswer Send(std::string_view body);
  ApiAnswer Message(std::string_view idText) const;
  ApiAnswer List(MessageTable table, const std::multimap<std::string, std::string>& params) const;
  // Waits for the reply up to the request's time-out, or until `stop`.
  ApiAnswer Ussd(std::string_view body, std::stop_token stop);
  ApiAnswer Connect();
  ApiAnswer Disconnect();
  ApiAnswer Count(std::string_view body) const;
  // The Prometheus text.
  std::string Metrics() const;

 private:
  WebContext context_;
};

}  // namespace qm
