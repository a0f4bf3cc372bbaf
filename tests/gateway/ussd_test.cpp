#include <gtest/gtest.h>

#include "gateway/ussd_codec.h"
#include "gateway/ussd_waiters.h"
#include "platform/utf.h"

namespace qm {
namespace {

using Coding = UssdRequestCoding;

std::string Command(std::string_view text, Coding coding, bool hidden = false) {
  return UssdRequestCommand(text, hidden, coding).value_or("<refused>");
}

TEST(UssdRequest, CommandLineInEachCoding) {
  EXPECT_EQ(Command("*100#", Coding::kText), "AT+CUSD=1,\"*100#\",15\r\n");
  EXPECT_EQ(Command("*100#", Coding::kText, true), "AT+CUSD=0,\"*100#\",15\r\n");
  EXPECT_EQ(Command("*\xC3\xA9#", Coding::kText), "AT+CUSD=1,\"*\xE9#\",15\r\n");  // Latin-1 octet
  EXPECT_EQ(Command("*100#", Coding::kUcs2), "AT+CUSD=1,\"002A0031003000300023\",15\r\n");
  EXPECT_EQ(Command("\xD0\x96", Coding::kUcs2), "AT+CUSD=1,\"0416\",15\r\n");
}

TEST(UssdRequest, PackedSeptetsAndCarriageReturnPadding) {
  EXPECT_EQ(Command("*100#", Coding::kPacked), "AT+CUSD=1,\"AA180C3602\",15\r\n");
  // 7 septets leave 7 spare bits: a CR (0x0D << 1 = 0x1A) fills them, not "@".
  EXPECT_EQ(Command("1234567", Coding::kPacked), "AT+CUSD=1,\"31D98C56B3DD1A\",15\r\n");
  EXPECT_EQ(Command("12345678", Coding::kPacked), "AT+CUSD=1,\"31D98C56B3DD70\",15\r\n");
  // 15 septets: padded to 16, exactly 14 octets.
  EXPECT_EQ(Command("123456789012345", Coding::kPacked).size(), std::string("AT+CUSD=1,\"\",15\r\n").size() + 28);
  // A wanted CR at an octet boundary ("\xC4\x8D" has low octet 0x0D) is doubled.
  EXPECT_EQ(Command("1234567\xC4\x8D", Coding::kPacked), "AT+CUSD=1,\"31D98C56B3DD1A0D\",15\r\n");
}

TEST(UssdRequest, RefusesTextThatCouldInjectCommands) {
  for (Coding coding : {Coding::kText, Coding::kPacked, Coding::kUcs2}) {
    EXPECT_FALSE(UssdRequestCommand("*100#\",15\r\nAT+CMGD=1,4", false, coding));
    EXPECT_FALSE(UssdRequestCommand("*100#\r", false, coding));
    EXPECT_FALSE(UssdRequestCommand(std::string("*1\0#", 4), false, coding));
    EXPECT_FALSE(UssdRequestCommand("*1\x7F#", false, coding));
  }
  EXPECT_FALSE(UssdRequestCommand("*\xE2\x82\xAC#", false, Coding::kText));  // the euro sign is not Latin-1
}

TEST(UssdReply, ParsesFields) {
  auto reply = ParseUssdReply("+CUSD: 0, \"abc\", 72");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->result, 0);
  EXPECT_EQ(reply->text, "abc");
  EXPECT_EQ(reply->dcs, 72);
  reply = ParseUssdReply("+CUSD: 1,\"Pay 5, get 2\"");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->text, "Pay 5, get 2");
  EXPECT_EQ(reply->dcs, 15);
  EXPECT_EQ(ParseUssdReply("+CUSD: 1,\" x \",")->dcs, 15);
  EXPECT_EQ(ParseUssdReply("+CUSD: 1,\" x \",")->text, " x ");  // blanks inside the quotes are text
  EXPECT_FALSE(ParseUssdReply("+CUSD: 2"));
  EXPECT_FALSE(ParseUssdReply("+CUSD: 0,\"\",15"));
  EXPECT_FALSE(ParseUssdReply("+CMGS: 1,\"abc\""));
}

constexpr int kAuto = 0, kAsReceived = 1, kTextUnicode = 2, kDigitsUnicode = 3, kDigitsAscii = 4, kAuto5 = 5;

TEST(UssdDecode, FixedModes) {
  EXPECT_EQ(DecodeUssdReply("0041", 72, kAsReceived, false), "0041");
  EXPECT_EQ(DecodeUssdReply("\x04\x16\x04", 15, kTextUnicode, false), "\xD0\x96");  // odd last one dropped
  EXPECT_EQ(DecodeUssdReply("0416004", 15, kDigitsUnicode, false), "\xD0\x96");
  EXPECT_EQ(DecodeUssdReply("0x41", 15, kDigitsUnicode, false), "A");  // "x" counts as 0
  EXPECT_EQ(DecodeUssdReply("48c94", 15, kDigitsAscii, false), "H\xC3\x89");
}

