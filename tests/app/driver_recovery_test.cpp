// A modem that misbehaves, met by qmdriver as a real process: it hangs, is
// unplugged and comes back, talks garbage, mixes news into its replies,
// refuses submissions and leaves the link busy. Each case checks what ended
// up in the tables and what the modem was really asked to send.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
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

constexpr std::size_t kOutgoingContent = 5;  // outbox, sent and failed
constexpr std::size_t kInboxContent = 4;
using Settings = std::map<std::string, std::string>;

// A modem behind a stable link and a driver set up to notice trouble quickly.
class Rig {
 public:
  explicit Rig(Settings settings = {},
               test::ModemProfile profile = test::ModemProfile::UsbStick())
      : link_(ports_.File("ttyUSB-modem")), modem_(link_) {
    modem_.Simulate(std::move(profile));
    std::map<std::string, std::string> all = {{"modem.emulation", "0"},
                                              {"modem.port", link_},
                                              {"status.time", "1"},
                                              {"sender.delay", "0"},
                                              {"modem.reconnect.time", "1"},
                                              {"sender.timeout", "2000"},
                                              {"sender.timeout.connect", "3000"},
                                              {"sources.0.type", "file"},
                                              {"sources.0.name", "spool"},
                                              {"sources.0.period", "1"},
                                              {"sources.0.location", ports_.File("spool.xml")}};
    for (auto& [key, value] : settings) all[key] = value;
    box_ = std::make_unique<DriverSandbox>(all);
    std::filesystem::create_directories(box_->UserFile(""));
    test::WriteFile(ports_.File("spool.xml"), "");
  }

  test::FakeModem& Modem() { return modem_; }
  test::SimulatedModem& Sim() { return modem_.Sim(); }
  const DriverSandbox& Box() const { return *box_; }
  std::string Log() const { return ReadFile(box_->UserFile("qmdriver.log")); }
  std::vector<test::TableRow> Rows(const std::string& table) const {
    return test::ReadTableRows(box_->UserFile(table + ".txt"));
  }

  void QueueBeforeStart(const std::vector<std::string>& texts, const std::string& to = "+4917012345") {
    std::string rows;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      rows += test::OutboxRow(static_cast<int>(i) + 2, to, texts[i], 500 + static_cast<int>(i));
    }
    test::WriteFile(box_->UserFile("outbox.txt"), rows);
  }
  // Hands messages to the running driver through its spool file.
  void Spool(const std::vector<std::pair<std::string, std::string>>& messages) {
    test::ReplaceFile(ports_.File("spool.xml"), test::MessageDocument(messages));
  }

  void Start() { driver_ = std::make_unique<DriverProcess>(*box_, std::vector<std::string>{"-noicon"}); }
  bool WaitReady(std::chrono::milliseconds limit = 30s) {
    return WaitForFileContaining(box_->UserFile("qmdriver.status"), "state:ready", limit);
  }
  bool WaitStatus(const std::string& text, std::chrono::milliseconds limit = 60s) {
    return WaitForFileContaining(box_->UserFile("qmdriver.status"), text, limit);
  }
  bool WaitTable(const std::string& table, const std::string& text, std::chrono::milliseconds limit = 60s) {
    return WaitForFileContaining(box_->UserFile(table + ".txt"), text, limit);
  }
  void Stop() {
    driver_->Signal(SIGTERM);
    EXPECT_EQ(driver_->WaitExit(20s), 0);
  }

  // How often the modem accepted a submission with this text.
  int Submitted(const std::string& text) {
    int n = 0;
    for (const test::Submission& s : Sim().Submissions()) n += s.text == text ? 1 : 0;
    return n;
  }

 private:
  test::TempDir ports_;
  std::string link_;
  test::FakeModem modem_;
  std::unique_ptr<DriverSandbox> box_;
  std::unique_ptr<DriverProcess> driver_;
};

// Each dialect, as the driver meets it from the first command: a long
// message goes out in its parts, a received one lands in the inbox, and a
// USSD request is answered or, without USSD, failed at once.
struct Dialect {
  const char* name;
  test::ModemProfile profile;
  Settings settings;
};

