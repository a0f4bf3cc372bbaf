// qmdriver run as a user runs it: a child process in a private home, on the
// built-in emulator or on a scripted modem behind a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/received_pdus.h"
#include "tests/support/table_file.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::DriverProcess;
using test::DriverSandbox;
using test::Occurrences;
using test::ReadFile;
using test::WaitForFileContaining;

const std::map<std::string, std::string> kQuickStatus = {{"status.time", "1"}};

std::string KeyStoreFile(const DriverSandbox& box, const std::string& suffix = "") {
  return box.Home() + "/config/quillmoor/registry/Software/Quillmoor SMS/Quillmoor GSM Driver" + suffix + ".reg";
}

TEST(DriverEndToEnd, EmulatorReachesReadyAndStopsCleanlyOnSigterm) {
  DriverSandbox box({{"status.time", "1"}, {"modem.use_pin", "1"}, {"modem.pin", "4711"}});
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.log"));
  const std::string status = ReadFile(box.UserFile("qmdriver.status"));
  EXPECT_NE(status.find("; instance: 0; port: Emulator; state:ready; outbox:0; errors:0"), std::string::npos) << status;

  // A second copy of the same instance ends at once, silently.
  DriverProcess second(box, {"-noicon"});
  EXPECT_EQ(second.WaitExit(10s), 0);

  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  const std::string log = ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_NE(log.find("Modem ready: model 'Emulator', signal 93%"), std::string::npos);
  EXPECT_NE(log.find("Sent: AT+CNMI=2,1,0,1,0"), std::string::npos);
  EXPECT_NE(log.find("Sent: AT+CPIN=****"), std::string::npos);
  EXPECT_EQ(log.find("4711"), std::string::npos);  // the PIN never reaches the log
  EXPECT_NE(log.find("Stopped"), std::string::npos);
  // The configuration was saved into the key store at exit, with the table
  // columns written at start and the read mode the probes chose.
  const std::string store = ReadFile(KeyStoreFile(box));
  EXPECT_NE(store.find("inbox.columns.10=destination\n"), std::string::npos);
  EXPECT_NE(store.find("message.id=0\n"), std::string::npos);
  EXPECT_NE(store.find("sender.read_mode=0\n"), std::string::npos);
  EXPECT_TRUE(test::FileExists(box.UserFile("inbox.txt")));
  // The tables, the log and the status file are the user's alone.
  for (const char* name : {"inbox.txt", "qmdriver.log", "qmdriver.status"}) {
    struct stat st {};
    ASSERT_EQ(::stat(box.UserFile(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST(DriverEndToEnd, OutboxRowsFromBeforeTheStartAreSentOnTheEmulator) {
  DriverSandbox box({{"status.time", "1"}, {"sender.delay", "0"}});
  std::filesystem::create_directories(box.UserFile(""));
  // Left by an earlier run: two messages, the second one an emulator request
  // to send a message back.
  test::WriteFile(box.UserFile("outbox.txt"),
                  "00000002\t1700000000\t+4912345\tsms\t1\tfirst%0Aline\t\t1\t0\t77\t0\tme\t0\t\r\n"
                  "00000003\t1700000001\t+4912345\tsms\t1\tSEND 4915112345 hello\t\t1\t0\t78\t0\t\t0\t\r\n");
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("sent.txt"), "\t78\t")) << ReadFile(box.UserFile("qmdriver.log"));
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("inbox.txt"), "hello"));
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "outbox:0"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  // Sent oldest first, with the references the emulator gave, and gone from the outbox.
  const std::string sent = ReadFile(box.UserFile("sent.txt"));
  const auto first = sent.find("first%0Aline");
  const auto second = sent.find("SEND 4915112345 hello");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(sent.find("\t77\t1\tme\t"), std::string::npos) << sent;  // uniqueid, refid, source
  EXPECT_NE(sent.find("\t78\t2\t"), std::string::npos) << sent;
  EXPECT_EQ(ReadFile(box.UserFile("outbox.txt")), "");
  EXPECT_NE(ReadFile(box.UserFile("inbox.txt")).find("\t4915112345\tsms\thello\t"), std::string::npos);
}

// Handlers as a user configures them: a command for every received message
// and one for every sent message, both logged and waited for, with texts a
// stranger could send (backquotes are not in the GSM alphabet; the real-process
// handler tests cover them).
TEST(DriverEndToEnd, ReceiveAndSendHandlersRunWithTheMessagesValues) {
  test::TempDir work;
  DriverSandbox box({{"status.time", "1"},
                     {"sender.delay", "0"},
                     {"handler.0.type", "cmdline"},
                     {"handler.0.name", "inbound"},
                     {"handler.0.event", "0"},
                     {"handler.0.log", "1"},
                     {"handler.0.path", work.path()},
                     {"handler.0.cmd", "printf '%s|%s|%s\\n' _FROM_ _BODY_ _STATUS_ >> received.txt"},
                     {"handler.1.type", "cmdline"},
                     {"handler.1.name", "outbound"},
                     {"handler.1.event", "1"},
                     {"handler.1.log", "1"},
                     {"handler.1.path", work.path()},
                     {"handler.1.cmd", "printf '%s|%s|%s|%s\\n' \"_TO_\" \"_BODY_\" _STATUS_ _INTERNALID_ >> sent.txt"},
                     {"inbox.discard_handled", "0"}});
  std::filesystem::create_directories(box.UserFile(""));
  test::WriteFile(box.UserFile("outbox.txt"),
                  "00000002\t1700000000\t+4912345\tsms\t1\tSEND 4915112345 "
                  "$(touch${IFS}pwned);\"y\"|'x'\t\t1\t0\t78\t0\t\t0\t\r\n");
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(work.File("sent.txt"), "\n")) << ReadFile(box.UserFile("qmdriver.log"));
  ASSERT_TRUE(WaitForFileContaining(work.File("received.txt"), "\n")) << ReadFile(box.UserFile("qmdriver.log"));
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("inbox.txt"), "pwned"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  EXPECT_EQ(ReadFile(work.File("sent.txt")), "+4912345|SEND 4915112345 $(touch${IFS}pwned);\"y\"|''x''|sent|78\n");
  EXPECT_EQ(ReadFile(work.File("received.txt")), "4915112345|$(touch${IFS}pwned);\"y\"|''x''|_STATUS_\n");
  // The text reaches the script as data; its quotes are doubled as handler scripts expect.
  EXPECT_FALSE(test::FileExists(work.File("pwned")));
  // Handled, and kept all the same (the table escapes its quotes).
  EXPECT_NE(ReadFile(box.UserFile("inbox.txt")).find("\tsms\t$(touch${IFS}pwned);%22y%22|'x'\t\t1\t"),
            std::string::npos)
      << ReadFile(box.UserFile("inbox.txt"));
  const std::string log = ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_NE(log.find("Handler output: "), std::string::npos) << log;
  EXPECT_EQ(log.find("Handler failed"), std::string::npos) << log;
}

