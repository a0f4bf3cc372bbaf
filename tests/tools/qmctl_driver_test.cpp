// qmctl against a real driver on its emulator, on a private bus: the user's
// commands, their output and their exit codes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/private_bus.h"
#include "tests/support/received_pdus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;

// A qmctl run: started at construction with its output in files.
class Qmctl {
 public:
  explicit Qmctl(const std::vector<std::string>& args, const std::string& input = "") {
    test::WriteFile(dir_.File("in"), input);
    pid_ = ::fork();
    if (pid_ != 0) return;
    const int fds[] = {::open(dir_.File("in").c_str(), O_RDONLY),
                       ::open(dir_.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                       ::open(dir_.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int i = 0; i < 3; ++i) {
      if (fds[i] < 0 || ::dup2(fds[i], i) < 0) ::_exit(127);
    }
    std::vector<char*> argv{const_cast<char*>(QM_QMCTL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(QM_QMCTL_PATH, argv.data());
    ::_exit(127);
  }
  ~Qmctl() {
    if (status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The exit code; -1 when it had to be killed after `limit`.
  int Wait(std::chrono::milliseconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (status_ == kRunning) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      } else if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        status_ = -1;
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
    return status_;
  }
  void Signal(int signal) const { ::kill(pid_, signal); }
  std::string Out() const { return ReadFile(dir_.File("out")); }
  std::string Err() const { return ReadFile(dir_.File("err")); }
  std::string OutFile() const { return dir_.File("out"); }
  std::string ErrFile() const { return dir_.File("err"); }

 private:
  static constexpr int kRunning = -2;
  test::TempDir dir_;
  pid_t pid_ = -1;
  int status_ = kRunning;
};

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunQmctl(const std::vector<std::string>& args, const std::string& input = "") {
  Qmctl qmctl(args, input);
  const int status = qmctl.Wait();
  return {status, qmctl.Out(), qmctl.Err()};
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// A driver on its emulator, ready and reachable on a private bus.
class QmctlOnEmulator : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::WaitForFileContaining(box_.UserFile("qmdriver.status"), "state:ready"))
        << ReadFile(box_.UserFile("qmdriver.log"));
    ASSERT_TRUE(test::WaitForFileContaining(box_.UserFile("qmdriver.log"), "Automation server on the session bus"));
  }
  void TearDown() override {
    driver_.Signal(SIGTERM);
    EXPECT_EQ(driver_.WaitExit(20s), 0);
  }

  test::PrivateBus bus_;
  test::DriverSandbox box_{{{"status.time", "1"}, {"sender.delay", "0"}}};
  test::DriverProcess driver_{box_, {"-noicon"}};
};

TEST(QmctlWithoutDriver, SaysSoWithExitThreeAndRefusesWrongUsageWithTwo) {
  test::PrivateBus bus;
  const Result none = RunQmctl({"status"});
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.err, "qmctl: no driver is running on the session bus (nobody owns org.quillmoor.GSM)\n");
  EXPECT_EQ(none.out, "");
  const Result other = RunQmctl({"--instance", "7", "send", "--to", "+491", "--text", "x", "--json"});
  EXPECT_EQ(other.status, 3);
  EXPECT_NE(other.err.find("org.quillmoor.GSM.Instance7"), std::string::npos) << other.err;
  {
    test::ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/qmctl-test");
    const Result unreachable = RunQmctl({"watch"});
    EXPECT_EQ(unreachable.status, 3);
    EXPECT_TRUE(unreachable.err.starts_with("qmctl: cannot reach the session bus: ")) << unreachable.err;
  }

  const std::vector<std::vector<std::string>> wrongUsage = {
      {},
      {"frobnicate"},
      {"--bogus", "status"},
      {"status", "now"},
      {"--instance", "x", "status"},
      {"send", "--to", "+491"},
      {"send", "--text", "hi"},
      {"send", "--to", "+491", "--text", "hi", "--timeout", "5"},
      {"send", "--to", "+491", "--text", "hi", "--wait", "--timeout", "soon"},
      {"send", "--to", "+491", "--text", "\xFF"},
      {"send", "--to", "+491", "--file", "-", "--text", "hi"},
      {"ussd"},
      {"at", "AT", "+CSQ"},
      {"memory", "remove", "first"},
      {"memory", "defrag"},
      {"config", "set", "ModemName", "x"},
      {"config", "set", "BaudRate", "fast"},
      {"config", "set", "DataBits", "256"},
      {"config", "set", "PortName"},
  };
  for (const auto& args : wrongUsage) {
    const Result run = RunQmctl(args);
    EXPECT_EQ(run.status, 2) << testing::PrintToString(args) << run.err;
    EXPECT_TRUE(run.err.starts_with("qmctl: ")) << run.err;
  }
  // A list with a bad line stops before anything is sent: every bad line is named.
  const Result list = RunQmctl({"send", "--file", "-"}, "number,text\n+4912345,hi\nfoo,bar\n+4954321\n4977,\"open\n");
  EXPECT_EQ(list.status, 2);
  EXPECT_EQ(list.err,
            "qmctl: -: line 3: 'foo' is not a phone number\n"
            "qmctl: -: line 4: no text (give --text, or a text after the number)\n"
            "qmctl: -: line 5: the quoted text does not end\n");
  const Result help = RunQmctl({"send", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: qmctl send")) << help.out;
}

TEST_F(QmctlOnEmulator, StatusConfigAndUssd) {
  const Result status = RunQmctl({"status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("Connection:  ready\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("Modem:       Emulator\nSignal:      93%\n"), std::string::npos) << status.out;
  const Result json = RunQmctl({"--json", "status"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto state = JsonLines(json.out);
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(state[0]["bus"], "org.quillmoor.GSM");
  EXPECT_EQ(state[0]["pid"], driver_.pid());
  EXPECT_EQ(state[0]["status"], "ready");
  EXPECT_EQ(state[0]["modem"], "Emulator");
  EXPECT_EQ(state[0]["signal"], 93);
  EXPECT_EQ(state[0]["outbox"], 0);
  EXPECT_EQ(state[0]["errors"], 0);

  // Keys in any case; the driver's own spelling comes back; its refusals exit 1.
  EXPECT_EQ(RunQmctl({"config", "set", "sendmode", "PDU"}).out, "pdu\n");
  EXPECT_EQ(RunQmctl({"config", "get", "SENDMODE", "--json"}).out, "{\"SendMode\":\"pdu\"}\n");
  EXPECT_EQ(RunQmctl({"config", "set", "Timeout", "7"}).out, "7\n");
  const Result refused = RunQmctl({"config", "set", "Timeout", "0"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "qmctl: Invalid value\n");
  const Result all = RunQmctl({"config", "get"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("PortName = Emulator\n"), std::string::npos) << all.out;

  const Result ussd = RunQmctl({"ussd", "*100#", "--timeout", "8"});
  EXPECT_EQ(ussd.status, 0) << ussd.err;
  EXPECT_EQ(ussd.out, "Your current balance is $ 22.10\n");
  // The emulator answers after two seconds.
  const Result late = RunQmctl({"ussd", "*100#", "--timeout", "1"});
  EXPECT_EQ(late.status, 4) << late.err;
  EXPECT_EQ(late.err, "qmctl: Timeout\n");
}

TEST_F(QmctlOnEmulator, SendWaitsForTheOutcomeWhileWatchSeesTheSentMessageAndItsEcho) {
  Qmctl watch({"watch", "--json"});
  ASSERT_TRUE(test::WaitForFileContaining(watch.ErrFile(), "Watching org.quillmoor.GSM", 20s)) << watch.Err();

  const Result sent = RunQmctl({"send", "--to", "+4912345", "--text", "SEND 4915112345 hi", "--wait", "--json"});
  EXPECT_EQ(sent.status, 0) << sent.err;
  const auto outcome = JsonLines(sent.out);
  ASSERT_EQ(outcome.size(), 1u) << sent.out;
  EXPECT_EQ(outcome[0]["to"], "+4912345");
  EXPECT_EQ(outcome[0]["status"], "sent");
  EXPECT_GT(outcome[0]["reference"], 0);

  // The echo may come before or after the sending outcome's event.
  ASSERT_TRUE(test::WaitForFileContaining(watch.OutFile(), "\"event\":\"incoming\"", 20s)) << watch.Out();
  ASSERT_TRUE(test::WaitForFileContaining(watch.OutFile(), "\"event\":\"sent\"", 20s)) << watch.Out();
  watch.Signal(SIGTERM);
  EXPECT_EQ(watch.Wait(10s), 0) << watch.Err();
  bool sawSent = false, sawIncoming = false;
  for (const nlohmann::json& event : JsonLines(watch.Out())) {
    if (event["event"] == "sent") {
      sawSent = true;
      EXPECT_EQ(event["id"], outcome[0]["id"]);
      EXPECT_EQ(event["to"], "+4912345");
      EXPECT_EQ(event["body"], "SEND 4915112345 hi");
    } else if (event["event"] == "incoming") {
      sawIncoming = true;
      EXPECT_EQ(event["from"], "4915112345");
      EXPECT_EQ(event["body"], "hi");
    } else {
      EXPECT_EQ(event["event"], "connection") << event;
    }
  }
  EXPECT_TRUE(sawSent) << watch.Out();
  EXPECT_TRUE(sawIncoming) << watch.Out();

  // The emulator sends no delivery reports: waiting for one runs out of time.
  const Result undelivered = RunQmctl({"send", "--to", "+4912345", "--text", "x", "--delivery", "--timeout", "3"});
  EXPECT_EQ(undelivered.status, 4);
  EXPECT_EQ(undelivered.err, "qmctl: Timeout\n");
}

TEST_F(QmctlOnEmulator, BulkSendQueuesOneMessagePerLineAndWaitsForAll) {
  const std::string list =
      "\xEF\xBB\xBFnumber;text\r\n"
      "+4911111;\"first, \"\"quoted\"\"\"\r\n"
      "# a comment\r\n"
      "\r\n"
      "+49 22222\r\n"
      "+4933333\ttext, with a comma\r\n";
  const Result bulk = RunQmctl({"send", "--file", "-", "--text", "default text", "--wait"}, list);
  EXPECT_EQ(bulk.status, 0) << bulk.err;
  EXPECT_EQ(bulk.out, "3 sent\n");
  const std::string rows = ReadFile(box_.UserFile("sent.txt"));
  for (const char* text :
       {"\t+4911111\t", "first, %22quoted%22", "\t+49 22222\t", "default text", "\t+4933333\t", "text, with a comma"}) {
    EXPECT_NE(rows.find(text), std::string::npos) << text << "\n" << rows;
  }
}

// A driver of another instance is reached by its number only, and a watch
// ends with exit 3 once that driver stops.
TEST(QmctlOnInstance, FindsTheNumberedDriverAndWatchEndsWhenItLeaves) {
  test::PrivateBus bus;
  test::DriverSandbox box(std::map<std::string, std::string>{{"status.time", "1"}});
  test::DriverProcess driver(box, {"-noicon", "/inst3"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.3.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.3.log"));
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.3.log"), "Automation server on the session bus"));

  const Result status = RunQmctl({"status", "--instance=3", "--json"});
  EXPECT_EQ(status.status, 0) << status.err;
  const auto state = JsonLines(status.out);
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(state[0]["bus"], "org.quillmoor.GSM.Instance3");
  EXPECT_EQ(state[0]["pid"], driver.pid());
  EXPECT_EQ(RunQmctl({"status"}).status, 3);

  Qmctl watch({"--instance", "3", "watch"});
  ASSERT_TRUE(test::WaitForFileContaining(watch.ErrFile(), "Watching org.quillmoor.GSM.Instance3", 20s))
      << watch.Err();
  ASSERT_TRUE(test::WaitForFileContaining(watch.OutFile(), "connection ready\n", 20s)) << watch.Out();
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  EXPECT_EQ(watch.Wait(10s), 3) << watch.Err();
  EXPECT_NE(watch.Err().find("qmctl: no driver is running on the session bus (nobody owns "
                             "org.quillmoor.GSM.Instance3)\n"),
            std::string::npos)
      << watch.Err();
}

// The modem's memory on a scripted modem that holds two messages.
TEST(QmctlOnModem, MemoryListsRemovesAndClearsTheStoredMessages) {
  test::PrivateBus bus;
  test::FakeModem modem;
  test::SimulatedModem& sim = modem.Simulate();
  sim.Store("SM", 3, test::DeliverPdu("+4917011111", "first"), 1);
  sim.Store("SM", 7, test::DeliverPdu("+4917022222", "zweite \xC3\xBC", true), 1);
  test::DriverSandbox box({{"modem.emulation", "0"}, {"modem.port", modem.SlavePath()}, {"status.time", "1"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.log"));
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"));

  const Result read = RunQmctl({"memory", "read", "--json"});
  EXPECT_EQ(read.status, 0) << read.err;
  const auto items = JsonLines(read.out);
  ASSERT_EQ(items.size(), 2u) << read.out;
  EXPECT_EQ(items[0]["index"], 0);
  EXPECT_EQ(items[0]["from"], "4917011111");
  EXPECT_EQ(items[0]["body"], "first");
  EXPECT_EQ(items[1]["index"], 1);
  EXPECT_EQ(items[1]["body"], "zweite \xC3\xBC");

  const Result removed = RunQmctl({"memory", "remove", "1"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_TRUE(modem.WaitForReceived("AT+CMGD=7\r\n")) << modem.Received();
  EXPECT_EQ(sim.StoredIndexes("SM"), std::vector<int>{3});
  // An index the listing does not have is refused as invalid: wrong usage.
  const Result beyond = RunQmctl({"memory", "remove", "2"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_EQ(beyond.err, "qmctl: Invalid value\n");
  EXPECT_EQ(RunQmctl({"memory", "clear"}).status, 0);
  EXPECT_TRUE(modem.WaitForReceived("AT+CMGD=1,4\r\n")) << modem.Received();
  EXPECT_TRUE(sim.StoredIndexes("SM").empty());

  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

// Settings by their configuration names: in the key store while the driver
// is stopped, through the driver (which saves them) while it runs.
TEST(QmctlConfig, ChangesStoredSettingsWhenStoppedAndTheDriversWhenRunning) {
  test::PrivateBus bus;
  test::DriverSandbox box{{{"status.time", "1"}}};
  test::ScopedEnv home("HOME", box.Home());
  test::ScopedEnv config("XDG_CONFIG_HOME", box.Home() + "/config");
  const auto runDriver = [&box](const std::function<void()>& whileRunning) {
    std::remove(box.UserFile("qmdriver.log").c_str());
    test::DriverProcess driver(box, {"-noicon"});
    ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"));
    whileRunning();
    driver.Signal(SIGTERM);
    EXPECT_EQ(driver.WaitExit(20s), 0);
  };
  runDriver([] {});  // the first start fills the key store

  EXPECT_EQ(RunQmctl({"config", "set", "sender.timeout", "7000"}).out, "7000\n");
  const Result stoppedBad = RunQmctl({"config", "set", "handler.0.cmd", "a\nb"});
  EXPECT_EQ(stoppedBad.status, 2);
  EXPECT_EQ(stoppedBad.err, "qmctl: a value is one line of text\n");
  EXPECT_EQ(RunQmctl({"config", "get", "Timeout"}).status, 3);  // a property needs the driver

  runDriver([] {
    EXPECT_EQ(RunQmctl({"config", "get", "Timeout"}).out, "7\n");
    EXPECT_EQ(RunQmctl({"config", "get", "sender.timeout", "--json"}).out, "{\"sender.timeout\":\"7000\"}\n");
    EXPECT_EQ(RunQmctl({"config", "set", "sender.delete_after", "3"}).out, "3\n");
    EXPECT_EQ(RunQmctl({"config", "get", "DeleteAfter"}).out, "3\n");
    const Result list = RunQmctl({"config", "list"});
    EXPECT_NE(list.out.find("\nmodem.port=Emulator\n"), std::string::npos) << list.out;
    const Result bad = RunQmctl({"config", "set", "bad key", "1"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "qmctl: a setting's name holds only letters, digits, '.', '_' and '-'\n");
    EXPECT_EQ(RunQmctl({"config", "get", "no.such.key"}).status, 2);
  });
  // What the running driver saved is what a stopped one will start with.
  EXPECT_EQ(RunQmctl({"config", "get", "sender.delete_after"}).out, "3\n");
  EXPECT_EQ(RunQmctl({"config", "port", "ttyUSB3"}).out, "ttyUSB3\n");
  EXPECT_EQ(RunQmctl({"config", "get", "modem.emulation"}).out, "0\n");
}

}  // namespace
}  // namespace qm
