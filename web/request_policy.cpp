#include "web/request_policy.h"

#include "platform/utf.h"

namespace qm {

bool OriginAllowed(std::string_view origin, std::string_view host) {
  if (origin.empty()) return true;
  if (host.empty()) return false;
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (origin.size() == scheme.size() + host.size() && StartsWithIgnoreCase(origin, scheme) &&
        EqualsIgnoreCase(origin.substr(scheme.size()), host)) {
      return true;
    }
  }
  return false;
}

bool IsJsonContentType(std::string_view contentType) {
  const std::string_view type = TrimBlanks(contentType.substr(0, contentType.find(';')));
  return EqualsIgnoreCase(type, "application/json");
}

bool NeedsToken(std::string_view path) {
  if (path == "/metrics") return true;
  return path.starts_with("/api/") && path != "/api/v1/login" && path != "/api/v1/logout";
}

}  // namespace qm
