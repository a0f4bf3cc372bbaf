// The initialisation sequence driven event by event: every command it queues
// is answered by a scripted modem, the answer parsed as the reader would and
// its events fed back as the command thread does.
#include "modem/modem_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <map>
#include <random>
#include <tuple>
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
constexpr char kProblems[] = "Connected, but some problems found";

class InitSequenceTest : public ::testing::Test {
 protected:
  InitSequenceTest() { config_.SetString("modem.init", "ATE0"); }

  // The emulator's replies, with some commands answered differently.
  std::string Answer(const std::string& command) const {
    if (busyReplies_) {
      if (auto reply = busyReplies_(command)) return *reply;
    }
    if (!answerAll_.empty()) return answerAll_;
    if (auto it = overrides_.find(command); it != overrides_.end()) return it->second;
    return std::string(ChooseEmulatorRule(command, config_.GetString("modem.init")).reply);
  }

  // Runs the sequence to its end (or until it stops queueing commands).
  bool Run(uint32_t checks = kAllChecks, bool useFeatures = true) {
    sent_.clear();
    notes_.clear();
    info_.Reset(useFeatures, checks);
    ReplyParser parser;
    bool ready = info_.ProcessEvent(AsyncEvent{EventKind::kOk, 0, "OK", "OK"});
    for (int guard = 0; !ready && guard < 100; ++guard) {
      auto item = queue_.TryPop();
      if (!item) break;
      const auto& at = static_cast<const ATCommandMessage&>(**item);
      sent_.push_back(at.Command());
      if (at.Delay().count() > 0) delays_[at.Command()] = static_cast<int>(at.Delay().count());
      for (const RoutedEvent& routed : parser.Feed(Answer(sent_.back())).events) {
        // What reaches the sender's reply queue comes back as a result record;
        // the transport keeps the modem's news to itself.
        if (routed.slot == ListenerSlot::kIncoming || routed.slot == ListenerSlot::kWriteDone) continue;
        if (routed.unsolicited) continue;
        if ((ready = info_.ProcessEvent(routed.event))) break;
      }
    }
    return ready;
  }

  ConfigStore config_;
  ModemCommandQueue queue_;
  std::vector<Notification> notes_;
  ModemInfo info_{config_, queue_, [this](const std::string& t, const std::string& x) { notes_.emplace_back(t, x); }};
  std::map<std::string, std::string> overrides_;
  std::string answerAll_;  // when set, the reply to everything
  std::function<std::optional<std::string>(const std::string&)> busyReplies_;  // consulted first
  std::map<std::string, int> delays_;  // ms a command waited before it was written
  Strings sent_;
};

TEST_F(InitSequenceTest, WithTheEmulatorsReplies) {
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_, (Strings{"ATE0\r\n", "AT+CMEE=?\r\n", "AT+CMEE=1\r\n", "AT+CSMS=?\r\n", "AT+CMGF=?\r\n",
                            "AT+CNMI=?\r\n", "AT+CMGD=?\r\n", "AT+CPMS?\r\n", "AT+CUSD=?\r\n", "AT+GSN\r\n",
                            "AT+CGMM\r\n", "AT+CSQ\r\n", "AT+CNMI=2,1,0,1,0\r\n", "AT+CMGF=0\r\n"}));
  EXPECT_EQ(info_.Model(), "Emulator");
  EXPECT_EQ(info_.SignalStrength(), 93);
  EXPECT_EQ(Strings({info_.Memory(0), info_.Memory(1), info_.Memory(2)}), Strings(3, "SM"));
  EXPECT_EQ(info_.Features(), kCmeeFeatures | kCsmsFeatures | kSendModeFeatures | kNotifyFeatures | kFeatureBm0 |
                                  kFeatureBm2 | kFeatureDs1 | kFeatureBfr0 | kFeatureCnmiMode1 |
                                  kFeatureCnmiMode3 | kFeatureCusd0);  // the "+CUSD: (0)" answer reaches its probe
  // The emulator knows no AT+GSN: reported with the model text.
  EXPECT_EQ(info_.Failures(), static_cast<uint32_t>(kFailureGsn));
  EXPECT_EQ(notes_, (std::vector<Notification>{{kProblems, "While getting modem model (AT+CGMM): ERROR. "}}));
  EXPECT_TRUE(info_.Problems());
  // Once ready it stays ready.
  EXPECT_TRUE(info_.ProcessEvent(AsyncEvent{EventKind::kError, 100, "ERROR", "ERROR"}));
  // The memories are selected up to the first empty name.
  info_.SetMemory(1, "");
  EXPECT_EQ(info_.MakeSelectMemoryCommand()->Command(), "AT+CPMS=\"SM\"\r\n");
  // The next connection attempt starts knowing nothing.
  info_.Reset(true, kAllChecks);
  EXPECT_EQ(info_.Model() + info_.Memory(0), "");
}

