// Receiving as it runs in the driver: the port on a pseudo-terminal, the
// sending worker, the reader of received messages and the command thread all
// running, against a scripted modem with a message memory of its own.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/gateway.h"
#include "gateway/service_thread.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "storage/text_escape.h"
#include "tests/support/fake_modem.h"
#include "tests/support/received_pdus.h"
#include "tests/support/sent_rows.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using test::DeliverPdu;
using test::PartOf;
using test::StatusReportPdu;
using test::TpduLength;

class Balloons final : public UserNotices {
 public:
  void ShowBalloon(std::string_view title, std::string_view text) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(std::string(title) + ": " + std::string(text));
  }
  void ShowLinkSituation(std::string_view) override {}
  Strings Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  Strings shown_;
};

// A modem with memories "SM", "ME" and "SR" that it reads, lists and deletes
// as a real one does, in PDU mode or (given whole entries) in text mode.
class MemoryModem {
 public:
  explicit MemoryModem(test::FakeModem& modem) : modem_(modem) {
    modem_.SetResponder([this](const std::string& line) { return Answer(line); });
  }
  // The modem's thread answers under its lock: once this returns, it never
  // calls us again.
  ~MemoryModem() { modem_.SetResponder({}); }
  MemoryModem(const MemoryModem&) = delete;
  MemoryModem& operator=(const MemoryModem&) = delete;
  // A PDU-mode entry: the header is made from the PDU.
  void StorePdu(const std::string& memory, int index, const std::string& pdu) {
    std::lock_guard lock(mutex_);
    memories_[memory][index] = Entry{"0,," + std::to_string(TpduLength(pdu)), pdu};
  }
  // A text-mode entry: what follows "+CMGR: " / "+CMGL: <index>," and the body.
  void StoreText(const std::string& memory, int index, std::string header, std::string body) {
    std::lock_guard lock(mutex_);
    memories_[memory][index] = Entry{std::move(header), std::move(body)};
  }
  bool Holds(const std::string& memory, int index) {
    std::lock_guard lock(mutex_);
    return memories_[memory].count(index) != 0;
  }
  // How an empty location is answered.
  void AnswerEmptyWith(std::string reply) {
    std::lock_guard lock(mutex_);
    emptyReply_ = std::move(reply);
  }
  // Said in the middle of the next listing.
  void SayDuringListing(std::string line) {
    std::lock_guard lock(mutex_);
    duringListing_ = std::move(line);
  }

 private:
  struct Entry {
    std::string header;
    std::string body;
  };

  std::optional<std::string> Answer(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (line.starts_with("AT+CPMS=\"")) {
      current_ = line.substr(9, line.find('"', 9) - 9);
    } else if (line.starts_with("AT+CMGR=")) {
      auto& memory = memories_[current_];
      auto entry = memory.find(std::stoi(line.substr(8)));
      if (entry == memory.end()) return emptyReply_;
      return "\r\n+CMGR: " + entry->second.header + "\r\n" + entry->second.body + "\r\n\r\nOK\r\n";
    } else if (line.starts_with("AT+CMGL=")) {
      std::string reply = "\r\n";
      for (const auto& [index, entry] : memories_[current_]) {
        reply += "+CMGL: " + std::to_string(index) + "," + entry.header + "\r\n" + entry.body + "\r\n";
        if (!duringListing_.empty()) reply += std::exchange(duringListing_, {}) + "\r\n";
      }
      return reply + "\r\nOK\r\n";
    } else if (line.starts_with("AT+CMGD=") && line.find(',') == std::string::npos) {
      memories_[current_].erase(std::stoi(line.substr(8)));
    } else if (!line.starts_with("AT")) {
      return std::nullopt;
    }
    return "\r\nOK\r\n";
  }

  test::FakeModem& modem_;
  std::mutex mutex_;
  std::map<std::string, std::map<int, Entry>> memories_;
  std::string current_ = "SM";
  std::string emptyReply_ = "\r\nOK\r\n";
  std::string duringListing_;
};

