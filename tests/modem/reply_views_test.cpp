#include "modem/reply_views.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

AsyncEvent Line(std::string text) { return AsyncEvent{EventKind::kInfo, 7, text, text}; }

TEST(StringReplyEvent, NameAndValue) {
  const StringReplyEvent csq(Line("+CSQ: 31,0\r\n"));
  EXPECT_FALSE(csq.parseFailed);
  EXPECT_EQ(csq.kind, EventKind::kStringReply);
  EXPECT_EQ(csq.code, 7);
  EXPECT_EQ(csq.name, "+CSQ");
  EXPECT_EQ(csq.text, "31,0");
  EXPECT_EQ(csq.bytes, "+CSQ: 31,0\r\n");

  EXPECT_EQ(StringReplyEvent(Line("+CPMS:\t \"SM\",0,20 \t")).text, "\"SM\",0,20");
  EXPECT_EQ(StringReplyEvent(Line("+X: a:b")).text, "a:b");  // the first colon splits
}

TEST(StringReplyEvent, ParseFailures) {
  EXPECT_TRUE(StringReplyEvent(Line("Emulator")).parseFailed);
  EXPECT_TRUE(StringReplyEvent(Line("+CSQ:")).parseFailed);
  EXPECT_TRUE(StringReplyEvent(Line("+CSQ:\r\n")).parseFailed);
  EXPECT_TRUE(StringReplyEvent(Line("")).parseFailed);
  EXPECT_TRUE(StringReplyEvent(Line("Emulator")).text.empty());
}

TEST(ListReplyEvent, CapabilityGroups) {
  const ListReplyEvent cnmi(Line("+CNMI: (0-3),(0-3),(0,2,3),(0-1),(0)"));
  ASSERT_FALSE(cnmi.parseFailed);
  ASSERT_EQ(cnmi.groups.size(), 5u);
  EXPECT_EQ(cnmi.groups[0].count(), 4u);
  EXPECT_TRUE(cnmi.Contains(3, 1));
  EXPECT_TRUE(cnmi.Contains(2, 2));
  EXPECT_FALSE(cnmi.Contains(1, 2));
  EXPECT_TRUE(cnmi.Contains(1, 3));
  EXPECT_TRUE(cnmi.Contains(0, 4));
  EXPECT_FALSE(cnmi.Contains(1, 4));
  EXPECT_FALSE(cnmi.Contains(0, 5));  // no such group

  const ListReplyEvent csms(Line("+CSMS: (0,1,128)"));
  EXPECT_TRUE(csms.Contains(128, 0));
  EXPECT_FALSE(csms.Contains(2, 0));
  EXPECT_FALSE(csms.Contains(0, 1));
  EXPECT_FALSE(csms.Contains(-1, 0));
  EXPECT_FALSE(csms.Contains(256, 0));
}

TEST(ListReplyEvent, RangesAreClampedAndOddItemsIgnored) {
  const ListReplyEvent r(Line("+X: ( 250 - 300 ),(3-1),(1-2-3),(-5-2),(7),(),(8,x)"));
  ASSERT_FALSE(r.parseFailed);
  ASSERT_EQ(r.groups.size(), 7u);
  EXPECT_EQ(r.groups[0].count(), 6u);  // 250..255 (blanks removed)
  EXPECT_TRUE(r.Contains(255, 0));
  EXPECT_EQ(r.groups[1].count(), 0u);  // a > b
  EXPECT_EQ(r.groups[2].count(), 0u);  // two dashes
  EXPECT_EQ(r.groups[3].count(), 0u);  // "-5-2" has two dashes too
  EXPECT_TRUE(r.Contains(7, 4));
  EXPECT_EQ(r.groups[5].count(), 0u);  // too short to hold a value
  EXPECT_TRUE(r.Contains(8, 6));
}

TEST(ListReplyEvent, ParseFailures) {
  EXPECT_TRUE(ListReplyEvent(Line("+CMGD:")).parseFailed);
  EXPECT_TRUE(ListReplyEvent(Line("+CMGD: ")).parseFailed);
  EXPECT_TRUE(ListReplyEvent(Line("+CMGD: 1")).parseFailed);
  EXPECT_TRUE(ListReplyEvent(Line("no colon")).parseFailed);
  EXPECT_FALSE(ListReplyEvent(Line("+CMGD: (1-20)")).parseFailed);
}

TEST(SplitReplyItems, QuotesProtectCommasAndAreRemoved) {
  const auto items = SplitReplyItems("\"SM\",0,20, \"ME,X\" ,5,\"\"");
  EXPECT_EQ(items, (std::vector<std::string>{"SM", "0", "20", "ME,X", "5", ""}));
  EXPECT_EQ(SplitReplyItems("").size(), 1u);
}

}  // namespace
}  // namespace qm
