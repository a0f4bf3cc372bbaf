#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "integration/http_client.h"
#include "integration/url_split.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;
using test::RecordedRequest;
using test::TestReply;
using test::TestTls;

// curl's global set-up, before any test starts a thread.
const bool kHttpReady = (InitHttpClient(), true);

HttpOptions Quick() {
  HttpOptions options;
  options.connectTimeout = 10s;
  options.stallTimeout = 10s;
  return options;
}

HttpResponse Get(const HttpTestServer& server, const std::string& object, HttpReadMode mode = HttpReadMode::kWhole,
                 const HttpOptions& options = Quick()) {
  return HttpGet("127.0.0.1", server.Port(), object, false, mode, options);
}

TestReply Reply(int status, std::vector<std::string> parts, bool chunked = false) {
  TestReply reply;
  reply.status = status;
  reply.parts = std::move(parts);
  reply.chunked = chunked;
  return reply;
}

std::chrono::seconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
}

TEST(SplitUrl, FindsTheSchemeHostPortAndObject) {
  ASSERT_TRUE(kHttpReady);
  SplitUrlResult bare = SplitUrl("example.org/hook/in?from=%2b49&text=a:b/c#top");
  EXPECT_EQ(bare.url, "http://example.org/hook/in?from=%2b49&text=a:b/c#top");
  EXPECT_EQ(bare.scheme, UrlScheme::kHttp);
  EXPECT_EQ(bare.host, "example.org");
  EXPECT_EQ(bare.port, 80);
  EXPECT_EQ(bare.path, "/hook/in");
  EXPECT_EQ(bare.query, "from=%2b49&text=a:b/c");
  EXPECT_EQ(bare.fragment, "top");
  EXPECT_EQ(RequestObject(bare), "/hook/in?from=%2b49&text=a:b/c");

  const SplitUrlResult secure = SplitUrl("https://host:8443/x");
  EXPECT_EQ(secure.scheme, UrlScheme::kHttps);
  EXPECT_EQ(secure.host, "host");
  EXPECT_EQ(secure.port, 8443);
  EXPECT_EQ(RequestObject(secure), "/x");
  EXPECT_EQ(SplitUrl("https://host?q=1").port, 443);
  EXPECT_EQ(RequestObject(SplitUrl("https://host?q=1")), "/?q=1");
  EXPECT_EQ(RequestObject(SplitUrl("http://host")), "/");
  // Only the exact lower-case prefixes are schemes.
  const SplitUrlResult upper = SplitUrl("HTTPS://host/x");
  EXPECT_EQ(upper.scheme, UrlScheme::kHttp);
  EXPECT_EQ(upper.url, "http://HTTPS://host/x");

  const SplitUrlResult file = SplitUrl("file:///var/spool/in.xml");
  EXPECT_EQ(file.scheme, UrlScheme::kFile);
  EXPECT_EQ(file.host, "");
  EXPECT_EQ(file.path, "/var/spool/in.xml");
  EXPECT_EQ(file.url, "file:///var/spool/in.xml");

  // Odd input: never a crash, the default port for anything unusable.
  for (const char* odd : {"", ":", "http://", "https://", "h:99999999999999999999/x", "h:65536", "h:80x/", "h:-1",
                          "h:/x", "?#", "https://:443"}) {
    SCOPED_TRACE(odd);
    const SplitUrlResult split = SplitUrl(odd);
    EXPECT_EQ(split.port, split.scheme == UrlScheme::kHttps ? 443 : 80);
    EXPECT_EQ(RequestObject(split).front(), '/');
  }
  EXPECT_EQ(SplitUrl("h:65535").port, 65535);
}

TEST(HttpGet, SendsTheObjectExactlyAndReturnsOnlyA200Body) {
  HttpTestServer server([](const RecordedRequest& request) {
    if (request.requestLine.starts_with("GET /missing")) return Reply(404, {"not here"});
    TestReply moved = Reply(301, {"elsewhere"});
    moved.headers = "Location: /hook\r\n";
    return request.requestLine.starts_with("GET /moved") ? moved : Reply(200, {"accepted"});
  });
  const std::string object = "/hook?text=Hello+world,+100%25&from=%2b4917";
  const HttpResponse ok = Get(server, object);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "accepted");
  EXPECT_EQ(ok.error, "");
  // Dot segments and escapes stay as the caller wrote them.
  EXPECT_EQ(Get(server, "/a/./../b%2F%7e?x=%20").status, 200);

  const HttpResponse missing = Get(server, "/missing");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "");
  const HttpResponse moved = Get(server, "/moved", HttpReadMode::kFirstChunk);
  EXPECT_EQ(moved.status, 301);
  EXPECT_EQ(moved.body, "");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);  // the redirect was not followed
  EXPECT_EQ(requests[0].requestLine, "GET " + object + " HTTP/1.1");
  EXPECT_EQ(requests[1].requestLine, "GET /a/./../b%2F%7e?x=%20 HTTP/1.1");
  // Only what curl always sends: no cookies, cache or agent headers.
  EXPECT_EQ(requests[0].raw, "GET " + object + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                                 "\r\nAccept: */*\r\n\r\n");
}

