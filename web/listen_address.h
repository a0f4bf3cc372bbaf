// Where the web server listens: "http.listen" ("host:port", "[v6]:port";
// empty: no server), with the instance number added to the port so that each
// instance of the driver has a port of its own.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace qm {

struct ListenAddress {
  bool enabled = false;   // false: "http.listen" is empty
  std::string host;       // without brackets
  int port = 0;           // the instance number added
  bool loopback = false;  // only this machine can connect
  std::string error;      // why the value cannot be used ("" when it can)
};

ListenAddress ParseListenAddress(std::string_view setting, unsigned instance);

// "127.0.0.1:8470", "[::1]:8470": the host and port as an address bar has them.
std::string HostAndPort(const ListenAddress& address);

}  // namespace qm
