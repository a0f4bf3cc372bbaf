// The initialisation sequence driven event by event: every command it queues
// is answered by a scripted modem, the answer parsed as the reader would and
// its events fed back as the command thread does.
#include "modem/modem_info.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "base/config_store.h"
#include "modem/emulator_replies.h"
#include "modem/listener_queue.h"
#include "modem/reply_parser.h"

namespace qm {
namespace {

using Strings = std::vector<std::string>;
using Notification = std::pair<std::string, std::string>;

class InitSequenceTest : public ::testing::Test {
 protected:
  InitSequenceTest() {
    config_.SetString("modem.init", "ATE0");
    config_.SetInt("modem.use_pin", 0);
    config_.SetInt("sender.read_mode", 0);
    config_.SetInt("sender.send_mode", 0);
  }

  // The emulator's replies, with some commands answered differently.
  std::string Answer(const std::string& command) const {
    if (answerAll_) return *answerAll_;
    if (auto it = overrides_.find(command); it != overrides_.end()) return it->second;
    return std::string(ChooseEmulatorRule(command, config_.GetString("modem.init")).reply);
  }

  // Runs the sequence to its end (or until it stops queueing commands).
  bool Run(uint32_t checks = kAllChecks, bool useFeatures = true) {
    info_.Reset(useFeatures, checks);
    ReplyParser parser;
    bool ready = info_.ProcessEvent(AsyncEvent{EventKind::kOk, 0, "OK", "OK"});
    for (int guard = 0; !ready && guard < 100; ++guard) {
      auto item = queue_.TryPop();
      if (!item) break;
      const std::string command = static_cast<const ATCommandMessage&>(**item).Command();
      sent_.push_back(command);
      for (const RoutedEvent& routed : parser.Feed(Answer(command)).events) {
        // What reaches the sender's reply queue comes back as a result record.
        if (routed.slot == ListenerSlot::kIncoming || routed.slot == ListenerSlot::kWriteDone) continue;
        ready = info_.ProcessEvent(routed.event);
        if (ready) break;
      }
    }
    return ready;
  }

