// Splitting a handler's URL into the parts a request needs.
//
// Only "http://", "https://" and "file:///" at the very start (exact letter
// case) name a scheme; anything else is taken as a host name without one and
// gets "http://" in front. No escape is decoded or added: the parts keep the
// bytes of the URL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

enum class UrlScheme : int { kHttp = 1, kHttps = 2, kFile = 3 };

struct SplitUrlResult {
  std::string url;  // the whole URL, "http://" put in front when it had no known scheme
  UrlScheme scheme = UrlScheme::kHttp;
  std::string host;      // after the scheme up to ":", "/", "?" or "#"
  uint16_t port = 80;    // number after ":"; absent or unusable: 443 for https, else 80
  std::string path;      // from the first "/" after the host up to "?" or "#"
  std::string query;     // after "?" up to "#"
  std::string fragment;  // after "#" (never sent)
};

SplitUrlResult SplitUrl(std::string_view url);

// What goes into the request line: the path ("/" when empty), then "?" and
// the query when the query is not empty.
std::string RequestObject(const SplitUrlResult& url);

}  // namespace qm
