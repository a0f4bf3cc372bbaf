#include "modem/reply_views.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

AsyncEvent Line(std::string text) { return AsyncEvent{EventKind::kInfo, 7, text, text}; }

TEST(StringReplyEvent, NameAndTrimmedValueOrAParseFailure) {
  const StringReplyEvent csq(Line("+CSQ: 31,0\r\n"));
  EXPECT_FALSE(csq.parseFailed);
  EXPECT_EQ(csq.name, "+CSQ");
  EXPECT_EQ(csq.text, "31,0");
  EXPECT_EQ(csq.bytes, "+CSQ: 31,0\r\n");
  EXPECT_EQ(StringReplyEvent(Line("+CPMS:\t \"SM\",0,20 \t")).text, "\"SM\",0,20");
  EXPECT_EQ(StringReplyEvent(Line("+X: a:b")).text, "a:b");  // the first colon splits
  for (const char* bad : {"Emulator", "+CSQ:", "+CSQ:\r\n", ""}) {
    EXPECT_TRUE(StringReplyEvent(Line(bad)).parseFailed) << bad;
  }
}

TEST(ListReplyEvent, CapabilityGroupsRangesAndParseFailures) {
  const ListReplyEvent cnmi(Line("+CNMI: (0-3),(0-3),(0,2,3),(0-1),(0)"));
  ASSERT_FALSE(cnmi.parseFailed);
  ASSERT_EQ(cnmi.groups.size(), 5u);
  EXPECT_EQ(cnmi.groups[0].count(), 4u);
  EXPECT_TRUE(cnmi.Contains(2, 2));
  EXPECT_FALSE(cnmi.Contains(1, 2));
  EXPECT_FALSE(cnmi.Contains(0, 5));  // no such group
  EXPECT_FALSE(cnmi.Contains(-1, 0));
  EXPECT_FALSE(cnmi.Contains(256, 0));

  // Ranges are clamped to 0..255; reversed ranges, two dashes and empty groups hold nothing.
  const ListReplyEvent r(Line("+X: ( 250 - 300 ),(3-1),(1-2-3),(-5-2),(7),(),(8,x)"));
  ASSERT_EQ(r.groups.size(), 7u);
  const std::size_t counts[] = {6, 0, 0, 0, 1, 0};
  for (std::size_t g = 0; g < 6; ++g) EXPECT_EQ(r.groups[g].count(), counts[g]) << g;
  EXPECT_TRUE(r.Contains(255, 0));
  EXPECT_TRUE(r.Contains(8, 6));  // an odd item does not spoil its group

  for (const char* bad : {"+CMGD:", "+CMGD: ", "no colon"}) {
    EXPECT_TRUE(ListReplyEvent(Line(bad)).parseFailed) << bad;
  }
  // The short form without parentheses, as some modems give it.
  const ListReplyEvent bare(Line("+CSMS: 0"));
  ASSERT_FALSE(bare.parseFailed);
  EXPECT_TRUE(bare.Contains(0, 0));
  EXPECT_FALSE(bare.Contains(1, 0));
  const ListReplyEvent two(Line("+CMGD: 1-3,4"));
  EXPECT_TRUE(two.Contains(2, 0) && two.Contains(4, 1));
}

TEST(SplitReplyItems, QuotesProtectCommasAndAreRemoved) {
  EXPECT_EQ(SplitReplyItems("\"SM\",0,20, \"ME,X\" ,5,\"\""),
            (std::vector<std::string>{"SM", "0", "20", "ME,X", "5", ""}));
  EXPECT_EQ(SplitReplyItems("").size(), 1u);
}

}  // namespace
}  // namespace qm