TEST(UssdDecode, AutomaticByCoding) {
  for (int mode : {kAuto, kAuto5}) {
    EXPECT_EQ(DecodeUssdReply("0041", 72, mode, false), "A");
    EXPECT_EQ(DecodeUssdReply("0041", 8, mode, false), "A");
    EXPECT_EQ(DecodeUssdReply("\x04\x16", 72, mode, false), "\xD0\x96");  // raw UCS2 octets
    EXPECT_EQ(DecodeUssdReply("65370041", 17, mode, false), "A");        // "en" packed, then UCS2
    EXPECT_EQ(DecodeUssdReply("1234", 15, mode, false), "1234");
    EXPECT_EQ(DecodeUssdReply("Balance: 5", 15, mode, true), "Balance: 5");
    EXPECT_EQ(DecodeUssdReply("Balance: 5", 68, mode, false), "Balance: 5");
    EXPECT_EQ(DecodeUssdReply("00410042", 68, mode, false), "AB");
    EXPECT_EQ(DecodeUssdReply("123", 68, mode, false), "123");
    EXPECT_EQ(DecodeUssdReply("414243", 68, mode, false), "414243");  // no whole number of UCS2 units
  }
}

TEST(UssdDecode, PackedAnswerToPackedRequest) {
  // "Balance: 5.20$!" as 15 septets plus the CR padding; "$" is septet 0x02.
  const std::string hex = "C2303BEC1E9775A09A4B0613841A";
  EXPECT_EQ(DecodeUssdReply(hex, 15, kAuto, true), "Balance: 5.20$!");
  EXPECT_EQ(DecodeUssdReply("c2303bec1e97413501", 15, kAuto, true), "Balance 5$");
  EXPECT_EQ(DecodeUssdReply(hex, 15, kAuto, false), hex);  // a text request gets text back
}

TEST(UssdDecode, SurrogatesGiveValidUtf8) {
  EXPECT_EQ(DecodeUssdReply("D83DDE00", 72, kAuto, false), "\xF0\x9F\x98\x80");
  const std::string lone = DecodeUssdReply("D83D0041", 72, kAuto, false);
  EXPECT_TRUE(IsValidUtf8(lone));
  EXPECT_EQ(lone, "\xEF\xBF\xBD" "A");
  EXPECT_TRUE(IsValidUtf8(DecodeUssdReply("\xC3\x98=", 15, kTextUnicode, false)));
}

// Waiters on a clock the test moves.
struct FakeQueue {
  int64_t now = 1000;
  USSDSyncObserverQueue queue{[this] { return now; }};
};

TEST(UssdWaiters, ReplyGoesToTheNewestLeadingWaiter) {
  FakeQueue f;
  f.queue.Deliver("nobody", true);  // empty queue: dropped
  f.queue.Add(1, 30);
  f.queue.Add(2, 30);
  f.queue.Deliver("for 2", true);
  EXPECT_FALSE(f.queue.Poll(1).finished);
  auto polled = f.queue.Poll(2);
  EXPECT_TRUE(polled.finished);
  EXPECT_EQ(polled.state, UssdWaitState::kReplied);
  EXPECT_EQ(polled.reply, "for 2");
  polled = f.queue.Poll(2);  // collected: gone
  EXPECT_TRUE(polled.finished);
  EXPECT_EQ(static_cast<int>(polled.state), 3);
  f.queue.Deliver("for 1", true);  // 1 replied, uncollected, leads: 3 gets the next one
  f.queue.Add(3, 30);
  f.queue.Deliver("for 3", true);
  EXPECT_EQ(f.queue.Poll(3).reply, "for 3");
  EXPECT_EQ(f.queue.Poll(1).reply, "for 1");
}

TEST(UssdWaiters, ExpiryAndProvisionalReplies) {
  FakeQueue f;
  f.queue.Add(1, 30);
  f.queue.Add(2, 30);
  f.queue.Deliver("released", false);
  f.queue.Deliver("released again", false);
  EXPECT_FALSE(f.queue.Poll(2).finished);  // a release text may be followed by the answer
  f.now = 1030;
  f.queue.RemoveExpired();
  EXPECT_FALSE(f.queue.Poll(1).finished);
  f.now = 1031;
  f.queue.RemoveExpired();
  f.queue.RemoveExpired();  // the provisional reply became final: it waits to be collected
  EXPECT_EQ(f.queue.Poll(1).state, UssdWaitState::kUnknown);
  const auto polled = f.queue.Poll(2);
  EXPECT_EQ(polled.state, UssdWaitState::kReplied);
  EXPECT_EQ(polled.reply, "released again");

  f.queue.Add(3, 30);
  f.queue.Deliver("released", false);
  f.queue.Deliver("Balance 5", true);
  EXPECT_EQ(f.queue.Poll(3).reply, "Balance 5");
}

}  // namespace
}  // namespace qm
