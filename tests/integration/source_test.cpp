// Sources fetching real documents: a spool file other processes write, a
// command's output, a web server on 127.0.0.1, and the list that polls them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/source_list.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempDir;

const bool kHttpReady = (InitHttpClient(), true);

// The sources of `text` (configuration lines), with a log in `dir`.
struct Sources {
  Sources(const TempDir& dir, const std::string& text)
      : log(dir.File("log"), nullptr), list(SourceServices{log, config, {}, {}, {}}) {
    config.LoadFromText(text);
    list.Load(config);
  }
  bool Logged(const std::string& text) const { return ReadFile(log.Path()).find(text) != std::string::npos; }

  ConfigStore config;
  Logger log;
  SourceList list;
};

std::string Bodies(const WorkItems& items) {
  std::string out;
  for (const auto& item : items) out += item->KindName() + ":" + item->to + ":" + item->body + ";";
  return out;
}

TEST(SourceList, LoadsPollsWhenDueAndSavesBack) {
  TempDir dir;
  test::WriteFile(dir.File("spool.xml"), "<message msisdn=\"+491\">from the file</message>");
  Sources sources(
      dir, "source.timeout=10\nsources.0.type=file\nsources.0.name=spool\nsources.0.period=2\nsources.0.location=" +
               dir.File("spool.xml") +
               "\nsources.1.type=cmdline\nsources.1.name=script\nsources.1.period=1\nsources.1.inactive=1"
               "\nsources.1.cmd=echo '<ussd>*100#</ussd>'\n"
               "sources.2.type=cmdline\nsources.2.name=printer\nsources.2.period=3\nsources.2.path=" +
               dir.path() +
               "\nsources.2.cmd=cat doc\n"
               "sources.3.type=smtp\nsources.4.type=file\n");
  test::WriteFile(dir.File("doc"),
                  "<?xml version=\"1.0\"?><messages><ussd>*101#</ussd>"
                  "<message msisdn=\"+492\" url=\"http://wap\">push</message></messages>");
  ASSERT_EQ(sources.list.Size(), 3u);
  EXPECT_EQ(Bodies(sources.list.Poll(1)), "");  // the active one with period 1 is inactive
  EXPECT_EQ(Bodies(sources.list.Poll(2)), "sms:+491:from the file;");
  EXPECT_EQ(ReadFile(dir.File("spool.xml")), "");  // emptied
  EXPECT_EQ(Bodies(sources.list.Poll(3)), "ussd::*101#;push:+492:push;");
  EXPECT_EQ(Bodies(sources.list.Poll(4)), "");
  EXPECT_TRUE(sources.Logged("Source spool: msg 'from the file' to '+491', url ''"));
  EXPECT_TRUE(sources.Logged("Source printer: msg 'push' to '+492', url 'http://wap'"));

  ConfigStore saved;
  saved.SetString("sources.3.type", "file");  // a longer list saved before
  sources.list.Save(saved);
  EXPECT_EQ(saved.GetString("sources.1.inactive"), "1");
  EXPECT_EQ(saved.GetString("sources.2.cmd"), "cat doc");
  EXPECT_EQ(saved.GetString("sources.3.type"), "");
}