// The emulator's answer to a read puts the PDU after "OK"; the read must
// time out rather than hold up every later message.
TEST(DriverEndToEnd, AnUnansweredReadOnTheEmulatorTimesOutAndSendingGoesOn) {
  DriverSandbox box({{"status.time", "1"}, {"sender.delay", "0"}, {"sender.timeout", "2000"}});
  std::filesystem::create_directories(box.UserFile(""));
  test::WriteFile(box.UserFile("outbox.txt"),
                  "00000002\t1700000000\t\tussd\t1\t*100#\t\t0\t0\t80\t0\t\t0\t\r\n"
                  "00000004\t1700000001\t+4912345\tsms\t1\tafter the balance\t\t1\t0\t81\t0\t\t0\t\r\n");
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.log"), "Got reply to USSD command"));
  EXPECT_TRUE(WaitForFileContaining(box.UserFile("sent.txt"), "after the balance", 60s))
      << ReadFile(box.UserFile("qmdriver.log"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

// A spool file polled every second: a document dropped into it is sent, and
// a later one reports a sent message to the handlers again.
TEST(DriverEndToEnd, FileSourceDocumentsAreSentAndReportedAgain) {
  test::TempDir work;
  const std::string spool = work.File("spool.xml");
  test::WriteFile(spool, "");
  DriverSandbox box({{"status.time", "1"},
                     {"sender.delay", "0"},
                     {"sources.0.type", "file"},
                     {"sources.0.name", "spool"},
                     {"sources.0.period", "1"},
                     {"sources.0.location", spool},
                     {"handler.0.type", "cmdline"},
                     {"handler.0.name", "outcomes"},
                     {"handler.0.event", "1"},
                     {"handler.0.log", "1"},
                     {"handler.0.path", work.path()},
                     {"handler.0.cmd", "echo _CUSTOM_ _STATUS_ >> outcomes.txt"}});
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"));
  const std::string longText(200, 'a');
  test::WriteFile(spool,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<messages>\n"
                  "  <message msisdn=\"+4917011111\" custom=\"long\">" +
                      longText +
                      "</message>\n"
                      "  <message msisdn=\"+4917022222\" "
                      "custom=\"ucs2\">\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82</message>\n"
                      "  <message msisdn=\"+4917033333\" flash=\"1\" custom=\"flash\">now</message>\n</messages>\n");
  ASSERT_TRUE(WaitForFileContaining(work.File("outcomes.txt"), "flash sent")) << ReadFile(box.UserFile("qmdriver.log"));
  ASSERT_TRUE(WaitForFileContaining(work.File("outcomes.txt"), "ucs2 sent"));
  ASSERT_TRUE(WaitForFileContaining(work.File("outcomes.txt"), "long sent"));
  EXPECT_EQ(ReadFile(spool), "");
  test::WriteFile(spool, "<handle custom=\"UCS2\"/>");
  const auto replayed = [&] {
    const std::string outcomes = ReadFile(work.File("outcomes.txt"));
    return outcomes.find("ucs2 sent") != outcomes.rfind("ucs2 sent");
  };
  for (int i = 0; i < 300 && !replayed(); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(replayed()) << ReadFile(work.File("outcomes.txt"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);

  const std::string sent = ReadFile(box.UserFile("sent.txt"));
  EXPECT_NE(sent.find("\t+4917011111\tsms\t2\t" + longText + "\t"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\t+4917022222\tsms\t1\t\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\t"), std::string::npos)
      << sent;
  EXPECT_NE(sent.find("\t+4917033333\tsms\t1\tnow\t\t1\t1\t"), std::string::npos) << sent;  // dstton 1, flags 1
  EXPECT_EQ(ReadFile(box.UserFile("outbox.txt")), "");
  EXPECT_NE(ReadFile(box.UserFile("qmdriver.log")).find("Source spool: msg 'now' to '+4917033333', url ''"),
            std::string::npos);
}

TEST(DriverEndToEnd, OneCopyPerDataWhateverTheModeOrEnvironment) {
  DriverSandbox box(kQuickStatus);
  {
    // The service and a session copy on the service's configuration share
    // their data: the second to come ends at once.
    DriverProcess service(box, {"-service"});
    const std::string status = box.Home() + "/service/Quillmoor SMS/qmdriver.status";
    ASSERT_TRUE(WaitForFileContaining(status, "state:ready"));
    DriverProcess session(box, {"-cfgservice", "-noicon"});
    EXPECT_EQ(session.WaitExit(10s), 0);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitExit(20s), 0);
  }
  {
    // A session copy with a runtime folder and one started without (cron, su).
    DriverProcess first(box, {"-noicon"});
    ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"));
    DriverProcess second(box, {"-noicon"}, {"XDG_RUNTIME_DIR"});
    EXPECT_EQ(second.WaitExit(10s), 0);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(20s), 0);
  }
  // The lock lies beside the data, private like it.
  struct stat st {};
  ASSERT_EQ(::stat((box.Home() + "/config/Quillmoor SMS").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(test::FileExists(box.UserFile("5d0c7e21-94ab-4c3f-8e62-a17b39f0c254.lock")));
}

TEST(DriverEndToEnd, SessionOnTheServicesConfigurationSaysWhenItsKeyStoreIsOutOfReach) {
  DriverSandbox box(kQuickStatus);
  ASSERT_EQ(::mkdir((box.Home() + "/service").c_str(), 0700), 0);
  test::WriteFile(box.Home() + "/service/registry", "not a folder");
  DriverProcess session(box, {"-cfgservice", "-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.Home() + "/service/Quillmoor SMS/qmdriver.status", "state:ready"));
  session.Signal(SIGTERM);
  EXPECT_EQ(session.WaitExit(20s), 0);
  EXPECT_NE(session.Stderr().find("Can't open system user key"), std::string::npos) << session.Stderr();
}

TEST(DriverEndToEnd, AnotherInstanceUsesItsOwnFilesBesideTheFirst) {
  DriverSandbox box(kQuickStatus);
  DriverProcess first(box, {"-noicon"});
  DriverProcess second(box, {"-noicon", "/inst2"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"));
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.2.status"), "instance: 2;"))
      << ReadFile(box.UserFile("qmdriver.2.log"));
  EXPECT_TRUE(test::FileExists(box.UserFile("inbox.2.txt")));
  EXPECT_TRUE(test::FileExists(box.UserFile("qmdriver.2.log")));
  first.Signal(SIGINT);
  second.Signal(SIGTERM);
  EXPECT_EQ(first.WaitExit(20s), 0);
  EXPECT_EQ(second.WaitExit(20s), 0);
  const std::string store = ReadFile(KeyStoreFile(box, " 2"));
  EXPECT_NE(store.find("inbox.filename=%appdata%/Quillmoor SMS/inbox.2.txt\n"), std::string::npos) << store;
  EXPECT_NE(store.find("status.file=%appdata%/Quillmoor SMS/qmdriver.2.status\n"), std::string::npos);
}

// Killed at any moment while messages go out, the driver loses none and
// files none twice: after every restart each message is in exactly one of
// outbox, sent and failed (for a moment in two, which the restart settles).
TEST(DriverEndToEnd, KilledAtRandomMomentsWhileSendingItLosesNothing) {
  constexpr int kMessages = 30;
  test::FakeModem modem;
  test::SimulatedModem& sim = modem.Simulate();
  DriverSandbox box({{"modem.emulation", "0"}, {"modem.port", modem.SlavePath()}, {"sender.delay", "0"},
                     {"status.time", "1"}});
  std::filesystem::create_directories(box.UserFile(""));
  std::string rows;
  for (int i = 0; i < kMessages; ++i) rows += test::OutboxRow(i + 2, "+4917012345", fmt::format("message {}", i), 1000 + i);
  test::WriteFile(box.UserFile("outbox.txt"), rows);

  // How often each message (by its id) is in each table, read from the files.
  const auto counts = [&] {
    std::map<std::string, int> seen;
    for (const char* table : {"outbox.txt", "sent.txt", "failed.txt"}) {
      for (const auto& [id, n] : test::CountByColumn(test::ReadTableRows(box.UserFile(table)), 9)) seen[id] += n;
    }
    return seen;
  };
  std::mt19937 random(20261208);
  int kills = 0;
  for (int round = 0; round < 6; ++round) {
    DriverProcess driver(box, {"-noicon"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 900));
    driver.Signal(SIGKILL);
    driver.WaitExit(10s);
    modem.ForgetExclusiveMode();
    ++kills;
    const auto seen = counts();
    for (int i = 0; i < kMessages; ++i) {
      const auto it = seen.find(std::to_string(1000 + i));
      ASSERT_NE(it, seen.end()) << "message " << 1000 + i << " lost after kill " << kills;
      ASSERT_LE(it->second, 2) << "message " << 1000 + i;
    }
  }
  // A last run to the end.
  std::filesystem::remove(box.UserFile("qmdriver.status"));
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready; outbox:0", 60s))
      << ReadFile(box.UserFile("qmdriver.log"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  const auto seen = counts();
  for (int i = 0; i < kMessages; ++i) {
    const auto it = seen.find(std::to_string(1000 + i));
    ASSERT_NE(it, seen.end());
    EXPECT_EQ(it->second, 1) << "message " << 1000 + i;
  }
  // At most the message being submitted at each kill went to the network twice.
  EXPECT_LE(static_cast<int>(sim.Submissions().size()), kMessages + kills);
  EXPECT_NE(ReadFile(box.UserFile("qmdriver.log")).find("Sending message 1000 to +4917012345"), std::string::npos);
}

// What a user sees of receiving: a long message announced part by part lands
// in the inbox as one text, and the report on a message the driver sent
// marks its row delivered; the modem's memory is emptied behind them.
TEST(DriverEndToEnd, AnnouncedLongMessageAndTheReportOnASentOneReachTheirTables) {
  test::FakeModem modem;
  test::SimulatedModem& sim = modem.Simulate();
  const std::string parts[] = {
      test::DeliverPdu("+4917077777", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, ", true,
                       test::PartOf{42, 3, 1}),
      test::DeliverPdu("+4917077777", "\xD0\xBC\xD0\xB8\xD1\x80 ", true, test::PartOf{42, 3, 2}),
      test::DeliverPdu("+4917077777", "\xF0\x9F\x98\x80", true, test::PartOf{42, 3, 3}),
  };
  DriverSandbox box(
      {{"modem.emulation", "0"}, {"modem.port", modem.SlavePath()}, {"status.time", "1"}, {"sender.delete_mode", "1"}});
  std::filesystem::create_directories(box.UserFile(""));
  test::WriteFile(box.UserFile("outbox.txt"),
                  "00000002\t1700000000\t+4917012345\tsms\t1\tplease report\t\t1\t4\t555\t0\t\t0\t\r\n");
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("sent.txt"), "\t555\t")) << ReadFile(box.UserFile("qmdriver.log"));

  // The last part first, as networks deliver them; the report without a
  // service-centre field, as some modems give it.
  for (int i : {2, 0, 1}) sim.Deliver(parts[i]);
  const std::string report = test::StatusReportPdu(sim.Submissions().at(0).reference, "+4917012345", 0, false);
  modem.Send("\r\n+CDS: " + std::to_string(report.size() / 2) + "\r\n" + report + "\r\n");

  ASSERT_TRUE(WaitForFileContaining(
      box.UserFile("inbox.txt"),
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80 \xF0\x9F\x98\x80"))
      << ReadFile(box.UserFile("qmdriver.log"));
  // flags: report asked for (4), delivered (16)
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("sent.txt"), "\t1\t20\t555\t1\t"))
      << ReadFile(box.UserFile("sent.txt")) << ReadFile(box.UserFile("qmdriver.log"));
  for (int i = 0; i < 100 && sim.StoredCount() > 0; ++i) std::this_thread::sleep_for(50ms);
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  EXPECT_EQ(sim.StoredCount(), 0);  // every part deleted once the message was stored
  EXPECT_NE(ReadFile(box.UserFile("qmdriver.log")).find("Balloon: Delivery report received: SMS sent to 4917012345 "
                                                        "was delivered successfully"),
            std::string::npos);
}

TEST(DriverEndToEnd, ScriptedModemOnAPseudoTerminal) {
  test::FakeModem modem;
  modem.Simulate();
  DriverSandbox box({{"status.time", "1"},
                     {"modem.emulation", "0"},
                     {"modem.port", modem.SlavePath()},
                     {"sender.timeout.connect", "3000"}});
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_TRUE(modem.WaitForReceived("AT+CMGF=0\r\n"));
  // Every probe was answered: no problem to report, so the plain balloon.
  const std::string log = ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_NE(log.find("Modem ready: model 'E3372', signal 51%"), std::string::npos) << log;
  EXPECT_NE(log.find("Balloon: Connected: Quillmoor GSM Modem Driver is connected to " + modem.SlavePath()),
            std::string::npos);
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

// A modem reached through a stable link, as /dev/serial/by-id gives it.
std::unique_ptr<test::FakeModem> PlugIn(const std::string& link) {
  auto modem = std::make_unique<test::FakeModem>(link);
  modem->Simulate();
  return modem;
}

std::map<std::string, std::string> ReconnectingModemAt(const std::string& link) {
  return {{"status.time", "1"}, {"modem.emulation", "0"}, {"modem.port", link}, {"modem.reconnect.time", "1"}};
}

TEST(DriverEndToEnd, ServiceComesBackByItselfWhenTheModemVanishesAndReturns) {
  test::TempDir ports;
  const std::string link = ports.File("ttyModem");
  auto modem = PlugIn(link);
  DriverSandbox box(ReconnectingModemAt(link));
  DriverProcess driver(box, {"-service"});
  const std::string home = box.Home() + "/service/Quillmoor SMS/";  // the service's own %appdata%
  ASSERT_TRUE(WaitForFileContaining(home + "qmdriver.status", "state:ready")) << ReadFile(home + "qmdriver.log");
  modem->Unplug();
  ASSERT_TRUE(WaitForFileContaining(home + "qmdriver.status", "state:error"));
  std::this_thread::sleep_for(3s);  // several tries fail meanwhile
  modem = PlugIn(link);
  EXPECT_TRUE(WaitForFileContaining(home + "qmdriver.status", "state:ready")) << ReadFile(home + "qmdriver.log");
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  const std::string log = ReadFile(home + "qmdriver.log");
  EXPECT_EQ(Occurrences(log, "Connection lost, trying to reconnect the modem"), 1) << log;  // once per outage
  EXPECT_EQ(Occurrences(log, "can't be opened"), 1) << log;
  EXPECT_NE(log.find("The modem is back"), std::string::npos);
}

TEST(DriverEndToEnd, AModemMissingAtStartOrLostDuringTheInitialisationIsWaitedFor) {
  test::TempDir ports;
  const std::string link = ports.File("ttyModem");
  DriverSandbox box(ReconnectingModemAt(link));
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.log"), "can't be opened"));
  // It comes, answers the first command only, and vanishes.
  auto modem = std::make_unique<test::FakeModem>(link);
  modem->OnCommand("ATE0\r\n", "\r\nOK\r\n");
  ASSERT_TRUE(modem->WaitForReceived("AT+CMEE=?\r\n", 20s)) << ReadFile(box.UserFile("qmdriver.log"));
  modem->Unplug();
  std::this_thread::sleep_for(2s);
  modem = PlugIn(link);
  EXPECT_TRUE(WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.log"));
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

TEST(DriverEndToEnd, ServiceUnitIsWrittenForTheInstanceAndRemovedAgain) {
  DriverSandbox box;
  DriverProcess install(box, {"-inst3", "-instservice"});
  ASSERT_EQ(install.WaitExit(20s), 0);
  const std::string unit = ReadFile(box.Home() + "/units/qmdriver_3.service");
  EXPECT_NE(unit.find("\" -service -inst3"), std::string::npos) << unit;
  EXPECT_NE(unit.find("WorkingDirectory=" + box.ProgramFolder()), std::string::npos) << unit;
  DriverProcess remove(box, {"-inst3", "-uninstservice"});
  ASSERT_EQ(remove.WaitExit(20s), 0);
  EXPECT_FALSE(test::FileExists(box.Home() + "/units/qmdriver_3.service"));
}

}  // namespace
}  // namespace qm
