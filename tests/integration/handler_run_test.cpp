// Handlers doing their work for real: commands run by /bin/sh with texts a
// stranger typed, and URL requests to a server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/handler_list.h"
#include "integration/worker_pool.h"
#include "tests/support/driver_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FileExists;
using test::ReadFile;
using test::TempDir;

const bool kHttpReady = (InitHttpClient(), true);

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// The handlers of `text` (configuration lines), with a log in `dir`.
struct Handlers {
  Handlers(const TempDir& dir, const std::string& text, std::size_t workers = 2, std::size_t queue = 10)
      : log(dir.File("log"), nullptr), pool(workers, queue), list(HandlerServices{log, config, pool, Options(), {}}) {
    config.LoadFromText(text);
    list.Load(config);
  }
  static HttpOptions Options() {
    HttpOptions options;
    options.connectTimeout = 10s;
    options.stallTimeout = 10s;
    return options;
  }

  ConfigStore config;
  Logger log;
  WorkerPool pool;
  HandlerList list;
};

TEST(HandlerRun, CommandsGetStrangersTextsAsDataWhereverTheTemplatePutsThem) {
  ASSERT_TRUE(kHttpReady);
  TempDir dir;
  test::WriteFile(dir.File("keep"), "keep");
  Handlers handlers(
      dir,
      "source.timeout=2\n"
      "handler.0.type=cmdline\nhandler.0.name=store\nhandler.0.log=1\nhandler.0.path=" +
          dir.path() +
          "\nhandler.0.cmd=printf '%s|%s|%s|%s|%s\\n' _FROM_ \"_BODY_\" '_CUSTOM_' x_TO_x _STATUS_ >> out\n"
          "handler.1.type=cmdline\nhandler.1.name=second\nhandler.1.log=1\nhandler.1.path=" +
          dir.path() + "\nhandler.1.cmd=echo _ID_ _INTERNALID_ >> ids\n");
  const std::string hostile[] = {"$(touch pwned)", "`touch pwned`",         ";touch pwned;",     "a|touch pwned",
                                 "a&touch pwned&", "\"; touch pwned; \"",   "'; touch pwned; '", "$HOME ${PATH} *",
                                 "_BODY_ _FROM_",  "rm keep\r\ntouch pwned"};
  std::string expected;
  for (const std::string& text : hostile) {
    SMSMessage message(text, text, text, 4000000001u);
    message.custom = text;
    message.reference = 12;
    const HandlerList::Outcome outcome = handlers.list.Dispatch(HandlerEvent::kReceive, message, HandlerStatus::kNone);
    EXPECT_TRUE(outcome.handled) << text;
    EXPECT_TRUE(outcome.failed.empty()) << text;
    std::string body = text;  // line breaks as text, single quotes doubled
    for (std::size_t at = 0; (at = body.find_first_of("\r\n'", at)) != std::string::npos;) {
      const std::string with = body[at] == '\r' ? "%0d" : body[at] == '\n' ? "%0a" : "''";
      body.replace(at, 1, with);
      at += with.size();
    }
    expected += text + "|" + body + "|" + text + "|x" + text + "x|_STATUS_\n";
  }
  EXPECT_EQ(ReadFile(dir.File("out")), expected);
  EXPECT_EQ(ReadFile(dir.File("ids")).substr(0, 14), "12 4000000001\n");
  EXPECT_FALSE(FileExists(dir.File("pwned")));
  EXPECT_EQ(ReadFile(dir.File("keep")), "keep");
  EXPECT_NE(ReadFile(dir.File("log")).find("Handler command: printf '%s|%s|%s|%s|%s\\n' \"${QM_FROM}\""),
            std::string::npos);
}