TEST(SourceList, FailuresAreLoggedAndEndOnlyThatPoll) {
  ASSERT_TRUE(kHttpReady);
  TempDir dir;
  test::HttpTestServer server([](const test::RecordedRequest& request) {
    test::TestReply reply;
    if (request.requestLine.starts_with("GET /queue?x=1 ")) {
      reply.parts = {"<messages><message msisdn=\"+493\" flash=\"1\">from the web</message></messages>"};
    } else {
      reply.status = 404;
      reply.parts = {"<message msisdn=\"+499\">never</message>"};
    }
    return reply;
  });
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  Sources sources(
      dir,
      "source.timeout=1\n"
      "sources.0.type=file\nsources.0.name=missing\nsources.0.period=1\nsources.0.location=" +
          dir.File("absent.xml") +
          "\nsources.1.type=cmdline\nsources.1.name=slow\nsources.1.period=1\nsources.1.path=" + dir.path() +
          "\nsources.1.cmd=sleep 30 & echo $! > child; echo '<message msisdn=\"1\"/>'; "
          "sleep 30\n"
          "sources.2.type=url\nsources.2.name=web\nsources.2.period=1\nsources.2.log=1\n"
          "sources.2.location=" +
          base +
          "/queue?x=1\n"
          "sources.3.type=url\nsources.3.name=gone\nsources.3.period=1\nsources.3.location=" +
          base +
          "/gone\n"
          "sources.4.type=cmdline\nsources.4.name=garbage\nsources.4.period=1\n"
          "sources.4.cmd=printf '\\001<<&&<?xml <messages'\n");
  const auto start = std::chrono::steady_clock::now();
  const WorkItems items = sources.list.Poll(1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->body, "from the web");
  EXPECT_EQ(items[0]->flags & kFlagFlash, kFlagFlash);
  EXPECT_TRUE(sources.Logged("Failed to retrieve source: " + dir.File("absent.xml")));
  EXPECT_TRUE(sources.Logged("Failed to retrieve source: timeout"));
  EXPECT_TRUE(sources.Logged("SMS source returned: <messages><message msisdn=\"+493\""));
  EXPECT_TRUE(sources.Logged("Failed to retrieve URL source: status 404"));
  // The timed-out command's child went with it.
  const std::string child = "/proc/" + ReadFile(dir.File("child")).substr(0, ReadFile(dir.File("child")).size() - 1);
  for (int i = 0;
       i < 100 && ::access(child.c_str(), F_OK) == 0 && ReadFile(child + "/stat").find(") Z") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(::access(child.c_str(), F_OK) != 0 || ReadFile(child + "/stat").find(") Z") != std::string::npos);

  // A stop ends a fetch in progress at once and every later one.
  std::jthread stopper([&] {
    std::this_thread::sleep_for(300ms);
    sources.list.Stop();
  });
  sources.config.SetString("source.timeout", "60");
  const auto stopStart = std::chrono::steady_clock::now();
  EXPECT_TRUE(sources.list.Poll(1).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 10s);
}

// Producers in other processes append documents under flock's lock (in one
// round) or fcntl's (in the other) while the source polls as fast as it can:
// every message is taken exactly once.
TEST(FileSourceConcurrent, ProducersThatLockNeverLoseAMessage) {
  TempDir dir;
  const std::string spool = dir.File("spool.xml");
  Sources sources(dir,
                  "sources.0.type=file\nsources.0.name=spool\nsources.0.period=1\nsources.0.location=" + spool + "\n");
  constexpr int kProducers = 2;
  constexpr int kPerProducer = 200;
  for (const bool useFlock : {true, false}) {
    SCOPED_TRACE(useFlock ? "flock" : "fcntl");
    test::WriteFile(spool, "");
    std::vector<pid_t> producers;
    for (int producer = 0; producer < kProducers; ++producer) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid != 0) {
        producers.push_back(pid);
        continue;
      }
      for (int i = 0; i < kPerProducer; ++i) {
        const int fd = ::open(spool.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) ::_exit(1);
        struct flock range {};
        range.l_type = F_WRLCK;
        if (useFlock ? ::flock(fd, LOCK_EX) != 0 : ::fcntl(fd, F_SETLKW, &range) != 0) ::_exit(2);
        const std::string document =
            "<message msisdn=\"+49" + std::to_string(producer) + "\">" + std::to_string(i) + "</message>\n";
        // Written in two pieces: a reader without the lock would see half a document.
        const std::size_t half = document.size() / 2;
        if (::write(fd, document.data(), half) != static_cast<ssize_t>(half)) ::_exit(3);
        ::usleep(100);
        const std::size_t rest = document.size() - half;
        if (::write(fd, document.data() + half, rest) != static_cast<ssize_t>(rest)) ::_exit(3);
        ::close(fd);
      }
      ::_exit(0);
    }
    std::multiset<std::string> seen;
    const auto collect = [&] {
      for (const auto& item : sources.list.Poll(1)) seen.insert(item->to + "/" + item->body);
    };
    for (const pid_t pid : producers) {
      int status = 0;
      while (::waitpid(pid, &status, WNOHANG) == 0) collect();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    collect();
    std::multiset<std::string> expected;
    for (int producer = 0; producer < kProducers; ++producer) {
      for (int i = 0; i < kPerProducer; ++i)
        expected.insert("+49" + std::to_string(producer) + "/" + std::to_string(i));
    }
    EXPECT_TRUE(seen == expected) << seen.size() << " taken";
  }
  EXPECT_FALSE(sources.Logged("Failed to parse file"));
}

}  // namespace
}  // namespace qm
