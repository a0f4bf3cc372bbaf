// What every request must satisfy before it reaches the API, and the headers
// every answer carries: the browser's defences against other sites (a page
// elsewhere cannot post to the driver or frame the console) and against the
// console itself loading anything but its own files.
//
// Pure functions; any thread.
#pragma once

#include <string_view>

namespace qm {

inline constexpr std::string_view kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

// No Origin header (not a browser, or a same-origin GET) passes; otherwise it
// must be http://<host> or https://<host> with the Host header as sent.
bool OriginAllowed(std::string_view origin, std::string_view host);

// "application/json", with parameters ("; charset=utf-8") or not.
bool IsJsonContentType(std::string_view contentType);

// The paths that need the token: the API (but the login) and the metrics.
bool NeedsToken(std::string_view path);

}  // namespace qm
