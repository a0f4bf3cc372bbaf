// A handler that reports a message event to a web server: the ".url"
// template filled with the message's values (see FillUrlTemplate) is
// requested with GET on the request pool, never on the caller's thread; the
// response is not used. With ".log" set the URL and the response status are
// logged.
#pragma once

#include "integration/sms_handler.h"

namespace qm {

class URLSMSHandler final : public SMSHandler {
 public:
  using SMSHandler::SMSHandler;

  std::unique_ptr<SMSHandler> Clone() const override { return std::make_unique<URLSMSHandler>(*this); }
  std::string TypeName() const override { return "url"; }
  // 0 when the request was queued; -1 when the pool is full.
  int Handle(const SMSMessage& message, HandlerStatus status) override;
  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string url;

  URLSMSHandler(const URLSMSHandler&) = default;
};

// Requests `url` as the URL handler does: split, GET, the status logged when
// `logged`. Runs on a pool thread.
void RequestHandlerUrl(const std::string& url, bool logged, Logger& log, HttpOptions options);

}  // namespace qm
