// The JSON API and the event stream of a real driver on its built-in
// emulator, which answers a message "SEND <number> <text>" by sending <text>
// back from <number>.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/support/test_env.h"
#include "tests/web/web_driver.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::WebDriver;

// The event stream, read on a thread of its own for the test's life.
class EventReader {
 public:
  explicit EventReader(const WebDriver& driver)
      : client_(driver.Client()), thread_([this](std::stop_token stop) {
          client_->Get("/api/v1/events", [this, stop](const char* data, std::size_t length) {
            std::lock_guard lock(mutex_);
            text_.append(data, length);
            return !stop.stop_requested();
          });
        }) {}
  ~EventReader() {
    thread_.request_stop();
    client_->stop();
  }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  // The data of every event named `name` so far.
  std::vector<json> Events(const std::string& name) const {
    std::vector<json> found;
    const std::string text = Text();
    const std::string lead = "event: " + name + "\ndata: ";
    for (std::size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1)) {
      const std::size_t start = at + lead.size();
      found.push_back(json::parse(text.substr(start, text.find('\n', start) - start), nullptr, false));
    }
    return found;
  }
  bool WaitFor(const std::string& what) const {
    return WebDriver::WaitUntil([&] { return Text().find(what) != std::string::npos; }, 30s);
  }

 private:
  std::unique_ptr<httplib::Client> client_;
  mutable std::mutex mutex_;
  std::string text_;
  std::jthread thread_;
};

