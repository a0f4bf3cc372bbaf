#include "sms/message.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(MessageIds, MinusOneTakesConsecutiveIdsOthersAreKept) {
  message_ids::SetNext(100);
  SMSMessage a("1", "2", "x");
  SMSMessage b("1", "2", "y", -1);
  EXPECT_EQ(a.id, 100);
  EXPECT_EQ(b.id, 101);
  SMSMessage c("1", "2", "z", 57);
  EXPECT_EQ(c.id, 57);
  EXPECT_EQ(message_ids::Last(), 101);
}

TEST(MessageSummary, CutsLongBodiesByCharacters) {
  SMSMessage m;
  m.body = std::string(50, 'a');
  EXPECT_EQ(m.Summary(), m.body);
  m.body = std::string(51, 'a');
  EXPECT_EQ(m.Summary(), std::string(47, 'a') + "...");
  m.body = "line1\r\nline2";
  EXPECT_EQ(m.Summary(), "line1  line2");
  std::string cyr;
  for (int i = 0; i < 60; ++i) cyr += "\xD0\x96";
  m.body = cyr;
  EXPECT_EQ(m.Summary(), cyr.substr(0, 47 * 2) + "...");
}

TEST(MessageAutoTon, PlusEmptyAndLength) {
  SetAutoTonSettings({8, 1, 0});
  EXPECT_EQ(AutoTon("+491701234567"), 1);
  EXPECT_EQ(AutoTon(""), 0);
  EXPECT_EQ(AutoTon("123456789"), 1);
  EXPECT_EQ(AutoTon("12345678"), 0);
  SetAutoTonSettings({5, 2, 3});
  EXPECT_EQ(AutoTon("123456"), 2);
  EXPECT_EQ(AutoTon("12345"), 3);
  SetAutoTonSettings({});
}

TEST(MessageDuplicates, MemoryIndexesIgnoredCreatedCounts) {
  SMSMessage a("+1", "+2", "hi");
  SMSMessage b = a;
  b.memoryIndexes = {3, 4};
  b.id = a.id + 1;
  EXPECT_TRUE(a.IsDuplicateOf(b));
  b.created = a.created + 1;
  EXPECT_FALSE(a.IsDuplicateOf(b));
}

TEST(MessageClone, KeepsClassAndFields) {
  PushMessage p("a", "b", "c", "http://x");
  std::unique_ptr<SMSMessage> copy = p.Clone();
  EXPECT_EQ(copy->Kind(), kKindPush);
  EXPECT_EQ(copy->KindName(), "push");
  EXPECT_EQ(copy->Url(), "http://x");
  StatusReport r("+1", "", 12, 34, 0);
  auto rc = r.Clone();
  ASSERT_EQ(rc->Kind(), kKindStatusReport);
  EXPECT_EQ(static_cast<StatusReport&>(*rc).dischargeTime, 34u);
  EXPECT_EQ(rc->reference, 12);
  EXPECT_EQ(USSDRequest("*100#").Clone()->KindName(), "ussd");
  EXPECT_EQ(KindFromName("sr"), kKindStatusReport);
  EXPECT_EQ(KindFromName("SMS"), 0);
}

TEST(MessageValidity, ExpiryInThePastIsNegative) {
  SMSMessage m;
  EXPECT_EQ(m.ValiditySeconds(), 86400);
  m.expires = m.timestamp - 1;
  EXPECT_EQ(m.ValiditySeconds(), -1);
}

}  // namespace
}  // namespace qm
