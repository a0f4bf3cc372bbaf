// A configured place the driver polls for work: messages to send, USSD
// requests, and requests to report earlier messages to the handlers again.
// The kinds differ only in where the message document comes from: a file
// ("file"), the output of a command ("cmdline"), a MySQL query ("mysql") or
// a URL ("url").
//
// Keys under the source's prefix ("sources.<n>"): ".name", ".period",
// ".log", ".inactive", and the kind's own.
//
// Threads: Retrieve runs on the source thread only, under the source list's
// lock; the fields are set before the source is shared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "integration/http_client.h"
#include "integration/message_document.h"
#include "sms/message.h"

namespace qm {

class ConfigStore;
class Logger;

enum class SourceKind : int {
  kFile = 2,
  kCommand = 3,
  kMysql = 4,
  kUrl = 5,
};

using WorkItems = std::vector<std::unique_ptr<SMSMessage>>;

// What sources need to act.
struct SourceServices {
  Logger& log;
  const ConfigStore& config;  // "source.timeout" for commands and queries
  HttpOptions http;           // time-outs and trusted certificates of URL sources
  std::stop_token stop;       // the driver is stopping: end a fetch in progress
  // Runs a document's "handle" and "handle_received" requests (the handlers
  // run on the calling thread); may be empty.
  std::function<void(const std::vector<ReplayRequest>&)> replay;
};

class SMSSource {
 public:
  explicit SMSSource(const SourceServices& services) : services_(services) {}
  virtual ~SMSSource() = default;

  virtual std::unique_ptr<SMSSource> Clone() const = 0;
  virtual SourceKind Kind() const = 0;
  virtual std::string TypeName() const = 0;
  // What the control panel shows: the file or URL, the command, the query.
  virtual std::string Location() const = 0;

  // One poll: the work items found (none after a failure, which is logged).
  virtual WorkItems Retrieve() = 0;

  virtual void LoadConfig(const ConfigStore& config, const std::string& prefix);
  virtual void SaveConfig(ConfigStore& config, const std::string& prefix) const;

  int32_t period = 60;  // seconds between polls; 0: never polled
  std::string name;
  int log = 0;  // non-zero: log what the source returned
  bool active = true;

 protected:
  SMSSource(const SMSSource&) = default;
  SMSSource& operator=(const SMSSource&) = delete;

  // Logs "SMS source returned: %s" when the source logs.
  void LogReturned(std::string_view bytes) const;
  // Parses a document, logs why it gave nothing, runs its replays, and
  // returns its work items.
  WorkItems TakeDocument(std::string_view documentName, std::string_view bytes) const;
  // Logs "Failed to retrieve source: %s".
  void RetrieveFailed(std::string_view why) const;

  SourceServices services_;
};

}  // namespace qm