TEST(DriverRecovery, EveryDialectSendsReceivesAndAnswersUssd) {
  test::ModemProfile locked = test::ModemProfile::UsbStick();
  locked.pin = "2468";
  const Dialect dialects[] = {
      {"stick", test::ModemProfile::UsbStick(), {}},
      {"budget stick", test::ModemProfile::BudgetStick(), {}},
      {"phone", test::ModemProfile::Phone(), {}},
      {"text mode", test::ModemProfile::UsbStick(), {{"sender.send_mode", "1"}, {"modem.use_features", "0"}}},
      {"sent from memory", test::ModemProfile::UsbStick(), {{"sender.use_memory", "1"}}},
      {"PIN", locked, {{"modem.use_pin", "1"}, {"modem.pin", "2468"}}},
  };
  const std::string longText(200, 'x');
  for (const Dialect& dialect : dialects) {
    SCOPED_TRACE(dialect.name);
    Rig rig(dialect.settings, dialect.profile);
    std::filesystem::create_directories(rig.Box().UserFile(""));
    test::WriteFile(rig.Box().UserFile("outbox.txt"),
                    test::OutboxRow(2, "+4917012345", "short one", 600) + test::OutboxRow(3, "+4917012345", longText, 601) +
                        "00000004\t1700000000\t\tussd\t1\t*100#\t\t0\t0\t602\t0\t\t0\t\r\n");
    rig.Sim().Deliver(test::DeliverPdu("+4915177777", "waiting in the SIM"));  // before the driver listens
    rig.Start();
    ASSERT_TRUE(rig.WaitTable("inbox", "waiting in the SIM")) << rig.Log();
    rig.Sim().Deliver(test::DeliverPdu("+4915177777", "announced"));
    ASSERT_TRUE(rig.WaitTable("inbox", "announced")) << rig.Log();
    ASSERT_TRUE(rig.WaitStatus("outbox:0")) << rig.Log();
    ASSERT_TRUE(rig.WaitTable(dialect.profile.ussd ? "sent" : "failed", "*100#")) << rig.Log();
    rig.Stop();

    EXPECT_EQ(test::CountByColumn(rig.Rows("sent"), kOutgoingContent)["short one"], 1);
    EXPECT_EQ(test::CountByColumn(rig.Rows("sent"), kOutgoingContent)[longText], 1);
    int parts = 0;
    for (const test::Submission& s : rig.Sim().Submissions()) {
      parts += s.destination == "+4917012345" ? 1 : 0;
      EXPECT_EQ(s.fromMemory, dialect.settings.count("sender.use_memory") != 0);
    }
    EXPECT_EQ(parts, 3);  // the long text in two parts (as a PDU in text mode, which cannot join parts)
    EXPECT_EQ(test::CountByColumn(rig.Rows("inbox"), kInboxContent)["waiting in the SIM"], 1);
    EXPECT_EQ(rig.Sim().StoredCount(), 0);  // what was read or sent from memory is deleted
    if (dialect.profile.ussd) {
      EXPECT_NE(rig.Log().find("Got reply to USSD command"), std::string::npos);
    }
  }
}

// A SIM that refuses the configured PIN: the user is told once, and what
// cannot be sent is filed as failed with the modem's reason, not lost.
TEST(DriverRecovery, ARejectedPinIsReportedAndTheMessageIsFiledAsFailed) {
  test::ModemProfile locked = test::ModemProfile::UsbStick();
  locked.pin = "2468";
  Rig rig(Settings{{"modem.use_pin", "1"}, {"modem.pin", "1111"}}, locked);
  rig.QueueBeforeStart({"behind a locked SIM"});
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("failed", "behind a locked SIM")) << rig.Log();
  rig.Stop();
  const std::string log = rig.Log();
  // Before AT+CMEE=1 the modem only says ERROR.
  EXPECT_EQ(Occurrences(log, "While entering PIN code: ERROR"), 1) << log;
  EXPECT_NE(log.find("Failed to send SMS to +4917012345: SIM PIN required"), std::string::npos) << log;
  EXPECT_EQ(log.find("1111"), std::string::npos);  // the PIN never reaches the log
  EXPECT_TRUE(rig.Sim().Submissions().empty());
}