class ReceivingConcurrent : public ::testing::Test {
 protected:
  ReceivingConcurrent() {
    config_.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
    config_.SetString("modem.port", modem_.SlavePath());
    config_.SetInt("modem.emulation", 0);
    config_.SetInt("modem.checks", 0);
    config_.SetInt("receiver.polling_time", 0);
    config_.SetInt("sender.delete_mode", 1);
    config_.SetInt("discard_duplicated", 0);
    std::string error;
    EXPECT_TRUE(InitialiseTables(config_, 0, false, tables_, error)) << error;
    gateway_ = std::make_unique<Gateway>(
        GatewayContext{config_, log_, tables_, transport_, sender_, commands_, timers_, balloons_, counters_});
    commandThread_ = std::make_unique<CServiceThread>(commands_, *gateway_);
  }
  ~ReceivingConcurrent() override {
    sender_.SignalStop();
    commandThread_->Stop();
    sender_.Stop();
    transport_.KillReader();
    gateway_->StopReader();
  }

  void Connect() {
    gateway_->StartReader();
    transport_.StartReader();
    sender_.Start();
    commandThread_->Start();
    commands_.Push(DriverCommand(CMD_CONNECT));
    ASSERT_TRUE(Eventually([&] { return transport_.GetStatus() == LinkStatus::kReady; })) << Log();
  }
  static bool Eventually(const std::function<bool()>& condition) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      if (condition()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return condition();
  }
  // The texts in the inbox, oldest first.
  Strings Inbox() {
    Strings texts;
    for (const Row& row : tables_.inbox->SelectNotEqual(0, "", 0)) {
      texts.push_back(UnescapeFieldText(row[kInboxFromColumn], "\t") + ": " +
                      UnescapeFieldText(row[kInboxContentColumn], "\t"));
    }
    return texts;
  }
  bool InboxHas(std::size_t count) {
    return Eventually([&] { return tables_.inbox->SelectNotEqual(0, "", 0).size() >= count; });
  }
  std::size_t Times(const std::string& command) {
    const std::string all = modem_.Received();
    std::size_t count = 0;
    for (std::size_t at = all.find(command); at != std::string::npos; at = all.find(command, at + 1)) ++count;
    return count;
  }
  std::string SentRow(const std::string& to, int reference) { return test::FileSent(*tables_.sent, to, reference); }
  std::string SentFlags(const std::string& key) { return test::SentFlags(*tables_.sent, key); }
  // Waits until the modem has been silent for a moment: every answer read.
  void Settle() {
    for (std::size_t before = modem_.Received().size();;) {
      std::this_thread::sleep_for(300ms);
      const std::size_t now = modem_.Received().size();
      if (now == before && commands_.Empty()) return;
      before = now;
    }
  }
  std::string Log() { return test::ReadFile(dir_.File("driver.log")); }

  test::TempDir dir_;
  test::ScopedEnv home_{"XDG_CONFIG_HOME", dir_.path()};
  ConfigStore config_;
  Logger log_{dir_.File("driver.log"), &config_};
  TableSet tables_;
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  test::FakeModem modem_;
  MemoryModem memory_{modem_};
  AsyncSerialComm transport_{config_, log_};
  ModemSender sender_{transport_, sink_, log_};
  DriverTimers timers_;
  Balloons balloons_;
  DriverCounters counters_;
  std::unique_ptr<Gateway> gateway_;
  std::unique_ptr<CServiceThread> commandThread_;
};

