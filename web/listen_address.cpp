#include "web/listen_address.h"

#include <charconv>

#include "platform/utf.h"

namespace qm {
namespace {

bool IsLoopbackHost(std::string_view host) { return host == "localhost" || host == "::1" || host.starts_with("127."); }

}  // namespace

ListenAddress ParseListenAddress(std::string_view setting, unsigned instance) {
  ListenAddress address;
  setting = TrimBlanks(setting);
  if (setting.empty()) return address;
  address.enabled = true;
  const auto fail = [&](std::string why) {
    address.error = "http.listen \"" + std::string(setting) + "\": " + std::move(why);
    return address;
  };
  std::string_view host;
  std::string_view port;
  if (setting.front() == '[') {
    const std::size_t close = setting.find(']');
    if (close == std::string_view::npos || setting.substr(close + 1, 1) != ":") return fail("expected [address]:port");
    host = setting.substr(1, close - 1);
    port = setting.substr(close + 2);
  } else {
    const std::size_t colon = setting.rfind(':');
    if (colon == std::string_view::npos) return fail("expected host:port");
    host = setting.substr(0, colon);
    port = setting.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) return fail("an IPv6 address goes in brackets");
  }
  if (host.empty()) return fail("the host is missing");
  unsigned long number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || number == 0 || number > 65535) {
    return fail("the port must be a number from 1 to 65535");
  }
  number += instance;
  if (number > 65535) return fail("the port plus the instance number is above 65535");
  address.host = std::string(host);
  address.port = static_cast<int>(number);
  address.loopback = IsLoopbackHost(host);
  return address;
}

std::string HostAndPort(const ListenAddress& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace qm