// The modem takes the command but neither prompts nor answers for a while:
// the attempt times out, is retried, and goes out once it answers again.
TEST(DriverRecovery, AModemHangingInASubmissionIsRetriedUntilItAnswers) {
  Rig rig(Settings{{"sender.timeout", "1500"}});
  rig.QueueBeforeStart({"through the hang", "behind it"});
  rig.Sim().HangOn("AT+CMGS=", 2s);
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("sent", "behind it")) << rig.Log();
  ASSERT_TRUE(rig.WaitStatus("outbox:0"));
  rig.Stop();

  const auto sent = test::CountByColumn(rig.Rows("sent"), kOutgoingContent);
  EXPECT_EQ(sent.at("through the hang"), 1);
  EXPECT_EQ(sent.at("behind it"), 1);
  EXPECT_TRUE(rig.Rows("failed").empty());
  EXPECT_TRUE(rig.Rows("outbox").empty());
  EXPECT_EQ(rig.Submitted("through the hang"), 1);
  EXPECT_EQ(rig.Submitted("behind it"), 1);
  EXPECT_NE(rig.Log().find("Serial port: timeout"), std::string::npos) << rig.Log();
}

// The stick vanishes from the bus while messages wait and one arrives; it
// comes back at the same path. The reconnect timer brings the link back,
// the queue drains with nothing sent twice, and the message the SIM took
// while nobody listened is read.
TEST(DriverRecovery, UnpluggedAndReplugged_QueuedMessagesGoOutOnceAndNothingIsMissed) {
  Rig rig;
  rig.QueueBeforeStart({"before the outage"});
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("sent", "before the outage")) << rig.Log();

  rig.Modem().Unplug();
  ASSERT_TRUE(rig.WaitStatus("state:error", 20s)) << rig.Log();
  rig.Spool({{"+4917011111", "queued one"}, {"+4917022222", "queued two"}, {"+4917033333", "queued three"}});
  rig.Sim().Deliver(test::DeliverPdu("+4915199999", "sent while unplugged"));
  ASSERT_TRUE(rig.WaitStatus("outbox:3", 20s)) << rig.Log();
  std::this_thread::sleep_for(2s);  // several reconnection attempts fail meanwhile
  rig.Modem().Replug();

  ASSERT_TRUE(rig.WaitTable("inbox", "sent while unplugged")) << rig.Log();
  ASSERT_TRUE(rig.WaitStatus("state:ready; outbox:0")) << rig.Log();
  rig.Stop();

  for (const char* text : {"before the outage", "queued one", "queued two", "queued three"}) {
    EXPECT_EQ(rig.Submitted(text), 1) << text;
    EXPECT_EQ(test::CountByColumn(rig.Rows("sent"), kOutgoingContent)[text], 1) << text;
  }
  EXPECT_TRUE(rig.Rows("failed").empty());
  EXPECT_EQ(test::CountByColumn(rig.Rows("inbox"), kInboxContent)["sent while unplugged"], 1);
  EXPECT_EQ(rig.Sim().StoredCount(), 0);  // read and deleted
  const std::string log = rig.Log();
  EXPECT_EQ(Occurrences(log, "Connection lost, trying to reconnect the modem"), 1) << log;
  EXPECT_NE(log.find("The modem is back"), std::string::npos);
}

// Line noise and binary garbage before replies and between them, and
// replies cut into small pieces: ignored, and nothing is lost either way.
TEST(DriverRecovery, GarbageAndSplitRepliesLoseNothing) {
  Rig rig;
  std::vector<std::string> texts;
  for (int i = 0; i < 8; ++i) texts.push_back("noisy " + std::to_string(i));
  rig.QueueBeforeStart(texts);
  rig.Sim().SetNoise(40, 7);
  rig.Modem().SetSplitWrites(true);
  rig.Start();
  ASSERT_TRUE(rig.WaitReady()) << rig.Log();
  for (int i = 0; i < 4; ++i) {
    rig.Modem().Send(std::string("\r\n\xFF\xFE~garbage~\x01\r\n", 15));
    rig.Sim().Deliver(test::DeliverPdu("+4915100000", "incoming " + std::to_string(i)));
    std::this_thread::sleep_for(300ms);
  }
  ASSERT_TRUE(rig.WaitStatus("outbox:0")) << rig.Log();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(rig.WaitTable("inbox", "incoming " + std::to_string(i))) << rig.Log();
  rig.Stop();

  const auto sent = test::CountByColumn(rig.Rows("sent"), kOutgoingContent);
  for (const std::string& text : texts) {
    EXPECT_EQ(rig.Submitted(text), 1) << text;
    EXPECT_EQ(sent.count(text) ? sent.at(text) : 0, 1) << text;
  }
  EXPECT_TRUE(rig.Rows("failed").empty());
  const auto inbox = test::CountByColumn(rig.Rows("inbox"), kInboxContent);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(inbox.at("incoming " + std::to_string(i)), 1);
}

