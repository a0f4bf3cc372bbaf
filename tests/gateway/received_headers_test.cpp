// Header lines of received messages as real modems write them.
#include "gateway/received_headers.h"

#include <gtest/gtest.h>

#include "sms/pdu_decoder.h"

namespace qm {
namespace {

const uint32_t kAugust18 = DecodeTextModeTime("09/08/18,19:11:45+08");

TEST(ReceivedHeaders, TextModeSenderAndTimeAreFoundWhateverTheLayout) {
  struct Case {
    const char* line;
    HeaderKind kind;
    const char* from;
  } cases[] = {
      {"+CMGR: \"REC READ\",\"+41791234567\",,\"09/08/18,19:11:45+08\"", HeaderKind::kRead, "+41791234567"},
      // No name field, blanks after the commas, a four-digit year, no zone.
      {"+CMGR: \"REC READ\", \"+41791234567\", \"2009/8/18,19:11:45\"", HeaderKind::kRead, "+41791234567"},
      {"+CMGR: \"REC UNREAD\",\"+41791234567\",\"\",\"09/08/18,19:11:45+08\",145,4,0,0,\"+417949\",145,5",
       HeaderKind::kRead, "+41791234567"},
      {"+CMT: \"+41791234567\",\"\",\"09/08/18,19:11:45+08\"", HeaderKind::kDirect, "+41791234567"},
      {"+CMGL: 4,\"REC UNREAD\",\"+41791234567\",,\"09/08/18,19:11:45+08\"", HeaderKind::kListed, "+41791234567"},
  };
  for (const Case& c : cases) {
    const ReceivedHeader header = ParseReceivedHeader(c.line);
    EXPECT_EQ(header.kind, c.kind) << c.line;
    EXPECT_TRUE(header.textMode) << c.line;
    EXPECT_EQ(header.from, c.from) << c.line;
    // The zone is not part of the local time stamp; 2009 stays 2009.
    EXPECT_EQ(header.time, kAugust18) << c.line;
  }
  EXPECT_EQ(ParseReceivedHeader(cases[2].line).dcs, 0);
  EXPECT_EQ(ParseReceivedHeader(cases[4].line).index, 4);
}

TEST(ReceivedHeaders, PduLengthsNoticesAndTextReports) {
  EXPECT_EQ(ParseReceivedHeader("+CDS: 25").tpduLength, 25);
  EXPECT_EQ(ParseReceivedHeader("+CMT: ,24").tpduLength, 24);
  const ReceivedHeader listed = ParseReceivedHeader("+CMGL: 3,1,,24");
  EXPECT_EQ(listed.index, 3);
  EXPECT_EQ(listed.tpduLength, 24);
  EXPECT_FALSE(listed.textMode);
  const ReceivedHeader notice = ParseReceivedHeader("+CDSI: \"SR\", 5");
  EXPECT_EQ(notice.kind, HeaderKind::kReportNotice);
  EXPECT_EQ(notice.storage, "SR");
  EXPECT_EQ(notice.index, 5);

  for (const char* line : {"+CDS: 6,202,\"+4917012345\",145,\"09/08/18,19:11:45+08\",\"09/08/18,19:11:50+08\",0",
                           "+CMGL: 2,\"REC UNREAD\",6,202,\"+4917012345\",145,\"09/08/18,19:11:45+08\","
                           "\"09/08/18,19:11:50+08\",0"}) {
    const ReceivedHeader report = ParseReceivedHeader(line);
    ASSERT_NE(report.report, nullptr) << line;
    EXPECT_EQ(report.report->reference, 202);
    EXPECT_EQ(report.report->from, "+4917012345");
    EXPECT_EQ(report.report->status, 0u);
  }
  EXPECT_EQ(ParseReceivedHeader("+CMGL: 2,\"REC UNREAD\",6,202,\"+4917012345\"").report, nullptr);  // cut short
}

TEST(ReceivedHeaders, TextModeBodiesInHexAreDecodedByTheirCoding) {
  EXPECT_EQ(TextModeBody("041F04400438", 8), "\xD0\x9F\xD1\x80\xD0\xB8");
  EXPECT_EQ(TextModeBody("D83DDE00", 0x18), "\xF0\x9F\x98\x80");  // UCS2 with a class
  EXPECT_EQ(TextModeBody("E9", 4), "\xC3\xA9");
  EXPECT_EQ(TextModeBody("CAFE", 0), "CAFE");  // 7-bit text that merely looks like hex
  EXPECT_EQ(TextModeBody("041F0", 8), "041F0");
}

}  // namespace
}  // namespace qm
