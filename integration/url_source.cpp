#include "integration/url_source.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/url_split.h"

namespace qm {

void UrlSMSSource::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSSource::LoadConfig(config, prefix);
  location = config.GetString(prefix + ".location");
}

void UrlSMSSource::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSSource::SaveConfig(config, prefix);
  config.SetString(prefix + ".location", location);
}

WorkItems UrlSMSSource::Retrieve() {
  const SplitUrlResult split = SplitUrl(location);
  HttpOptions options = services_.http;
  options.stop = services_.stop;
  const HttpResponse response = HttpGet(split.host, split.port, RequestObject(split),
                                        split.scheme == UrlScheme::kHttps, HttpReadMode::kWhole, options);
  // A body that broke off is half a document: the server sends it again.
  if (response.status != 200 || !response.error.empty()) {
    services_.log.Write(LogLevel::kError, "Failed to retrieve URL source: status " + std::to_string(response.status));
    if (!response.error.empty()) services_.log.Write(LogLevel::kWarning, split.url + ": " + response.error);
    return {};
  }
  LogReturned(response.body);
  return TakeDocument(location, response.body);
}

}  // namespace qm
