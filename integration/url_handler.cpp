#include "integration/url_handler.h"

#include <ctime>

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/url_split.h"
#include "integration/worker_pool.h"

namespace qm {

void URLSMSHandler::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSHandler::LoadConfig(config, prefix);
  url = config.GetString(prefix + ".url");
}

void URLSMSHandler::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSHandler::SaveConfig(config, prefix);
  config.SetString(prefix + ".url", url);
}

int URLSMSHandler::Handle(const SMSMessage& message, HandlerStatus status) {
  // The job holds copies only: a handler list reloaded meanwhile frees
  // nothing it uses.
  std::string filled = FillUrlTemplate(url, ValuesOf(message, status, std::time(nullptr)));
  const bool logged = log != 0;
  Logger& logger = services_.log;
  HttpOptions options = services_.http;
  const bool queued = services_.requests.TrySubmit(
      [filled = std::move(filled), logged, &logger, options = std::move(options)](std::stop_token stop) mutable {
        options.stop = stop;
        RequestHandlerUrl(filled, logged, logger, std::move(options));
      });
  if (queued) return 0;
  Failed("too many requests waiting for the network");
  return -1;
}

void RequestHandlerUrl(const std::string& url, bool logged, Logger& log, HttpOptions options) {
  const SplitUrlResult split = SplitUrl(url);
  if (logged) log.Write(LogLevel::kDetail, split.url);
  const HttpResponse response = HttpGet(split.host, split.port, RequestObject(split),
                                        split.scheme == UrlScheme::kHttps, HttpReadMode::kFirstChunk, options);
  if (logged) {
    log.Write(LogLevel::kDetail, "Handler output: " + std::to_string(static_cast<unsigned>(response.status)));
  }
  if (response.status == 0 && !response.error.empty()) {
    log.Write(LogLevel::kWarning, "Handler request to " + split.host + " failed: " + response.error);
  }
}

}  // namespace qm