// A new message announced between "+CMGS:" and "OK", and a status report
// right behind the OK in the same write: both reach their tables.
TEST(DriverRecovery, NewsInsideAReplyIsStillTakenIn) {
  Rig rig;
  rig.Sim().SendStatusReports(true);
  std::filesystem::create_directories(rig.Box().UserFile(""));
  test::WriteFile(rig.Box().UserFile("outbox.txt"),
                  "00000002\t1700000000\t+4917012345\tsms\t1\treport please\t\t1\t4\t555\t0\t\t0\t\r\n");
  // Delivered while the driver is submitting: the modem says so mid-reply.
  rig.Sim().Deliver(test::DeliverPdu("+4915188888", "inside a reply"), test::Timing::kInsideSubmission);
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("inbox", "inside a reply")) << rig.Log();
  // flags: report asked for (4), delivered (16)
  ASSERT_TRUE(rig.WaitTable("sent", "\t1\t20\t555\t")) << ReadFile(rig.Box().UserFile("sent.txt")) << rig.Log();
  rig.Stop();
  EXPECT_EQ(test::CountByColumn(rig.Rows("inbox"), kInboxContent)["inside a reply"], 1);
  EXPECT_EQ(rig.Submitted("report please"), 1);
}

// The network refuses every attempt of one message: retried as configured,
// then failed, with the balloon and the row; the next message goes out.
// The network refuses every attempt of one message: retried as configured,
// then failed, with the balloon and the row; the next message goes out.
TEST(DriverRecovery, ARunOfRefusalsEndsInTheFailedTableAndTheQueueMovesOn) {
  Rig rig(Settings{{"sender.retries", "3"}});
  rig.QueueBeforeStart({"refused"});
  rig.Sim().FailSubmissions(4, 38);  // the first attempt and three retries
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("failed", "refused")) << rig.Log();
  rig.Spool({{"+4917012345", "accepted"}});
  ASSERT_TRUE(rig.WaitTable("sent", "accepted")) << rig.Log();
  rig.Stop();

  EXPECT_EQ(test::CountByColumn(rig.Rows("failed"), kOutgoingContent)["refused"], 1);
  EXPECT_EQ(test::CountByColumn(rig.Rows("sent"), kOutgoingContent)["accepted"], 1);
  EXPECT_TRUE(rig.Rows("outbox").empty());
  EXPECT_EQ(rig.Submitted("refused"), 0);
  EXPECT_EQ(rig.Submitted("accepted"), 1);
  EXPECT_EQ(Occurrences(rig.Modem().Received(), "AT+CMGS="), 5);
  const std::string log = rig.Log();
  EXPECT_EQ(Occurrences(log, "Message 500 not sent: Network out of order"), 4) << log;
  EXPECT_NE(log.find("Balloon: Error sending SMS!: Failed to send SMS to +4917012345: Network out of order"),
            std::string::npos)
      << log;
}

// The modem swallows a message and goes quiet while the driver waits for the
// network's answer: the busy link is reset after its limit, so the queue
// does not wait for the stuck submission; it is retried once it times out.
TEST(DriverRecovery, ABusyLinkStuckOnASubmissionIsResetAndNothingIsLost) {
  Rig rig(Settings{{"sender.timeout", "600"}, {"sender.timeout.submit", "8000"}});
  rig.QueueBeforeStart({"swallowed", "next in line"});
  rig.Sim().HangOn("00", 6s);  // the PDU of the first submission
  rig.Start();
  ASSERT_TRUE(rig.WaitTable("sent", "swallowed", 90s)) << rig.Log();
  ASSERT_TRUE(rig.WaitTable("sent", "next in line"));
  rig.Stop();

  const std::string log = rig.Log();
  EXPECT_NE(log.find("Status BUSY for a long time, resetting"), std::string::npos) << log;
  EXPECT_EQ(rig.Submitted("swallowed"), 1);
  EXPECT_EQ(rig.Submitted("next in line"), 1);
  EXPECT_TRUE(rig.Rows("failed").empty());
  EXPECT_TRUE(rig.Rows("outbox").empty());
}

}  // namespace
}  // namespace qm
