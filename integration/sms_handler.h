// A configured action run for a message event: a received message, a sending
// outcome, or a delivery report. The kinds: command line ("cmdline"), URL
// ("url"); automation subscribers add their own.
//
// Keys under the handler's prefix ("handler.<n>"): ".name", ".from_filter",
// ".to_filter", ".body_filter", ".event", ".log", ".inactive", and the kind's
// own.
//
// Threads: a handler's fields are set before it is shared; Handle may run on
// several threads at once.
#pragma once

#include <memory>
#include <stop_token>
#include <string>

#include "integration/handler_template.h"
#include "integration/http_client.h"
#include "sms/message.h"

namespace qm {

class ConfigStore;
class Logger;
class WorkerPool;

// The events, in the order the control panel shows them.
enum class HandlerEvent : int {
  kReceive = 0,
  kSend = 1,
  kDelivery = 2,
};

// What handlers need to act.
struct HandlerServices {
  Logger& log;
  const ConfigStore& config;  // "source.timeout" for commands that are waited for
  WorkerPool& requests;       // URL requests run here, never on the caller's thread
  HttpOptions http;           // time-outs and trusted certificates of URL requests
  std::stop_token stop;       // the driver is stopping: stop waiting for commands
};

class SMSHandler {
 public:
  explicit SMSHandler(const HandlerServices& services) : services_(services) {}
  virtual ~SMSHandler() = default;

  virtual std::unique_ptr<SMSHandler> Clone() const = 0;
  virtual std::string TypeName() const = 0;

  // Active, and each filter that is set occurs in its field (letter case
  // ignored). The event is the caller's to check.
  bool Matches(const SMSMessage& message) const;
  // 0 when the action was done (a command run, a request started), -1 when
  // not; a failure is logged as "Handler failed: ...".
  virtual int Handle(const SMSMessage& message, HandlerStatus status) = 0;

  virtual void LoadConfig(const ConfigStore& config, const std::string& prefix);
  virtual void SaveConfig(ConfigStore& config, const std::string& prefix) const;

  std::string name;
  std::string fromFilter;
  std::string toFilter;
  std::string bodyFilter;
  HandlerEvent event = HandlerEvent::kReceive;
  int log = 0;  // non-zero: the action is waited for and its result logged
  bool active = true;

 protected:
  SMSHandler(const SMSHandler&) = default;
  SMSHandler& operator=(const SMSHandler&) = delete;

  void Failed(const std::string& why) const;

  HandlerServices services_;
};

}  // namespace qm
