#include "sms/message.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm {
namespace {

TEST(SMSMessage, IdsDuplicatesAndValidity) {
  // -1 takes consecutive ids from the counter; other ids are kept.
  message_ids::SetNext(100);
  SMSMessage a("+1", "+2", "hi");
  SMSMessage b("+1", "+2", "hi", -1);
  EXPECT_EQ(a.id, 100);
  EXPECT_EQ(b.id, 101);
  EXPECT_EQ(SMSMessage("1", "2", "z", 57).id, 57);
  EXPECT_EQ(message_ids::Last(), 101);
  // A counter at the top of the id range stays there instead of turning
  // negative, also when "message.id" was damaged beyond it.
  message_ids::SetNext(int64_t{INT32_MAX} + 1);
  EXPECT_EQ(message_ids::Take(), INT32_MAX);
  EXPECT_EQ(message_ids::Take(), INT32_MAX);
  message_ids::SetNext(-5);
  EXPECT_EQ(message_ids::Take(), 1);

  // Memory indexes and ids do not matter to a duplicate, the created time does.
  b.memoryIndexes = {3, 4};
  b.created = a.created;
  EXPECT_TRUE(a.IsDuplicateOf(b));
  b.created = a.created + 1;
  EXPECT_FALSE(a.IsDuplicateOf(b));

  EXPECT_EQ(a.ValiditySeconds(), 86400);
  a.expires = a.timestamp - 1;
  EXPECT_EQ(a.ValiditySeconds(), -1);  // an expiry in the past is negative
}

TEST(SMSMessage, SummaryCutsLongBodiesByCharacters) {
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

TEST(SMSMessage, AutoTonByPlusAndLength) {
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

TEST(SMSMessage, CloneKeepsClassAndFields) {
  PushMessage p("a", "b", "c", "http://x");
  std::unique_ptr<SMSMessage> copy = p.Clone();
  EXPECT_EQ(copy->KindName(), "push");
  EXPECT_EQ(copy->Url(), "http://x");
  auto rc = StatusReport("+1", "", 12, 34, 0).Clone();
  ASSERT_EQ(rc->Kind(), kKindStatusReport);
  EXPECT_EQ(static_cast<StatusReport&>(*rc).dischargeTime, 34u);
  EXPECT_EQ(rc->reference, 12);
  EXPECT_EQ(USSDRequest("*100#").Clone()->KindName(), "ussd");
  EXPECT_EQ(KindFromName("sr"), kKindStatusReport);
  EXPECT_EQ(KindFromName("SMS"), 0);
}

}  // namespace
}  // namespace qm