// Lines before the end of a reply (line noise, a vendor's news, a stray
// echo) never end a step early: whatever precedes each answer, the modem is
// asked the same and set up the same.
TEST_F(InitSequenceTest, LinesBeforeEachRepliesEndChangeNothing) {
  config_.SetString("modem.custom_init.0", "AT+COPS?");  // a custom command answered with a line
  ASSERT_TRUE(Run());
  const Strings clean = sent_;
  const auto state = [this] {
    return std::make_tuple(info_.Features(), info_.Failures(), info_.Model(), info_.SignalStrength(),
                           info_.Memory(0), info_.Memory(2), notes_);
  };
  const auto expected = state();
  const std::string noise[] = {"~#%\r\n", "^RSSI: 12\r\n", "\xFF\xFE\x01\r\n", "+CREG: 1\r\n",
                               "AT+CSQ\r\n", "+COPS: 0,0,\"Quillnet\"\r\n"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 30; ++round) {
    busyReplies_ = [&](const std::string& command) -> std::optional<std::string> {
      std::string reply(ChooseEmulatorRule(command, "ATE0").reply);
      if (command.starts_with("AT+COPS")) reply = "+COPS: 0,0,\"Quillnet\"\r\nOK\r\n";
      for (int n = static_cast<int>(random() % 3); n > 0; --n) reply = "\r\n" + noise[random() % 6] + reply;
      return reply;
    };
    ASSERT_TRUE(Run()) << "round " << round;
    EXPECT_EQ(sent_, clean) << "round " << round;
    EXPECT_EQ(state(), expected) << "round " << round;
  }
}

TEST_F(InitSequenceTest, WithoutProbesOnlyTheEssentialCommandsAreSentAndAllIsAssumed) {
  config_.SetString("smsc.address", "+491710760000/My provider");
  config_.SetString("modem.custom_init.0", "AT+CSCS=\"GSM\"");
  config_.SetString("modem.custom_init.1", "AT^CURC=0");
  overrides_ = {{"AT+CSCA=\"+491710760000\"\r\n", "OK\r\n"}};
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(sent_, (Strings{"ATE0\r\n", "AT+CPMS?\r\n", "AT+CNMI=2,1\r\n", "AT+CMGF=0\r\n",
                            "AT+CSCA=\"+491710760000\"\r\n", "AT+CSCS=\"GSM\"\r\n", "AT^CURC=0\r\n"}));
  EXPECT_EQ(info_.Features(), 0x3FFFu);  // every capability that is not asked for
  EXPECT_TRUE(notes_.empty());
}