  ConfigStore config_;
  ModemCommandQueue queue_;
  std::vector<Notification> notes_;
  ModemInfo info_{config_, queue_, [this](const std::string& t, const std::string& x) { notes_.emplace_back(t, x); }};
  std::map<std::string, std::string> overrides_;
  std::optional<std::string> answerAll_;
  Strings sent_;
};

TEST_F(InitSequenceTest, WithTheEmulatorsReplies) {
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_, (Strings{"ATE0\r\n", "AT+CMEE=?\r\n", "AT+CMEE=1\r\n", "AT+CSMS=?\r\n", "AT+CMGF=?\r\n",
                            "AT+CNMI=?\r\n", "AT+CMGD=?\r\n", "AT+CPMS?\r\n", "AT+CUSD=?\r\n", "AT+GSN\r\n",
                            "AT+CGMM\r\n", "AT+CSQ\r\n", "AT+CNMI=2,1,0,1,0\r\n", "AT+CMGF=0\r\n"}));
  EXPECT_EQ(info_.State(), kInitReady);
  EXPECT_EQ(info_.Model(), "Emulator");
  EXPECT_EQ(info_.SignalStrength(), 93);
  EXPECT_EQ(info_.Memory(0), "SM");
  EXPECT_EQ(info_.Memory(1), "SM");
  EXPECT_EQ(info_.Memory(2), "SM");
  EXPECT_EQ(info_.Memory(3), "");
  // CMEE 0-2, CSMS 0/1, text and PDU, CNMI mode 2, mt 1/2, bm 0/2, ds 1, bfr 0.
  EXPECT_EQ(info_.Features(), 0x3FFu | 0x10000u | 0x40000u | 0x4000u | 0x80000u);
  // The emulator knows no AT+GSN: reported with the model text.
  EXPECT_EQ(info_.Failures(), static_cast<uint32_t>(kFailureGsn));
  EXPECT_EQ(notes_, (std::vector<Notification>{{"Connected, but some problems found",
                                                 "While getting modem model (AT+CGMM): ERROR. "}}));
  EXPECT_TRUE(info_.Problems());
  EXPECT_EQ(config_.GetInt("sender.read_mode"), 0);
  EXPECT_EQ(config_.GetInt("sender.send_mode"), 0);
  // Once ready it stays ready.
  EXPECT_TRUE(info_.ProcessEvent(AsyncEvent{EventKind::kError, 100, "ERROR", "ERROR"}));
  EXPECT_TRUE(queue_.Empty());
}

TEST_F(InitSequenceTest, WithoutProbesOnlyTheEssentialCommandsAreSent) {
  config_.SetInt("modem.use_pin", 1);
  config_.SetString("modem.pin", "1234");
  config_.SetString("smsc.address", "+491710760000/My provider");
  config_.SetString("modem.custom_init.0", "AT+CSCS=\"GSM\"");
  config_.SetString("modem.custom_init.1", "AT^CURC=0");
  overrides_ = {{"AT+CSCA=\"+491710760000\"\r\n", "OK\r\n"}};
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(sent_, (Strings{"ATE0\r\n", "AT+CPIN=1234\r\n", "AT+CPMS?\r\n", "AT+CNMI=2,1\r\n", "AT+CMGF=0\r\n",
                            "AT+CSCA=\"+491710760000\"\r\n", "AT+CSCS=\"GSM\"\r\n", "AT^CURC=0\r\n"}));
  EXPECT_EQ(info_.Features(), 0x3FFFu);
  EXPECT_EQ(info_.Failures(), 0u);
  EXPECT_FALSE(info_.Problems());
  EXPECT_TRUE(notes_.empty());
}

TEST_F(InitSequenceTest, ModemAnsweringErrorToEverythingStillGetsReady) {
  answerAll_ = "ERROR\r\n";
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_, (Strings{"ATE0\r\n", "AT+CMEE=?\r\n", "AT+CMEE=1\r\n", "AT+CSMS=?\r\n", "AT+CMGF=?\r\n",
                            "AT+CNMI=?\r\n", "AT+CMGD=?\r\n", "AT+CPMS?\r\n", "AT+CUSD=?\r\n", "AT+GSN\r\n",
                            "AT+CGMM\r\n", "AT+CSQ\r\n", "AT+CNMI=2,0\r\n", "AT+CMGF=0\r\n"}));
  // A bare ERROR to AT+CMGD=? and AT+CPMS? is no failure (SIM still loading).
  EXPECT_EQ(info_.Failures(), 0x36Fu);
  EXPECT_EQ(info_.FailureCount(), 8);
  EXPECT_EQ(config_.GetInt("sender.read_mode"), 3);
  ASSERT_FALSE(notes_.empty());
  EXPECT_EQ(notes_.back(), (Notification{"Connection failed",
                                         "The connection with the modem can't be established. Please read help or "
                                         "contact the technical support."}));
  EXPECT_EQ(notes_.front().second, "While getting error support (AT+CMEE): ERROR. ");
  EXPECT_NE(std::find(notes_.begin(), notes_.end(),
                      Notification{"Connected, but some problems found", "While getting USSD support (AT+CUSD):ERROR. "}),
            notes_.end());
  EXPECT_NE(std::find(notes_.begin(), notes_.end(),
                      Notification{"Connected, but some problems found", "While setting sending mode (AT+CMGF): ERROR. "}),
            notes_.end());
}

