// Plain HTTP(S) GET requests of handlers and URL sources, on libcurl.
//
// Each request uses a connection of its own (nothing is cached or reused),
// sends no headers beyond the ones curl always sends (Host, Accept), keeps
// no cookies and follows no redirects. Every call may run on any thread at
// once, once InitHttpClient has run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>

namespace qm {

enum class HttpReadMode { kFirstChunk, kWhole };  // one read of what is available / everything

struct HttpOptions {
  std::chrono::seconds connectTimeout{60};  // the TLS handshake included
  std::chrono::seconds stallTimeout{60};    // no byte for this long ends the transfer
  std::string caFile;                       // extra trusted certificates (PEM); empty: the system's
  std::size_t maxBytes = 16 << 20;          // the body is cut here (kWhole)
  std::stop_token stop;                     // a requested stop aborts the transfer promptly
};

struct HttpResponse {
  int status = 0;     // 0: no status arrived
  std::string body;   // only with status 200
  std::string error;  // why the transfer failed (also when it broke off after the status)
};

// Must be called once before any thread starts (curl_global_init); idempotent.
void InitHttpClient();

// A GET of http(s)://host:port + object. The object must already be
// percent-encoded: it is sent as it is, and refused (status 0, no request)
// when it or the host holds a control byte, a space, DEL or a byte >= 0x80,
// so that nothing can split or smuggle a request. https: the certificate's
// name and dates are not checked, everything else is (an untrusted
// certificate fails unless options.caFile trusts it).
// kFirstChunk keeps the first piece of the body that arrives (at most
// 999,999 bytes); kWhole keeps everything up to options.maxBytes.
HttpResponse HttpGet(const std::string& host, uint16_t port, const std::string& object, bool secure, HttpReadMode mode,
                     const HttpOptions& options);

}  // namespace qm