TEST_F(ReceivingConcurrent, DeliveredAndAnnouncedMessagesInPduMode) {
  Connect();
  // Delivered directly: stored, nothing to delete; the same delivery again
  // (a modem waiting for its acknowledgement) is acknowledged, not stored.
  const std::string direct = DeliverPdu("+4917011111", "Direct hello");
  modem_.Send("\r\n+CMT: ," + std::to_string(TpduLength(direct)) + "\r\n" + direct + "\r\n");
  ASSERT_TRUE(InboxHas(1)) << Log();
  modem_.Send("\r\n+CMT: ," + std::to_string(TpduLength(direct)) + "\r\n" + direct + "\r\n");
  ASSERT_TRUE(modem_.WaitForReceived("AT+CNMA\r\n"));

  // Announced in the current memory, then in another one.
  memory_.StorePdu("SM", 3, DeliverPdu("+4917022222", "Stored hello"));
  memory_.StorePdu("ME", 1, DeliverPdu("+4917033333", "In the phone"));
  modem_.Send("\r\n+CMTI: \"SM\",3\r\n");
  ASSERT_TRUE(InboxHas(2)) << Log();
  modem_.Send("\r\n+CMTI: \"ME\",1\r\n");
  ASSERT_TRUE(InboxHas(3)) << Log();
  // Empty locations, answered by a bare OK or by an error, and an error line
  // out of nowhere: no message, no alarm, and reception goes on.
  modem_.Send("\r\n+CMTI: \"ME\",2\r\n");
  memory_.AnswerEmptyWith("\r\n+CMS ERROR: 321\r\n");
  modem_.Send("\r\n+CMTI: \"ME\",4\r\n\r\n+CMS ERROR: 500\r\n");
  memory_.StorePdu("ME", 5, DeliverPdu("+4917044444", "Still listening"));
  modem_.Send("\r\n+CMTI: \"ME\",5\r\n");
  ASSERT_TRUE(InboxHas(4)) << Log();
  Settle();

  EXPECT_EQ(Inbox(), (Strings{"4917011111: Direct hello", "4917022222: Stored hello", "4917033333: In the phone",
                              "4917044444: Still listening"}));
  const std::string said = modem_.Received();
  const std::size_t select = said.find("AT+CPMS=\"ME\"");
  ASSERT_NE(select, std::string::npos) << said;
  EXPECT_LT(said.find("AT+CMGD=3\r\n"), select);
  EXPECT_GT(said.find("AT+CMGR=1\r\n"), select);
  EXPECT_EQ(Times("AT+CMGD="), 3u) << said;  // 3, 1 and 5; never a direct delivery or an empty location
  EXPECT_FALSE(memory_.Holds("ME", 1) || memory_.Holds("ME", 5) || memory_.Holds("SM", 3));
  EXPECT_EQ(Times("AT+CNMA"), 1u);
  for (const std::string& balloon : balloons_.Shown()) EXPECT_FALSE(balloon.starts_with("Error")) << balloon;
}

TEST_F(ReceivingConcurrent, StatusReportsMarkTheirSentRowsWhereverTheModemPutsThem) {
  const std::string national = SentRow("+27829200000", 7);
  const std::string refused = SentRow("+4917012345", 8);
  const std::string misfiled = SentRow("+4917099999", 9);
  const std::string lengthWins = SentRow("+4917088888", 10);
  // The setting says reports come without a service-centre field; the
  // header's length tells each report's own layout all the same.
  config_.SetInt("cds_no_smsc_addr", 1);
  Connect();
  // The listing of what arrived before the connection is over before the
  // news below is stored.
  ASSERT_TRUE(Eventually([&] { return Times("AT+CMGL=0\r\n") >= 1; }));
  Settle();

  const std::string bare = StatusReportPdu(7, "0829200000", 0, false);
  modem_.Send("\r\n+CDS: " + std::to_string(bare.size() / 2) + "\r\n" + bare + "\r\n");
  const std::string full = StatusReportPdu(10, "+4917088888", 0, true);
  modem_.Send("\r\n+CDS: " + std::to_string(TpduLength(full)) + "\r\n" + full + "\r\n");
  memory_.StorePdu("SR", 5, StatusReportPdu(8, "+4917012345", 0x46));
  modem_.Send("\r\n+CDSI: \"SR\",5\r\n");
  // Announced in the message memory, stored among the reports; the message
  // that does sit there is taken but left in place.
  memory_.StorePdu("SM", 0, DeliverPdu("+4917055555", "Not a report"));
  memory_.StorePdu("SR", 0, StatusReportPdu(9, "+4917099999", 0x30 + 0x10));
  modem_.Send("\r\n+CDSI: \"SM\",0\r\n");

  ASSERT_TRUE(Eventually([&] { return SentFlags(misfiled) != "0"; })) << Log();
  Settle();
  EXPECT_EQ(SentFlags(national), "16");
  EXPECT_EQ(SentFlags(lengthWins), "16");
  EXPECT_EQ(SentFlags(refused), "32");
  EXPECT_EQ(SentFlags(misfiled), "32");
  EXPECT_FALSE(memory_.Holds("SR", 5) || memory_.Holds("SR", 0)) << modem_.Received() << Log();
  EXPECT_TRUE(memory_.Holds("SM", 0));
  EXPECT_EQ(Inbox(), Strings{"4917055555: Not a report"});
  const Strings shown = balloons_.Shown();
  EXPECT_NE(std::find(shown.begin(), shown.end(),
                      "Delivery report received: SMS sent to 0829200000 was delivered successfully"),
            shown.end());
}