TEST(HttpGet, KeepsTheFirstChunkOrTheWholeBodyUpToTheLimit) {
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "chunked" : "Content-Length");
    HttpTestServer server([chunked](const RecordedRequest& request) {
      if (request.requestLine.starts_with("GET /big")) {
        return Reply(200, {std::string(100'000, 'x'), std::string(100'000, 'y')}, chunked);
      }
      TestReply two = Reply(200, {"first,", "second"}, chunked);
      two.pause = 500ms;
      return two;
    });
    const HttpResponse first = Get(server, "/two", HttpReadMode::kFirstChunk);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body, "first,");
    EXPECT_EQ(first.error, "");
    const HttpResponse whole = Get(server, "/two", HttpReadMode::kWhole);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "first,second");

    HttpOptions small = Quick();
    small.maxBytes = 150'000;
    const HttpResponse cut = Get(server, "/big", HttpReadMode::kWhole, small);
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.error, "");
    EXPECT_EQ(cut.body, std::string(100'000, 'x') + std::string(50'000, 'y'));
    EXPECT_EQ(Get(server, "/big").body.size(), 200'000u);
  }
}

TEST(HttpGet, GivesUpOnASilentServerOrAConcurrentStop) {
  HttpTestServer server([](const RecordedRequest&) {
    TestReply silent;
    silent.silent = true;
    return silent;
  });
  HttpOptions stall = Quick();
  stall.stallTimeout = 1s;
  // Without a working stall limit the request would hang: the watchdog ends
  // it, and the error then tells.
  std::stop_source watchdog;
  stall.stop = watchdog.get_token();
  std::jthread guard([&watchdog](std::stop_token done) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait_for(lock, done, 60s, [] { return false; });
    if (!done.stop_requested()) watchdog.request_stop();
  });
  auto start = std::chrono::steady_clock::now();
  const HttpResponse silent = Get(server, "/wait", HttpReadMode::kWhole, stall);
  EXPECT_EQ(silent.status, 0);
  EXPECT_NE(silent.error, "");
  EXPECT_NE(silent.error, "stopped");
  guard = {};

  std::stop_source stopper;
  HttpOptions stoppable;  // default time-outs: only the stop can end this one early
  stoppable.stop = stopper.get_token();
  std::jthread stopLater([&] {
    if (server.WaitForRequests(2)) stopper.request_stop();
  });
  start = std::chrono::steady_clock::now();
  const HttpResponse stopped = Get(server, "/wait", HttpReadMode::kWhole, stoppable);
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(stopped.error, "stopped");
  EXPECT_LT(Since(start), 30s);
  // Already stopped: no request at all.
  EXPECT_EQ(Get(server, "/wait", HttpReadMode::kWhole, stoppable).error, "stopped");
  EXPECT_EQ(server.Connections(), 2u);
}

TEST(HttpGet, RefusesBytesThatCouldSplitARequestWithoutConnecting) {
  HttpTestServer server([](const RecordedRequest&) { return Reply(200, {"ok"}); });
  for (const std::string& object :
       {std::string("/a b"), std::string("/a\r\nX-Injected: 1"), std::string("/a\x7f"), std::string("/caf\xc3\xa9"),
        std::string("/a\tb"), std::string("/a#b"), std::string("relative"), std::string("/a\0b", 4)}) {
    SCOPED_TRACE(object);
    const HttpResponse refused = Get(server, object);
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.error, "");
  }
  for (const char* host : {"127.0.0.1 ", "127.0.0.1\r\n", "user@127.0.0.1", "127.0.0.1/x", ""}) {
    SCOPED_TRACE(host);
    EXPECT_EQ(HttpGet(host, server.Port(), "/", false, HttpReadMode::kWhole, Quick()).status, 0);
  }
  // Had any of them connected, its connection would have come first.
  EXPECT_EQ(Get(server, "").body, "ok");
  ASSERT_TRUE(server.WaitForRequests(1));
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_EQ(server.Requests().at(0).requestLine, "GET / HTTP/1.1");
}

TEST(HttpGet, HttpsTrustsTheGivenCertificateDespiteItsNameAndDate) {
  HttpTestServer server([](const RecordedRequest&) { return Reply(200, {"secret"}); },
                        TestTls{.hostName = "wrong.example", .expired = true});
  HttpTestServer stranger([](const RecordedRequest&) { return TestReply{}; }, TestTls{});
  test::TempDir dir;
  test::WriteFile(dir.File("trusted.pem"), server.CertificatePem());
  test::WriteFile(dir.File("other.pem"), stranger.CertificatePem());

  HttpOptions trusting = Quick();
  trusting.caFile = dir.File("trusted.pem");
  const HttpResponse ok = HttpGet("127.0.0.1", server.Port(), "/in?x=1", true, HttpReadMode::kWhole, trusting);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "secret");
  EXPECT_EQ(ok.error, "");

  // Not trusted: the system's list alone, another certificate, or no file.
  for (const std::string& caFile : {std::string(), dir.File("other.pem"), dir.File("absent.pem")}) {
    SCOPED_TRACE(caFile);
    HttpOptions options = Quick();
    options.caFile = caFile;
    const HttpResponse refused = HttpGet("127.0.0.1", server.Port(), "/in", true, HttpReadMode::kWhole, options);
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.error, "");
    EXPECT_EQ(refused.body, "");
  }
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace qm