TEST_F(InitSequenceTest, FailedProbesAreCountedAndMoreThanSixFailTheConnection) {
  overrides_ = {{"AT+CMEE=?\r\n", "ERROR\r\n"}, {"AT+CSMS=?\r\n", "ERROR\r\n"}, {"AT+CMGF=?\r\n", "ERROR\r\n"},
                {"AT+CNMI=?\r\n", "ERROR\r\n"}, {"AT+CPMS?\r\n", "+CPMS: \"SM\",0,20\r\nOK\r\n"},
                {"AT+CSQ\r\n", "+CSQ: 99,99\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(info_.FailureCount(), 6);  // five and AT+GSN
  EXPECT_EQ(info_.MakeSelectMemoryCommand(), nullptr);  // no memory known
  EXPECT_EQ(info_.SignalStrength(), 0);  // 99: not known
  EXPECT_EQ(notes_.at(4).second, "While getting modem memory types (AT+CPMS): Invalid modem reply (see log for "
                                 "details). ");
  EXPECT_NE(notes_.back().first, "Connection failed");

  answerAll_ = "ERROR\r\n";
  ASSERT_TRUE(Run());
  // A bare ERROR to AT+CMGD=? and AT+CPMS? is no failure (SIM still loading).
  EXPECT_EQ(info_.Failures(), 0x36Fu);
  EXPECT_EQ(info_.FailureCount(), 8);
  EXPECT_EQ(config_.GetInt("sender.read_mode"), 3);
  EXPECT_EQ(std::count(notes_.begin(), notes_.end(),
                       Notification{kProblems, "While getting USSD support (AT+CUSD):ERROR. "}), 1);
  EXPECT_EQ(notes_.back(), (Notification{"Connection failed",
                                         "The connection with the modem can't be established. Please read help or "
                                         "contact the technical support."}));
}

TEST_F(InitSequenceTest, WrongPinAndSimStillLoadingAreNoFailures) {
  config_.SetInt("modem.use_pin", 1);
  config_.SetString("modem.pin", "0000");
  overrides_ = {{"AT+CPIN=0000\r\n", "+CME ERROR: 16\r\n"}, {"AT+CMGD=?\r\n", "+CME ERROR: SM BL not ready\r\n"},
                {"AT+CPMS?\r\n", "+CMS ERROR: SM BL not ready\r\n"}, {"AT+GSN\r\n", "1\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  // The PIN error is told, yet is no problem of the link.
  EXPECT_EQ(notes_, (std::vector<Notification>{{kProblems, "While entering PIN code: Incorrect password. "}}));
  EXPECT_FALSE(info_.Problems());
  EXPECT_EQ(info_.Failures(), 0u);

  // The refused PIN is not tried again at the next connection (three wrong
  // tries lock the SIM), until the user changes it.
  ASSERT_TRUE(Run());
  EXPECT_EQ(std::count(sent_.begin(), sent_.end(), "AT+CPIN=0000\r\n"), 0);
  EXPECT_EQ(notes_.front().second,
            "The SIM refused the PIN in modem.pin; it is not sent again until modem.pin changes. ");
  config_.SetString("modem.pin", "2468");
  overrides_.erase("AT+CPIN=0000\r\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_[1], "AT+CPIN=2468\r\n");
}

TEST_F(InitSequenceTest, SmscAddressAndCustomCommands) {
  config_.SetString("smsc.address", "/comment only");  // would wipe the SIM's own address
  config_.SetString("modem.custom_init.0", "AT+A");
  config_.SetString("modem.custom_init.1", "AT+B");
  config_.SetString("modem.custom_init.3", "AT+D");  // after an empty one: never sent
  overrides_ = {{"AT+A\r\n", "ERROR\r\n"}};          // errors of custom commands change nothing
  ASSERT_TRUE(Run(0));
  EXPECT_EQ(Strings(sent_.end() - 3, sent_.end()), (Strings{"AT+CMGF=0\r\n", "AT+A\r\n", "AT+B\r\n"}));
  EXPECT_FALSE(info_.Problems());

  config_.SetString("modem.custom_init.0", "");
  config_.SetString("smsc.address", "+49171/x");
  overrides_ = {{"AT+CSCA=\"+49171\"\r\n", "+CMS ERROR: 330\r\n"}};
  ASSERT_TRUE(Run(0));  // the error is that of the address sent without its comment
  EXPECT_TRUE(info_.Problems());
  EXPECT_EQ(notes_.back().second, "While setting SMSC address (AT+CSCA): SMSC address unknown. ");
}

TEST_F(InitSequenceTest, SendModeAndNumericErrorsFollowWhatTheModemSupports) {
  for (const auto& [reply, mode] : {std::pair{"+CMGF: (1)", 1}, {"+CMGF: (0,1)", 0}}) {
    config_.SetInt("sender.send_mode", 7);
    overrides_ = {{"AT+CMGF=?\r\n", reply + std::string("\r\nOK\r\n")}};
    ASSERT_TRUE(Run()) << reply;
    EXPECT_EQ(sent_.back(), "AT+CMGF=" + std::to_string(mode) + "\r\n") << reply;
  }
  // Without the use of features the configured modes stay; an unknown send mode sends nothing.
  config_.SetInt("sender.send_mode", 7);
  config_.SetInt("sender.read_mode", 1);
  ASSERT_TRUE(Run(kAllChecks, false));
  EXPECT_EQ(config_.GetInt("sender.send_mode"), 7);
  EXPECT_EQ(sent_.back(), "AT+CNMI=2,2,0,1,0\r\n");

  // A modem that cannot give numeric errors is not asked to.
  overrides_ = {{"AT+CMEE=?\r\n", "+CMEE: (0)\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_.at(2), "AT+CSMS=?\r\n");
}

TEST_F(InitSequenceTest, ReadModeAndNotificationCommand) {
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {"+CNMI: (0-2),(0,2),(1),(2),(1)", "+CMGD: (1-20)", 1, "AT+CNMI=2,2,1,2,1\r\n"},
      {"+CNMI: (0-2),(0),(0),(1)", "+CMGD: (1-20),(0,4)", 2, "AT+CNMI=2,0\r\n"},
      {"+CNMI: (0-2),(0)", "+CMGD: (1-20)", 3, "AT+CNMI=2,0\r\n"},
      {"+CNMI:", "+CMGD: (1-20),(0)", 3, "AT+CNMI=2,0\r\n"},  // unparsable: a failure, so no polling either
      {"+CNMI: (0-3),(0-3),(0,2,3),(0-1),(0)", "+CMGD: (1-20),(0-4)", 0, "AT+CNMI=2,1,0,1,0\r\n"},
  };
  for (const auto& [cnmi, cmgd, mode, command] : cases) {
    overrides_ = {{"AT+CNMI=?\r\n", cnmi + "\r\nOK\r\n"}, {"AT+CMGD=?\r\n", cmgd + "\r\nOK\r\n"}};
    ASSERT_TRUE(Run()) << cnmi;
    EXPECT_EQ(config_.GetInt("sender.read_mode"), mode) << cnmi;
    EXPECT_EQ(sent_.at(sent_.size() - 2), command) << cnmi;
  }
}

// Replies real modems give that the sequence must understand.
TEST_F(InitSequenceTest, WhatRealModemsAnswer) {
  // A phone that offers CNMI modes 0 and 3, with news inside the probe's
  // reply and the model's, a bare "+CSMS: 0", and two memories.
  overrides_ = {{"AT+CNMI=?\r\n", "+CNMI: (0,3),(0,1),(0),(0),(0)\r\n+ZPAS: \"LTE\"\r\nOK\r\n"},
                {"AT+CGMM\r\n", "+ZPAS: \"LTE\"\r\nC702\r\nOK\r\n"},
                {"AT+CSMS=?\r\n", "+CSMS: 0\r\nOK\r\n"},
                {"AT+CPMS?\r\n", "+CPMS: \"ME\",3,100,\"SM\",0,20\r\nOK\r\n"},
                {"AT+CUSD=?\r\n", "+CUSD: (0-2)\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(sent_.at(sent_.size() - 2), "AT+CNMI=3,1\r\n");
  EXPECT_EQ(info_.Model(), "C702");
  EXPECT_EQ(Strings({info_.Memory(0), info_.Memory(1), info_.Memory(2)}), (Strings{"ME", "SM", "SM"}));
  EXPECT_EQ(info_.Features() & (kCsmsFeatures | kCusdFeatures), kFeatureCsms0 | kCusdFeatures);
  EXPECT_EQ(info_.Failures(), static_cast<uint32_t>(kFailureGsn));  // only the emulator's own AT+GSN

  // A modem that refuses the notification command says so, and is polled.
  overrides_ = {{"AT+CNMI=2,1,0,1,0\r\n", "+CMS ERROR: 303\r\n"}, {"AT+CMGD=?\r\n", "+CMGD: (1-20),(0-4)\r\nOK\r\n"}};
  ASSERT_TRUE(Run());
  EXPECT_EQ(config_.GetInt("sender.read_mode"), 2);
  EXPECT_EQ(notes_.back().second, "While setting new message indications (AT+CNMI): Operation not supported. ");

  // A SIM still busy after power-on is waited for, the command sent again
  // after a pause.
  int busy = 2;
  busyReplies_ = [&](const std::string& command) -> std::optional<std::string> {
    if (command == "AT+CPMS?\r\n" && busy-- > 0) return "+CMS ERROR: 314\r\n";
    return std::nullopt;
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(std::count(sent_.begin(), sent_.end(), "AT+CPMS?\r\n"), 3);
  EXPECT_EQ(delays_.at("AT+CPMS?\r\n"), 1000);
  EXPECT_EQ(info_.Memory(0), "SM");
  EXPECT_EQ(info_.Failures(), static_cast<uint32_t>(kFailureGsn));
}

}  // namespace
}  // namespace qm