TEST(WebApi, MessagesUssdAndCountsFlowThroughTheApiAndTheEventStream) {
  WebDriver driver;
  EventReader events(driver);
  ASSERT_TRUE(events.WaitFor("event: status\ndata: {\"connected\":true")) << events.Text();

  const httplib::Result posted =
      driver.Post("/api/v1/messages", R"({"to": "+4912345", "text": "SEND 4915112345 hello web"})");
  ASSERT_TRUE(posted);
  ASSERT_EQ(posted->status, 202) << posted->body;
  const json accepted = WebDriver::Json(posted);
  const int id = accepted["id"];
  EXPECT_EQ(accepted["segments"], 1);
  // Its row exists once the answer has come.
  EXPECT_NE(driver.Get("/api/v1/messages/" + std::to_string(id))["state"], nullptr);

  json message;
  ASSERT_TRUE(WebDriver::WaitUntil(
      [&] { return (message = driver.Get("/api/v1/messages/" + std::to_string(id)))["state"] == "sent"; }, 30s))
      << message;
  EXPECT_EQ(message["to"], "+4912345");
  EXPECT_EQ(message["text"], "SEND 4915112345 hello web");
  EXPECT_TRUE(message["reference"].is_number_integer());
  EXPECT_TRUE(message["delivered"].is_null());
  EXPECT_TRUE(message["error"].is_null());

  // The echo arrives: on the stream, then in the inbox, found by a search.
  ASSERT_TRUE(events.WaitFor("event: incoming\ndata: ")) << events.Text();
  EXPECT_NE(events.Text().find("\"from\":\"4915112345\""), std::string::npos);
  ASSERT_TRUE(events.WaitFor("event: sent\ndata: "));
  const std::vector<json> sent = events.Events("sent");
  ASSERT_EQ(sent.size(), 1u) << events.Text();
  EXPECT_EQ(sent[0]["id"], id);
  EXPECT_EQ(sent[0]["state"], "sent");
  json inbox;
  ASSERT_TRUE(
      WebDriver::WaitUntil([&] { return (inbox = driver.Get("/api/v1/inbox?q=HELLO%20WEB"))["total"] == 1; }, 30s))
      << inbox;
  EXPECT_EQ(inbox["items"][0]["from"], "4915112345");
  EXPECT_EQ(inbox["items"][0]["text"], "hello web");
  EXPECT_EQ(driver.Get("/api/v1/inbox?q=nobody")["total"], 0);

  // A long text goes in segments; the codec's count says so beforehand.
  const std::string longText(200, 'x');
  const json count = WebDriver::Json(driver.Post("/api/v1/count", json{{"text", longText}}.dump()));
  EXPECT_EQ(count,
            (json{{"encoding", "gsm7"}, {"units", 200}, {"segments", 2}, {"per_segment", 153}, {"remaining", 106}}));
  EXPECT_EQ(WebDriver::Json(driver.Post("/api/v1/count", R"({"text": "привет"})")),
            (json{{"encoding", "ucs2"}, {"units", 6}, {"segments", 1}, {"per_segment", 70}, {"remaining", 64}}));
  const json second = WebDriver::Json(
      driver.Post("/api/v1/messages", json{{"to", "4912345"}, {"text", longText}, {"report", true}}.dump()));
  EXPECT_EQ(second["segments"], 2);

  const httplib::Result ussd = driver.Post("/api/v1/ussd", R"({"code": "*100#", "timeout": 20})");
  ASSERT_TRUE(ussd);
  EXPECT_EQ(ussd->status, 200) << ussd->body;
  EXPECT_NE(WebDriver::Json(ussd)["reply"].get<std::string>().find("Your current balance"), std::string::npos);
  EXPECT_TRUE(events.WaitFor("event: ussd\ndata: {\"reply\":\"Your current balance")) << events.Text();

  // Newest first, in pages; since_id leaves out what a client has seen.
  ASSERT_TRUE(WebDriver::WaitUntil([&] { return driver.Get("/api/v1/outbox")["total"] == 0; }, 30s));
  const json page = driver.Get("/api/v1/sent?per_page=1&page=2&q=SEND");
  EXPECT_EQ(page["page"], 2);
  EXPECT_EQ(page["per_page"], 1);
  EXPECT_EQ(page["total"], 1);
  EXPECT_TRUE(page["items"].empty());
  const json newest = driver.Get("/api/v1/sent?per_page=1");
  EXPECT_EQ(newest["items"][0]["type"], "ussd");
  EXPECT_EQ(driver.Get("/api/v1/sent?since_id=" + std::to_string(id))["total"], newest["total"].get<int>() - 1);

  // The description it serves names every route it answers.
  const json openapi = driver.Get("/api/v1/openapi.json");
  EXPECT_EQ(openapi["openapi"], "3.0.3");
  for (const char* path : {"/api/v1/status", "/api/v1/messages", "/api/v1/messages/{id}", "/api/v1/inbox",
                           "/api/v1/outbox", "/api/v1/sent", "/api/v1/failed", "/api/v1/ussd", "/api/v1/connect",
                           "/api/v1/disconnect", "/api/v1/count", "/api/v1/events", "/api/v1/login", "/metrics"}) {
    EXPECT_TRUE(openapi["paths"].contains(path)) << path;
  }

  // The driver stops promptly with a stream open, and the stream ends.
  driver.Process().Signal(SIGTERM);
  EXPECT_EQ(driver.Process().WaitExit(10s), 0);
  EXPECT_NE(driver.Log().find("Stopped"), std::string::npos);
}

TEST(WebApi, RequestsThatBreakTheRulesAreRefusedAndChangeNothing) {
  WebDriver driver;
  const auto client = driver.Client();
  const auto anonymous = driver.Client(false);
  const std::string send = R"({"to": "+4912345", "text": "must not go"})";

  // Without the token, or with another, nothing is read or done.
  for (const char* path : {"/api/v1/status", "/api/v1/inbox", "/metrics", "/api/v1/openapi.json"}) {
    const httplib::Result result = anonymous->Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401) << path;
    EXPECT_TRUE(WebDriver::Json(result)["error"].is_string());
  }
  EXPECT_EQ(anonymous->Post("/api/v1/messages", send, "application/json")->status, 401);
  EXPECT_EQ(
      anonymous->Post("/api/v1/messages", {{"Cookie", "qm_session=" + std::string(64, '0')}}, send, "application/json")
          ->status,
      401);
  EXPECT_EQ(anonymous->Post("/api/v1/login", R"({"token": "guess"})", "application/json")->status, 401);

  // Another site's page cannot post, even with the cookie; a form cannot post JSON.
  const httplib::Headers foreign = {{"Origin", "http://evil.example"}};
  EXPECT_EQ(client->Post("/api/v1/messages", foreign, send, "application/json")->status, 403);
  EXPECT_EQ(client->Post("/api/v1/messages", send, "text/plain")->status, 415);
  EXPECT_EQ(client->Post("/api/v1/messages", send, "application/x-www-form-urlencoded")->status, 415);

  // Malformed, unknown, mistyped and hostile input is named in the error.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"/api/v1/messages", "{\"to\": \"+4912345\", \"text\": "},
      {"/api/v1/messages", "[1, 2]"},
      {"/api/v1/messages", R"({"to": "+4912345", "text": "x", "priority": 1})"},
      {"/api/v1/messages", R"({"to": 4912345, "text": "x"})"},
      {"/api/v1/messages", R"({"to": "+49 123; rm -rf /", "text": "x"})"},
      {"/api/v1/messages", R"({"to": "", "text": "x"})"},
      {"/api/v1/messages", R"({"to": "+4912345", "text": "x", "flash": "yes"})"},
      {"/api/v1/messages", "{\"to\": \"+4912345\", \"text\": \"\xff\xfe\"}"},
      {"/api/v1/messages", json{{"to", "+4912345"}, {"text", std::string(4001, 'x')}}.dump()},
      {"/api/v1/ussd", R"({"code": "*100#", "timeout": -1})"},
      {"/api/v1/ussd", R"({"code": "*100#", "timeout": 1.5})"},
      {"/api/v1/ussd", R"({"code": "*100#", "timeout": 1e300})"},
      {"/api/v1/ussd", R"({"code": "*100#", "timeout": 99999999999999999999999})"},
      {"/api/v1/ussd", R"({"code": "*100#", "timeout": 18446744073709551615})"},
      {"/api/v1/count", R"({"text": null})"},
      {"/api/v1/count", std::string(30000, '[') + std::string(30000, ']')},
  };
  for (const auto& [path, body] : bad) {
    const httplib::Result result = client->Post(path.c_str(), body, "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 400) << path << " " << body;
    EXPECT_FALSE(WebDriver::Json(result)["error"].get<std::string>().empty()) << result->body;
  }
  EXPECT_NE(client->Post("/api/v1/messages", R"({"to": "1", "text": "x", "priority": 1})", "application/json")
                ->body.find("priority"),
            std::string::npos);
  for (const char* path : {"/api/v1/messages/abc", "/api/v1/messages/-1", "/api/v1/messages/99999999999",
                           "/api/v1/inbox?page=0", "/api/v1/inbox?per_page=100000", "/api/v1/inbox?colour=red"}) {
    EXPECT_EQ(client->Get(path)->status, 400) << path;
  }
  EXPECT_EQ(client->Get("/api/v1/messages/424242")->status, 404);
  EXPECT_EQ(client->Get("/api/v1/nothing")->status, 404);
  EXPECT_EQ(client->Delete("/api/v1/inbox")->status, 405);
  const httplib::Result huge = client->Post("/api/v1/messages", std::string(70 * 1024, ' '), "application/json");
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->status, 413);
  EXPECT_NE(WebDriver::Json(huge)["error"].get<std::string>().find("64 KiB"), std::string::npos);

  // Event streams take at most four workers: the fifth is refused, and the
  // API still has workers.
  {
    std::vector<std::unique_ptr<EventReader>> streams;
    for (int i = 0; i < 4; ++i) streams.push_back(std::make_unique<EventReader>(driver));
    for (const auto& stream : streams) ASSERT_TRUE(stream->WaitFor("event: status"));
    EXPECT_EQ(client->Get("/api/v1/events")->status, 503);
    EXPECT_EQ(client->Get("/api/v1/status")->status, 200);
  }

  // Nothing of it reached a table, and the driver still answers.
  std::this_thread::sleep_for(1s);
  for (const char* table : {"outbox", "sent", "failed"}) {
    EXPECT_EQ(driver.Get(std::string("/api/v1/") + table)["total"], 0) << table;
  }
  EXPECT_EQ(driver.Get("/api/v1/status")["connected"], true);

  // Every answer carries the browser defences; the API's are never cached.
  const httplib::Result refused = anonymous->Get("/api/v1/status");
  for (const httplib::Result* result : {&refused, &huge}) {
    EXPECT_EQ((*result)->get_header_value("Content-Security-Policy").find("default-src 'none'"), 0u);
    EXPECT_EQ((*result)->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ((*result)->get_header_value("Referrer-Policy"), "no-referrer");
    EXPECT_EQ((*result)->get_header_value("Cache-Control"), "no-store");
  }

  // The console address trades the token for a session cookie and drops it
  // from the address bar; the cookie then opens the API.
  const httplib::Result opened = anonymous->Get(("/?token=" + driver.Token()).c_str());
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->status, 303);
  EXPECT_EQ(opened->get_header_value("Location"), "/");
  EXPECT_EQ(opened->get_header_value("Set-Cookie"),
            "qm_session=" + driver.Token() + "; HttpOnly; SameSite=Strict; Path=/");
  const httplib::Headers cookie = {{"Cookie", "theme=dark; qm_session=" + driver.Token()}};
  EXPECT_EQ(anonymous->Get("/api/v1/status", cookie)->status, 200);
  const httplib::Result login =
      anonymous->Post("/api/v1/login", json{{"token", driver.Token()}}.dump(), "application/json");
  EXPECT_EQ(login->status, 200);
  EXPECT_EQ(login->get_header_value("Set-Cookie"), opened->get_header_value("Set-Cookie"));
  EXPECT_EQ(anonymous->Get("/?token=wrong")->status, anonymous->Get("/")->status);  // the page, with its login form

  // The token is in the log once: the console's address.
  EXPECT_EQ(test::Occurrences(driver.Log(), driver.Token()), 1);
}

}  // namespace
}  // namespace qm
