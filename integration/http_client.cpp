#include "integration/http_client.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

namespace qm {
namespace {

// The most one read of kFirstChunk keeps.
constexpr std::size_t kFirstChunkLimit = 999'999;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// An easy handle added to a multi handle; it must leave before either goes.
class MultiMember {
 public:
  MultiMember(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {}
  ~MultiMember() { curl_multi_remove_handle(multi_, easy_); }
  MultiMember(const MultiMember&) = delete;
  MultiMember& operator=(const MultiMember&) = delete;

 private:
  CURLM* multi_;
  CURL* easy_;
};

struct Transfer {
  CURL* easy = nullptr;
  HttpReadMode mode = HttpReadMode::kWhole;
  std::size_t limit = 0;
  const HttpOptions* options = nullptr;
  std::string body;
  bool cut = false;     // ended on purpose: everything wanted has arrived
  std::string failure;  // why our own TLS set-up failed (curl only says "callback")
};

// True when every byte may stand in a request line: no control byte, space,
// DEL or byte outside ASCII, so CR LF can never split a request.
bool Printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F;
  });
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (n == 0) return 0;
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
  // Only a 200 body is returned: the rest of another one is not worth waiting for.
  if (status != 200) {
    transfer.cut = true;
    return CURL_WRITEFUNC_ERROR;
  }
  const size_t room = transfer.limit - transfer.body.size();
  transfer.body.append(data, std::min(n, room));
  if (transfer.mode == HttpReadMode::kFirstChunk || n > room) {
    transfer.cut = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->options->stop.stop_requested() ? 1 : 0;
}

CURLcode OnSslContext(CURL*, void* sslContext, void* user) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  auto& transfer = *static_cast<Transfer*>(user);
  // Modems and small boxes often start without a set clock, and web hooks
  // often run on certificates nobody renewed: dates are not held against a
  // certificate, while the chain of trust still is.
  X509_STORE_set_flags(SSL_CTX_get_cert_store(context), X509_V_FLAG_NO_CHECK_TIME);
  const std::string& caFile = transfer.options->caFile;
  if (!caFile.empty() && SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
    ERR_clear_error();
    transfer.failure = "cannot read trusted certificates from " + caFile;
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

// The transfer until it ends, fails or is stopped. A multi handle rather than
// curl_easy_perform, so that a stop wakes the wait at once instead of at the
// next progress tick.
CURLcode Perform(CURLM* multi, CURL* easy, const std::stop_token& stop) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  MultiMember member(multi, easy);
  std::stop_callback wake(stop, [multi] { curl_multi_wakeup(multi); });
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) return CURLE_FAILED_INIT;
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE) return message->data.result;
      }
      return CURLE_FAILED_INIT;
    }
    // The progress callback aborts a transfer that is moving; this ends one
    // that is still resolving or connecting too.
    if (stop.stop_requested()) return CURLE_ABORTED_BY_CALLBACK;
    if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
  }
}

}  // namespace

void InitHttpClient() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse HttpGet(const std::string& host, uint16_t port, const std::string& object, bool secure, HttpReadMode mode,
                     const HttpOptions& options) {
  HttpResponse response;
  // A host with a URL delimiter would name another server (or a user) than
  // the one meant.
  if (host.empty() || !Printable(host) || host.find_first_of(":/?#@[]\\") != std::string::npos) {
    response.error = "invalid host name: " + host;
    return response;
  }
  const std::string target = object.empty() ? "/" : object;
  // A "#" would be cut off by curl rather than sent.
  if (target.front() != '/' || !Printable(target) || target.find('#') != std::string::npos) {
    response.error = "invalid characters in the request";
    return response;
  }
  if (options.stop.stop_requested()) {
    response.error = "stopped";
    return response;
  }

  InitHttpClient();
  EasyHandle easy(curl_easy_init());
  MultiHandle multi(curl_multi_init());
  if (!easy || !multi) {
    response.error = "out of memory";
    return response;
  }
  Transfer transfer;
  transfer.easy = easy.get();
  transfer.mode = mode;
  transfer.limit = mode == HttpReadMode::kFirstChunk ? kFirstChunkLimit : options.maxBytes;
  transfer.options = &options;
  char errorText[CURL_ERROR_SIZE] = "";
  const std::string url = (secure ? "https://" : "http://") + host + ":" + std::to_string(port) + target;

  CURL* h = easy.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // The caller's escapes are final: no "/../" folding either.
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.connectTimeout.count()));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stallTimeout.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  // One receive can then hold a whole first chunk.
  if (mode == HttpReadMode::kFirstChunk) {
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(kFirstChunkLimit + 1));
  }
  if (secure) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    // The store is changed per request (the extra certificates): never share a cached one.
    curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &transfer);
    if (curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, OnSslContext) != CURLE_OK) {
      response.error = "this libcurl cannot adjust certificate checks (OpenSSL needed)";
      return response;
    }
  }

  const CURLcode result = Perform(multi.get(), h, options.stop);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  response.status = static_cast<int>(status);
  if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && transfer.cut)) {
    if (options.stop.stop_requested()) {
      response.error = "stopped";
    } else if (!transfer.failure.empty()) {
      response.error = transfer.failure;
    } else {
      response.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
    }
  }
  if (status == 200) response.body = std::move(transfer.body);
  if (status == 0 && response.error.empty()) response.error = "no response";
  return response;
}

}  // namespace qm