TEST_F(InitSequenceTest, SixFailedProbesAreNoConnectionFailure) {
  overrides_ = {{"AT+CMEE=?\r\n", "ERROR\r\n"}, {"AT+CSMS=?\r\n", "ERROR\r\n"}, {"AT+CMGF=?\r\n", "ERROR\r\n"},
                {"AT+CNMI=?\r\n", "ERROR\r\n"}, {"AT+CUSD=?\r\n", "ERROR\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.FailureCount(), 6);  // five and AT+GSN
  EXPECT_NE(notes_.back().first, "Connection failed");
}

TEST_F(InitSequenceTest, PinErrorIsReportedOnceWithoutMarkingAProblem) {
  config_.SetInt("modem.use_pin", 1);
  config_.SetString("modem.pin", "0000");
  overrides_ = {{"AT+CPIN=0000\r\n", "+CME ERROR: 16\r\n"}, {"AT+GSN\r\n", "356938035643809\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(notes_, (std::vector<Notification>{
                        {"Connected, but some problems found", "While entering PIN code: Incorrect password. "}}));
  EXPECT_FALSE(info_.Problems());
  EXPECT_EQ(info_.Failures(), 0u);
}

TEST_F(InitSequenceTest, EchoOfTheInitStringIsIgnored) {
  overrides_ = {{"ATE0\r\n", "ATE0\r\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_.at(1), "AT+CMEE=?\r\n");
  EXPECT_EQ(std::count(sent_.begin(), sent_.end(), "AT+CMEE=?\r\n"), 1);
}

TEST_F(InitSequenceTest, CustomCommandsUpToTheFirstEmptyOne) {
  config_.SetString("modem.custom_init.0", "AT+A");
  config_.SetString("modem.custom_init.1", "AT+B");
  config_.SetString("modem.custom_init.3", "AT+D");
  overrides_ = {{"AT+A\r\n", "ERROR\r\n"}};  // errors of custom commands change nothing
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(Strings(sent_.end() - 2, sent_.end()), (Strings{"AT+A\r\n", "AT+B\r\n"}));
  EXPECT_FALSE(info_.Problems());

  sent_.clear();
  config_.SetString("modem.custom_init.0", "");  // an empty first entry ends the list
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(sent_.back(), "AT+CMGF=0\r\n");
}

TEST_F(InitSequenceTest, SmscAddressUpToTheSlash) {
  config_.SetString("smsc.address", "x/y");
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(sent_.back(), "AT+CSCA=\"x\"\r\n");

  sent_.clear();
  config_.SetString("smsc.address", "/comment only");
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(sent_.back(), "AT+CMGF=0\r\n");
}

TEST_F(InitSequenceTest, SmscErrorIsAProblem) {
  config_.SetString("smsc.address", "+49171");
  overrides_ = {{"AT+CSCA=\"+49171\"\r\n", "+CMS ERROR: 330\r\n"}};
  ASSERT_TRUE(Run(0));
  EXPECT_TRUE(info_.Problems());
  EXPECT_EQ(notes_.back().second, "While setting SMSC address (AT+CSCA): SMSC address unknown. ");
}

TEST_F(InitSequenceTest, MemoryReplyWithSixItemsIsInvalid) {
  overrides_ = {{"AT+CPMS?\r\n", "+CPMS: \"SM\",0,20,\"SM\",0,20\r\nOK\r\n"}, {"AT+GSN\r\n", "1\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.Failures(), static_cast<uint32_t>(kFailureCpms));
  EXPECT_EQ(info_.Memory(0), "");
  EXPECT_EQ(notes_, (std::vector<Notification>{{"Connected, but some problems found",
                                                 "While getting modem memory types (AT+CPMS): Invalid modem reply "
                                                 "(see log for details). "}}));
}

TEST_F(InitSequenceTest, SimStillLoadingIsTolerated) {
  overrides_ = {{"AT+CMGD=?\r\n", "+CME ERROR: SM BL not ready\r\n"},
                {"AT+CPMS?\r\n", "+CMS ERROR: SM BL not ready\r\n"},
                {"AT+GSN\r\n", "1\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.Failures(), 0u);
  EXPECT_TRUE(notes_.empty());
}

TEST_F(InitSequenceTest, SilenceEndsAStepAsAnError) {
  overrides_ = {{"AT+CSQ\r\n", ""}};
  ASSERT_FALSE(Run());  // stops at AT+CSQ, waiting
  EXPECT_EQ(info_.State(), kInitAwaitSignal);
  // The transport's reply timeout arrives as the command's end.
  EXPECT_FALSE(info_.ProcessEvent(AsyncEvent{EventKind::kError, 0, "timeout", {}}));
  EXPECT_EQ(info_.Failures() & kFailureSignal, static_cast<uint32_t>(kFailureSignal));
  EXPECT_EQ(notes_.back().second, "While getting signal strength (AT+CSQ): timeout. ");
  EXPECT_EQ(info_.State(), kInitAwaitNotify);
}

TEST_F(InitSequenceTest, SignalStrength) {
  overrides_ = {{"AT+CSQ\r\n", "+CSQ: 99,99\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.SignalStrength(), 0);
  overrides_ = {{"AT+CSQ\r\n", "+CSQ: 0,0\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.SignalStrength(), 0);
  overrides_ = {{"AT+CSQ\r\n", "+CSQ: 98,0\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.SignalStrength(), 294);
}

TEST_F(InitSequenceTest, SendModeFromTheTextPduSupport) {
  const std::pair<std::string, int> cases[] = {
      {"+CMGF: (0)", 0}, {"+CMGF: (1)", 1}, {"+CMGF: (0-1)", 0}, {"+CMGF: (0,1)", 0}};
  for (const auto& [reply, mode] : cases) {
    sent_.clear();
    config_.SetInt("sender.send_mode", 7);
    overrides_ = {{"AT+CMGF=?\r\n", reply + "\r\nOK\r\n"}};
    ASSERT_TRUE(Run()) << reply;
    EXPECT_EQ(config_.GetInt("sender.send_mode"), mode) << reply;
    EXPECT_EQ(sent_.back(), "AT+CMGF=" + std::to_string(mode) + "\r\n") << reply;
  }
  // Without the use of features the configured mode stays; an unknown one sends nothing.
  sent_.clear();
  config_.SetInt("sender.send_mode", 7);
  ASSERT_TRUE(Run(kAllChecks, false));
  EXPECT_EQ(config_.GetInt("sender.send_mode"), 7);
  EXPECT_EQ(sent_.back(), "AT+CNMI=2,1,0,1,0\r\n");
}

TEST_F(InitSequenceTest, ReadModeAndNotificationCommand) {
  struct Case {
    std::string cnmi;
    std::string cmgd;
    int mode;
    std::string command;
  };
  const Case cases[] = {
      {"+CNMI: (0-3),(0-3),(0,2,3),(0-1),(0)", "+CMGD: (1-20),(0-4)", 0, "AT+CNMI=2,1,0,1,0\r\n"},
      {"+CNMI: (0-2),(0,2),(1),(2),(1)", "+CMGD: (1-20)", 1, "AT+CNMI=2,2,1,2,1\r\n"},
      {"+CNMI: (0-2),(0),(0),(0)", "+CMGD: (1-20),(0,4)", 2, "AT+CNMI=2,0\r\n"},
      {"+CNMI: (0-2),(0)", "+CMGD: (1-20)", 3, "AT+CNMI=2,0\r\n"},
      {"+CNMI:", "+CMGD: (1-20),(0)", 3, "AT+CNMI=2,0\r\n"},  // unparsable: failure 0x4
  };
  for (const auto& c : cases) {
    sent_.clear();
    overrides_ = {{"AT+CNMI=?\r\n", c.cnmi + "\r\nOK\r\n"}, {"AT+CMGD=?\r\n", c.cmgd + "\r\nOK\r\n"}};
    ASSERT_TRUE(Run()) << c.cnmi;
    EXPECT_EQ(config_.GetInt("sender.read_mode"), c.mode) << c.cnmi;
    EXPECT_EQ(sent_.at(sent_.size() - 2), c.command) << c.cnmi;
  }
}

TEST_F(InitSequenceTest, NumericErrorsAreNotSwitchedOnWhenUnsupported) {
  overrides_ = {{"AT+CMEE=?\r\n", "+CMEE: (0)\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(std::count(sent_.begin(), sent_.end(), "AT+CMEE=1\r\n"), 0);
  EXPECT_EQ(sent_.at(2), "AT+CSMS=?\r\n");
}

TEST_F(InitSequenceTest, SelectMemoryCommand) {
  EXPECT_EQ(info_.MakeSelectMemoryCommand(), nullptr);
  info_.SetMemory(0, "SM");
  info_.SetMemory(1, "ME");
  EXPECT_EQ(info_.MakeSelectMemoryCommand()->Command(), "AT+CPMS=\"SM\",\"ME\"\r\n");
  info_.SetMemory(2, "MT");
  EXPECT_EQ(info_.MakeSelectMemoryCommand()->Command(), "AT+CPMS=\"SM\",\"ME\",\"MT\"\r\n");
  info_.SetMemory(1, "");
  EXPECT_EQ(info_.MakeSelectMemoryCommand()->Command(), "AT+CPMS=\"SM\"\r\n");
  info_.SetMemory(5, "XX");  // ignored
  EXPECT_EQ(info_.Memory(5), "");
}

TEST_F(InitSequenceTest, ConcurrentReadersWhileTheSequenceRuns) {
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      (void)info_.Model();
      (void)info_.Memory(1);
      (void)info_.Features();
      (void)info_.IsReady();
      (void)info_.MakeSelectMemoryCommand();
    }
  });
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(Run());
  done.store(true);
  reader.join();
}

}  // namespace
}  // namespace qm