TEST_F(ReceivingConcurrent, PollingJoinsPartsInOrderPerSenderAndFreesEachLocationOnce) {
  config_.SetInt("modem.use_features", 0);
  config_.SetInt("sender.read_mode", 2);
  Connect();
  gateway_->UssdWaiters().Add(1, 30);
  memory_.StorePdu("SM", 1, DeliverPdu("+4917011111", "world", false, PartOf{7, 2, 2}));
  memory_.StorePdu("SM", 2, DeliverPdu("+4917011111", "Hello ", false, PartOf{7, 2, 1}));
  memory_.StorePdu("SM", 3, DeliverPdu("+4917022222", "Other ", false, PartOf{7, 2, 1}));
  memory_.StorePdu("SM", 4, DeliverPdu("+4917022222", "sender", false, PartOf{7, 2, 2}));
  memory_.StorePdu("SM", 5, DeliverPdu("+4917033333", "one of three", false, PartOf{9, 3, 1}));
  memory_.SayDuringListing("+CUSD: 0,\"Balance 5 EUR\",15");
  commands_.Push(DriverCommand(CMD_TIMER, TIMER_POLL));

  ASSERT_TRUE(InboxHas(2)) << Log();
  Settle();
  Strings inbox = Inbox();
  std::sort(inbox.begin(), inbox.end());
  EXPECT_EQ(inbox, (Strings{"4917011111: Hello world", "4917022222: Other sender"}));
  for (int index : {1, 2, 3, 4}) EXPECT_EQ(Times("AT+CMGD=" + std::to_string(index) + "\r\n"), 1u) << index;
  // The part still waiting keeps its location, however often it is listed.
  EXPECT_EQ(Times("AT+CMGD=5"), 0u);
  EXPECT_TRUE(memory_.Holds("SM", 5));
  EXPECT_GE(Times("AT+CMGL=0\r\n"), 1u);
  const USSDSyncObserverQueue::PollResult reply = gateway_->UssdWaiters().Poll(1);
  EXPECT_EQ(reply.reply, "Balance 5 EUR");
}

TEST_F(ReceivingConcurrent, TextModeHeadersOfRealModemsAndDeleteAllAfterAPoll) {
  config_.SetInt("modem.use_features", 0);
  config_.SetInt("sender.read_mode", 2);
  config_.SetInt("sender.send_mode", 1);
  config_.SetInt("sender.delete_mode", 2);
  Connect();
  memory_.StoreText("SM", 1, "\"REC UNREAD\",\"+41791234567\",,\"09/08/18,19:11:45+08\"", "Two\r\nlines");
  // No name field, blanks after commas, a four-digit year without a zone.
  memory_.StoreText("SM", 2, "\"REC UNREAD\", \"+41797654321\", \"2009/8/18,19:11:45\"", "Four digits");
  memory_.StoreText("SM", 3, "\"REC UNREAD\",\"+41790000000\",\"\",\"09/08/18,19:11:46+08\"", "");
  commands_.Push(DriverCommand(CMD_TIMER, TIMER_POLL));
  ASSERT_TRUE(InboxHas(3)) << Log();
  ASSERT_TRUE(modem_.WaitForReceived("AT+CMGD=1,4\r\n")) << modem_.Received();
  EXPECT_NE(modem_.Received().find("AT+CMGL=\"REC UNREAD\"\r\n"), std::string::npos);
  EXPECT_EQ(Inbox(), (Strings{"+41791234567: Two\nlines", "+41797654321: Four digits", "+41790000000: "}));
  for (const Row& row : tables_.inbox->SelectNotEqual(0, "", 0)) {
    EXPECT_EQ(row[kRowTimestampColumn].substr(0, 3), "125") << "2009, not 4009: " << row[kRowTimestampColumn];
  }

  // A UCS2 text read from memory arrives as hex; the full header says so.
  memory_.StoreText("SM", 7,
                    "\"REC UNREAD\",\"+41791234567\",,\"09/08/18,19:11:45+08\",145,4,0,8,\"+41794999999\",145,4",
                    "041F04400438");
  modem_.Send("\r\n+CMTI: \"SM\",7\r\n");
  ASSERT_TRUE(InboxHas(4)) << Log();
  EXPECT_EQ(Inbox().back(), "+41791234567: \xD0\x9F\xD1\x80\xD0\xB8");
}

}  // namespace
}  // namespace qm
