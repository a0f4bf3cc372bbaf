#include "integration/url_split.h"

#include <array>
#include <utility>

namespace qm {
namespace {

// A port of 1 to 65535 written in decimal digits only; anything else leaves
// the scheme's default.
bool ParsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

SplitUrlResult SplitUrl(std::string_view url) {
  static constexpr std::array<std::pair<std::string_view, UrlScheme>, 3> kSchemes = {{
      {"http://", UrlScheme::kHttp},
      {"https://", UrlScheme::kHttps},
      // "file://" only: the third slash begins the path.
      {"file:///", UrlScheme::kFile},
  }};

  SplitUrlResult out;
  std::size_t start = 0;
  for (const auto& [prefix, scheme] : kSchemes) {
    if (url.starts_with(prefix)) {
      out.scheme = scheme;
      start = scheme == UrlScheme::kFile ? prefix.size() - 1 : prefix.size();
      break;
    }
  }
  if (start == 0) {
    out.url = "http://";
    start = out.url.size();
  }
  out.url.append(url);
  out.port = out.scheme == UrlScheme::kHttps ? 443 : 80;

  std::string_view rest = std::string_view(out.url).substr(start);
  // The fragment and the query are cut off first: a "/" or ":" inside them
  // belongs to them, not to the host or the path.
  if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
    out.fragment = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
  }
  if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
    out.query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
  }
  std::string_view authority = rest;
  if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    out.path = rest.substr(slash);
    authority = rest.substr(0, slash);
  }
  const std::size_t colon = authority.find(':');
  out.host = authority.substr(0, colon);
  if (colon != std::string_view::npos) ParsePort(authority.substr(colon + 1), out.port);
  return out;
}

std::string RequestObject(const SplitUrlResult& url) {
  // A request line needs an absolute path even when the URL had only a query.
  std::string object = url.path.empty() ? "/" : url.path;
  if (!url.query.empty()) object += "?" + url.query;
  return object;
}

}  // namespace qm