TEST(HandlerRun, CommandsThatHangFailOrCannotStartAreFailuresAndUnloggedOnesAreNotWaitedFor) {
  TempDir dir;
  const std::string common = "\nhandler.0.log=1\nhandler.0.path=" + dir.path() + "\n";
  {
    Handlers handlers(dir, "source.timeout=1\nhandler.0.type=cmdline\nhandler.0.name=slow" + common +
                               "handler.0.cmd=sleep 30 & echo $! > child; sleep 30\n");
    const auto start = std::chrono::steady_clock::now();
    const auto outcome =
        handlers.list.Dispatch(HandlerEvent::kReceive, SMSMessage("1", "2", "x"), HandlerStatus::kNone);
    EXPECT_GE(Since(start), 1s);
    EXPECT_LT(Since(start), 10s);
    EXPECT_EQ(outcome.failed, std::vector<std::string>{"slow"});
    EXPECT_NE(ReadFile(dir.File("log")).find("Handler failed: timeout"), std::string::npos);
    // The shell's child went with it.
    const std::string child = ReadFile(dir.File("child"));
    ASSERT_FALSE(child.empty());
    const std::string proc = "/proc/" + std::to_string(std::atoi(child.c_str()));
    for (int i = 0; i < 100 && FileExists(proc + "/stat") && ReadFile(proc + "/stat").find(") Z") == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(!FileExists(proc + "/stat") || ReadFile(proc + "/stat").find(") Z") != std::string::npos);
  }
  for (const std::string& broken :
       {std::string("handler.0.cmd=exit 3\n"), "handler.0.cmd=true\nhandler.0.path=" + dir.File("missing") + "\n"}) {
    Handlers handlers(dir, "source.timeout=5\nhandler.0.type=cmdline\nhandler.0.name=broken" + common + broken);
    const auto outcome =
        handlers.list.Dispatch(HandlerEvent::kReceive, SMSMessage("1", "2", "x"), HandlerStatus::kNone);
    EXPECT_FALSE(outcome.handled) << broken;
    EXPECT_EQ(outcome.failed, std::vector<std::string>{"broken"}) << broken;
  }
  {
    Handlers handlers(dir, "handler.0.type=cmdline\nhandler.0.name=detached\nhandler.0.event=1\nhandler.0.path=" +
                               dir.path() + "\nhandler.0.cmd=sleep 1; echo _STATUS_ > late\n");
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = handlers.list.Dispatch(HandlerEvent::kSend, SMSMessage("1", "2", "x"), HandlerStatus::kFailed);
    EXPECT_LT(Since(start), 900ms);
    EXPECT_TRUE(outcome.handled);
    EXPECT_FALSE(FileExists(dir.File("late")));
    EXPECT_TRUE(test::WaitForFileContaining(dir.File("late"), "failed\n", 10s));
  }
}

TEST(HandlerRun, UrlHandlersRequestTheEncodedUrlOffTheCallersThreadWithinTheirBound) {
  TempDir dir;
  test::HttpTestServer server([](const test::RecordedRequest& request) {
    test::TestReply reply;
    reply.silent = request.requestLine.find("/silent") != std::string::npos;
    reply.status = request.requestLine.find("/missing") != std::string::npos ? 404 : 200;
    reply.parts = {"ok"};
    return reply;
  });
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  Handlers handlers(
      dir, "handler.0.type=url\nhandler.0.name=hook\nhandler.0.event=1\nhandler.0.log=1\nhandler.0.url=" + base +
               "/hook?from=_FROM_&to=_TO_&text=_BODY_&id=_ID_&status=_STATUS_&c=_CUSTOM_\n"
               "handler.1.type=url\nhandler.1.name=gone\nhandler.1.event=1\nhandler.1.log=1\nhandler.1.url=" +
               base + "/missing/_TIMESTAMP_\n");
  SMSMessage message("+4917011111", "+4917022222", "Hello world, 100%");
  message.reference = 9;
  message.timestamp = 1700000000;
  message.custom = "a b\r\nX: y";
  const auto outcome = handlers.list.Dispatch(HandlerEvent::kSend, message, HandlerStatus::kSent);
  EXPECT_TRUE(outcome.handled);
  ASSERT_TRUE(server.WaitForRequests(2)) << ReadFile(dir.File("log"));
  std::vector<std::string> lines;
  for (const auto& request : server.Requests()) lines.push_back(request.requestLine);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines[0],
            "GET /hook?from=%2b4917011111&to=%2b4917022222&text=Hello+world,+100%25&id=9&status=sent"
            "&c=a%20b%0d%0aX:%20y HTTP/1.1");
  EXPECT_EQ(lines[1], "GET /missing/1700000000 HTTP/1.1");
  const auto logged = [&](const std::string& text) {
    for (int i = 0; i < 100 && ReadFile(dir.File("log")).find(text) == std::string::npos; ++i) {
      std::this_thread::sleep_for(50ms);
    }
    return ReadFile(dir.File("log")).find(text) != std::string::npos;
  };
  EXPECT_TRUE(logged("Handler output: 200"));
  EXPECT_TRUE(logged("Handler output: 404"));

  // One worker held by a server that never answers, one request waiting: the
  // next is refused and said so; stopping the pool ends the held request.
  Handlers bounded(
      dir, "handler.0.type=url\nhandler.0.name=stuck\nhandler.0.event=2\nhandler.0.url=" + base + "/silent\n", 1, 1);
  EXPECT_TRUE(bounded.list.Dispatch(HandlerEvent::kDelivery, message, HandlerStatus::kDelivered).handled);
  ASSERT_TRUE(server.WaitForRequests(3));
  EXPECT_TRUE(bounded.list.Dispatch(HandlerEvent::kDelivery, message, HandlerStatus::kDelivered).handled);
  const auto refused = bounded.list.Dispatch(HandlerEvent::kDelivery, message, HandlerStatus::kDelivered);
  EXPECT_EQ(refused.failed, std::vector<std::string>{"stuck"});
  EXPECT_TRUE(logged("Handler failed: too many requests waiting for the network"));
  const auto start = std::chrono::steady_clock::now();
  bounded.pool.Stop();
  EXPECT_LT(Since(start), 5s);
}

}  // namespace
}  // namespace qm
