// Decoding of SMS-SUBMIT, SMS-DELIVER and SMS-STATUS-REPORT PDUs.
#include "sms/pdu_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/utf.h"
#include "sms/pdu_inspect.h"
#include "sms/pdu_time.h"
#include "tests/sms/scoped_time_zone.h"

namespace qm {
namespace {

// Our "Hello" to +44 1234 5678, one day of validity (VP A7).
constexpr char kSubmitHello[] = "0011000A9144214365870000A705C8329BFD06";
// The SMS-SUBMIT example of the widely copied "SMS and the PDU format" page
// (dreamfabric.com): "hellohello" to +46 70 825 1358, VP AA.
constexpr char kSubmitHelloHello[] = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
// "ét" as UCS2.
constexpr char kSubmitUcs2[] = "0011000A9144214365870008A70400E90074";
// "Hi" as part 1 of 2 (reference 0x2A) behind the 8-bit concatenation header;
// one fill bit aligns the first septet.
constexpr char kSubmitConcatenated[] = "0051000A9144214365870000A709 0500032A0201 9069";

std::string Pdu(std::string hex) {
  std::erase(hex, ' ');
  return HexToBytes(hex);
}

TEST(HexToBytes, PairsHighNibbleFirstAnyCase) {
  EXPECT_EQ(HexToBytes("00A7ff10"), std::string("\x00\xA7\xFF\x10", 4));
  EXPECT_EQ(HexToBytes("aB"), "\xAB");
  EXPECT_EQ(HexToBytes(""), "");
  // A non-hex character counts as 0, an odd last digit is dropped.
  EXPECT_EQ(HexToBytes("G1Z"), "\x01");
  EXPECT_EQ(HexToBytes("1"), "");
}

TEST(DecodeSubmitPdu, OurHelloAndThePublishedExample) {
  auto hello = DecodeSubmitPdu(HexToBytes(kSubmitHello));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->from, "4412345678");
  EXPECT_EQ(hello->text, "Hello");
  EXPECT_EQ(hello->coding, 0);
  EXPECT_EQ(hello->total, 1);
  EXPECT_EQ(hello->part, 0);
  EXPECT_EQ(hello->reference, 0);
  EXPECT_FALSE(hello->ported);

  auto published = DecodeSubmitPdu(HexToBytes(kSubmitHelloHello));
  ASSERT_TRUE(published);
  EXPECT_EQ(published->from, "46708251358");
  EXPECT_EQ(published->text, "hellohello");
}

TEST(DecodeSubmitPdu, Ucs2AndConcatenatedSevenBit) {
  auto ucs2 = DecodeSubmitPdu(HexToBytes(kSubmitUcs2));
  ASSERT_TRUE(ucs2);
  EXPECT_EQ(ucs2->coding, 8);
  EXPECT_EQ(ucs2->text, "\xC3\xA9t");

  auto part = DecodeSubmitPdu(Pdu(kSubmitConcatenated));
  ASSERT_TRUE(part);
  EXPECT_EQ(part->text, "Hi");
  EXPECT_EQ(part->reference, 0x2A);
  EXPECT_EQ(part->total, 2);
  EXPECT_EQ(part->part, 0);
}

TEST(DecodeSubmitPdu, SmscPartIsSkipped) {
  // The same "Hello" with the service centre +44 7785 016005 in front.
  auto hello = DecodeSubmitPdu(Pdu("07914477580106F5" "11000A9144214365870000A705C8329BFD06"));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->text, "Hello");
  EXPECT_EQ(hello->from, "4412345678");
}

TEST(DecodeSubmitPdu, RefusesOtherMessageTypesAndEveryTruncation) {
  // An SMS-DELIVER (TP-MTI 0) is not a submit.
  PduDiagnostics why;
  EXPECT_FALSE(DecodeSubmitPdu(Pdu("0004"), &why));
  EXPECT_EQ(why.failure, "TP-MTI 0 is not SMS-SUBMIT");
  // Every proper prefix ends before TP-UDL has been read, or is accepted
  // with the user data it has; none is read past its end.
  const std::string full = HexToBytes(kSubmitHello);
  for (std::size_t n = 0; n < full.size(); ++n) {
    const std::string prefix = full.substr(0, n);
    auto decoded = DecodeSubmitPdu(prefix, &why);
    if (n < 14) {
      EXPECT_FALSE(decoded) << n;
      EXPECT_FALSE(why.failure.empty()) << n;
    } else {
      ASSERT_TRUE(decoded) << n;
      EXPECT_TRUE(std::string("Hello").starts_with(decoded->text)) << n;
      EXPECT_FALSE(why.usedEveryOctet) << n;
    }
  }
  ASSERT_TRUE(DecodeSubmitPdu(full, &why));
  EXPECT_TRUE(why.usedEveryOctet);
  EXPECT_FALSE(DecodeSubmitPdu(Pdu("0011000A91442143"), &why));
  EXPECT_EQ(why.failure, "cannot read TP-DA");
}

// --- SMS-DELIVER -----------------------------------------------------------

// The SMS-DELIVER example of the "SMS and the PDU format" page
// (dreamfabric.com): "hellohello" from 27838890001 via SMSC +27381000015,
// stamped 1999-03-29 15:16:59.
constexpr char kDeliverDreamfabric[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
// The sample PDU of ChromiumOS's SMS network test: "Test" from +16175046925,
// stamped 2011-09-08 14:18:01.
constexpr char kDeliverChromiumOs[] = "07914140540510F0040B916171056429F500001190804181106904D4F29C0E";
// Head of a DELIVER from +4412345678 stamped 2013-05-02 14:03:00, without
// TP-UDL and user data; the first octet and DCS go in front.
std::string Deliver(std::string_view first, std::string_view dcs, std::string_view rest) {
  return Pdu("00" + std::string(first) + "0A914421436587" + "00" + std::string(dcs) + "31502041300000" +
             std::string(rest));
}

class DecodeDeliverTest : public ::testing::Test {
 protected:
  test::ScopedTimeZone zone_{"Europe/Berlin"};
};

TEST_F(DecodeDeliverTest, PublishedExamples) {
  auto dreamfabric = DecodeReceivedPdu(HexToBytes(kDeliverDreamfabric));
  ASSERT_TRUE(dreamfabric);
  EXPECT_EQ(dreamfabric->kind, kKindSms);
  EXPECT_EQ(dreamfabric->from, "27838890001");
  EXPECT_EQ(dreamfabric->text, "hellohello");
  EXPECT_EQ(dreamfabric->time, test::MkTime(1999, 3, 29, 15, 16, 59));
  EXPECT_EQ(dreamfabric->total, 1);
  EXPECT_EQ(dreamfabric->memoryIndex, -1);

  auto chromium = DecodeReceivedPdu(HexToBytes(kDeliverChromiumOs));
  ASSERT_TRUE(chromium);
  EXPECT_EQ(chromium->from, "16175046925");  // no "+" is added
  EXPECT_EQ(chromium->text, "Test");
  EXPECT_EQ(chromium->time, test::MkTime(2011, 9, 8, 14, 18, 1));
}

TEST_F(DecodeDeliverTest, AlphanumericSenders) {
  // "Info_SMS": eight septets in seven octets, 14 semi-octets.
  auto info = DecodeReceivedPdu(Pdu("00040ED049B7F91D9936A7000031502041300000 02C834"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->from, "Info_SMS");
  EXPECT_EQ(info->text, "Hi");
  // "Vodafon": seven septets, 13 semi-octets; the spare bits of the last
  // octet are not an eighth character.
  auto seven = DecodeReceivedPdu(Pdu("00040DD0D637396C7EBB01000031502041300000 02C834"));
  ASSERT_TRUE(seven);
  EXPECT_EQ(seven->from, "Vodafon");
}

TEST_F(DecodeDeliverTest, SevenBitTextsAndHeaders) {
  // Seven septets with an escape pair fill seven octets: no padding "@".
  auto escaped = DecodeReceivedPdu(Deliver("04", "00", "07 61F18637269701"));
  ASSERT_TRUE(escaped);
  EXPECT_EQ(escaped->text, "ab[cde");

  // 16-bit reference 0x0180 (UDHL 6, no fill bits): no stray first character.
  auto wide = DecodeReceivedPdu(Deliver("44", "00", "0D 06080401800202 C8329BFD06"));
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->text, "Hello");
  EXPECT_EQ(wide->reference, 384);
  EXPECT_EQ(wide->total, 2);
  EXPECT_EQ(wide->part, 1);

  // 8-bit reference 0xC8 (UDHL 5, one fill bit).
  auto narrow = DecodeReceivedPdu(Deliver("44", "00", "0F 050003C80202 A061391D44BFBF01"));
  ASSERT_TRUE(narrow);
  EXPECT_EQ(narrow->text, "Part two");
  EXPECT_EQ(narrow->reference, 200);
  EXPECT_EQ(narrow->part, 1);

  // A nine-octet header (16-bit concatenation plus a language element) takes
  // 12 septets with 4 fill bits; "Hey" leaves 7 spare bits in its last octet,
  // which are not a fourth character.
  auto longHeader = DecodeReceivedPdu(Deliver("44", "00", "0F 09080401800201250100 802CE701"));
  ASSERT_TRUE(longHeader);
  EXPECT_EQ(longHeader->text, "Hey");
  EXPECT_EQ(longHeader->reference, 384);

  // A message-waiting DCS (C8: store, indication active) carries 7-bit text.
  auto waiting = DecodeReceivedPdu(Deliver("04", "C8", "02 C834"));
  ASSERT_TRUE(waiting);
  EXPECT_EQ(waiting->coding, 0);
  EXPECT_EQ(waiting->text, "Hi");
}

TEST_F(DecodeDeliverTest, PortedDataAndUcs2) {
  // A port element makes the data 8-bit whatever the DCS says; every octet
  // maps to one character and back.
  auto ported = DecodeReceivedPdu(Deliver("44", "00", "0A 0605040B8423F0 01FF80"));
  ASSERT_TRUE(ported);
  EXPECT_TRUE(ported->ported);
  EXPECT_EQ(ported->coding, 4);
  EXPECT_EQ(ported->text, "\x01\xC3\xBF\xC2\x80");

  // 8-bit data (DCS 04): all 256 octet values come back from the text.
  std::string octets;
  for (int i = 0; i < 256; ++i) octets.push_back(static_cast<char>(i));
  for (std::string_view chunk : {std::string_view(octets).substr(0, 140), std::string_view(octets).substr(140)}) {
    auto data = DecodeReceivedPdu(Deliver("04", "04", "") + static_cast<char>(chunk.size()) + std::string(chunk));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->coding, 4);
    EXPECT_EQ(Latin1Utf8ToBytes(data->text), chunk);
  }

  auto ucs2 = DecodeReceivedPdu(Deliver("04", "08", "06 041F0440D83D"));
  ASSERT_TRUE(ucs2);
  EXPECT_EQ(ucs2->coding, 8);
  EXPECT_EQ(ucs2->text, "\xD0\x9F\xD1\x80\xEF\xBF\xBD");  // a lone surrogate becomes U+FFFD
  // An odd octet count drops the half character.
  auto odd = DecodeReceivedPdu(Deliver("04", "08", "03 004100"));
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->text, "A");
}

TEST_F(DecodeDeliverTest, InvalidConcatenationValuesAreIgnored) {
  for (const char* header : {"050003070200", "050003070003", "050003070203"}) {  // seq 0, total 0, seq > total
    auto pdu = DecodeReceivedPdu(Deliver("44", "00", std::string("09 ") + header + "9069"));
    ASSERT_TRUE(pdu) << header;
    EXPECT_EQ(pdu->reference, 0) << header;
    EXPECT_EQ(pdu->total, 1) << header;
    EXPECT_EQ(pdu->part, 0) << header;
    EXPECT_EQ(pdu->text, "Hi") << header;
  }
}

TEST_F(DecodeDeliverTest, MalformedPdusGiveNoRecord) {
  PduDiagnostics why;
  const struct {
    std::string pdu;
    const char* failure;
  } cases[] = {
      {"", "cannot read SMSC length"},
      {Pdu("0791447758"), "cannot read SMSC address"},
      {Pdu("00"), "cannot read first octet"},
      {Pdu("0007"), "TP-MTI 3 is not SMS-DELIVER"},
      {Pdu("0001"), "TP-MTI 1 is not SMS-DELIVER"},
      {Pdu("0004FF91" "1234"), "cannot read TP-OA"},  // address length 255
      {Pdu("00040A914421436587000031502041"), "cannot read TP-SCTS"},
      {Pdu("00040A914421436587000031502041300000"), "cannot read TP-SCTS"},  // the stamp must not end the PDU
      {Deliver("44", "00", "05"), "cannot read TP-UDHL"},                 // TP-UDL is the last octet
      {Deliver("44", "00", "10 14 0500"), "cannot read TP-User-Data-Header"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(DecodeReceivedPdu(c.pdu, &why)) << c.failure;
    EXPECT_EQ(why.failure, c.failure);
  }
  // A TP-UDL smaller than its header leaves no characters rather than a
  // negative count.
  auto empty = DecodeReceivedPdu(Deliver("44", "00", "02 050003010201"));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->text, "");
}

TEST_F(DecodeDeliverTest, StampYearsAndTimeZoneOctet) {
  const std::string head = "00040A9144214365870000";
  auto y2049 = DecodeReceivedPdu(Pdu(head + "94101010101000" + "00"));
  ASSERT_TRUE(y2049);
  EXPECT_EQ(y2049->time, test::MkTime(2049, 1, 1, 1, 1, 1));
  // The zone octet is ignored: the stamp is read as local time.
  auto zoned = DecodeReceivedPdu(Pdu(head + "94101010101080" + "00"));
  ASSERT_TRUE(zoned);
  EXPECT_EQ(zoned->time, y2049->time);
  // Year 50 is 1950, before the 32-bit epoch field can hold it: unknown (0)
  // rather than a wrapped date in 2086.
  const std::string stamp = Pdu("05101010101000" "00");
  PduReader reader(stamp);
  int64_t seconds = 0;
  ASSERT_TRUE(ReadSemiOctetTime(reader, seconds, "TP-SCTS"));
  EXPECT_EQ(seconds, test::MkTime(1950, 1, 1, 1, 1, 1));
  auto y1950 = DecodeReceivedPdu(Pdu(head + "05101010101000" + "00"));
  ASSERT_TRUE(y1950);
  EXPECT_EQ(y1950->time, 0u);
}

// --- SMS-STATUS-REPORT -----------------------------------------------------

// A "+CDS:" report as published on amro.blogspot.com ("receiving an SMS
// status report message"), without SMSC part: MR 0 for 20121875612, stamped
// 2007-09-12 15:10:12, discharged 15:10:17, status 0 (delivered).
constexpr char kReportAmro[] = "06000B910221815716F2709021510121807090215101718000";

TEST_F(DecodeDeliverTest, StatusReportWithAndWithoutSmscPart) {
  auto check = [](const std::optional<DecodedPdu>& r) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, kKindStatusReport);
    EXPECT_EQ(r->messageReference, 0);
    EXPECT_EQ(r->from, "20121875612");
    EXPECT_EQ(r->time, test::MkTime(2007, 9, 12, 15, 10, 12));
    EXPECT_EQ(r->dischargeTime, test::MkTime(2007, 9, 12, 15, 10, 17));
    EXPECT_EQ(r->status, 0);
  };
  const std::string bare = HexToBytes(kReportAmro);
  const std::string withSmsc = HexToBytes(std::string("07917283010010F5") + kReportAmro);
  check(DecodeStatusReportPdu(bare, true));  // "cds_no_smsc_addr" 1
  check(DecodeStatusReportPdu(withSmsc, false));
  check(DecodeReceivedPdu(withSmsc));  // TP-MTI 2 is passed on
  EXPECT_FALSE(DecodeStatusReportPdu(bare, false));
  EXPECT_FALSE(DecodeStatusReportPdu(bare.substr(0, bare.size() - 1), true));  // no TP-ST

  // A pasted report decodes whichever form it has; the reading that uses
  // every octet (TP-PI 00 counts) wins.
  std::string error;
  check(DecodeAnyPdu(bare, &error));
  check(DecodeAnyPdu(withSmsc, &error));
  check(DecodeAnyPdu(bare + std::string(1, '\0'), &error));
  auto status = DecodeStatusReportPdu(Pdu(std::string(kReportAmro).replace(48, 2, "46")), true);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 0x46);
}

TEST(DecodeAnyPdu, TakesDeliverSubmitAndReportsTheFailure) {
  std::string error;
  auto deliver = DecodeAnyPdu(HexToBytes(kDeliverChromiumOs), &error);
  ASSERT_TRUE(deliver);
  EXPECT_EQ(deliver->text, "Test");
  auto submit = DecodeAnyPdu(HexToBytes(kSubmitHello), &error);
  ASSERT_TRUE(submit);
  EXPECT_EQ(submit->text, "Hello");
  EXPECT_FALSE(DecodeAnyPdu(Pdu("0011000A9144"), &error));
  EXPECT_EQ(error, "cannot read TP-DA");
  EXPECT_FALSE(DecodeAnyPdu(Pdu("00040A91"), &error));
  EXPECT_EQ(error, "cannot read TP-OA");
}

TEST(DecodeTextModeTime, ReadsLocalTimeAndIgnoresTheZone) {
  test::ScopedTimeZone zone("America/New_York");
  const int64_t expected = test::MkTime(2013, 5, 2, 14, 3, 0);
  EXPECT_EQ(DecodeTextModeTime("13/05/02,14:03:00+08"), expected);
  EXPECT_EQ(DecodeTextModeTime("13/05/02,14:03:00-20"), expected);
  EXPECT_EQ(DecodeTextModeTime("\"13/05/02,14:03:00+08\""), expected);
  EXPECT_EQ(DecodeTextModeTime("2013/05/02,14:03:00"), expected);
  EXPECT_EQ(DecodeTextModeTime("13/05/02,14:03"), 0u);
  EXPECT_EQ(DecodeTextModeTime(""), 0u);
}

// --- AssembleMessage -------------------------------------------------------

DecodedPdu Part(std::string from, std::string text, int memoryIndex, uint32_t time = 1000) {
  DecodedPdu p;
  p.from = std::move(from);
  p.text = std::move(text);
  p.memoryIndex = memoryIndex;
  p.time = time;
  return p;
}

TEST(AssembleMessage, JoinsPartsIntoAnSms) {
  auto m = AssembleMessage({Part("4412345678", "Hello, ", 3, 1000), Part("4412345678", "world", -1, 1005),
                            Part("4412345678", "!", 5, 1009)});
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Kind(), kKindSms);
  EXPECT_EQ(m->body, "Hello, world!");
  EXPECT_EQ(m->from, "4412345678");
  EXPECT_EQ(m->to, "");
  EXPECT_EQ(m->created, 1000u);
  EXPECT_EQ(m->memoryIndexes, (std::vector<int32_t>{3, 5}));
}

TEST(AssembleMessage, StatusReportStandsAlone) {
  DecodedPdu report = Part("4412345678", "", 7, 2000);
  report.kind = kKindStatusReport;
  report.messageReference = 42;
  report.dischargeTime = 2010;
  report.status = 0x46;
  auto m = AssembleMessage({report});
  ASSERT_TRUE(m);
  ASSERT_EQ(m->Kind(), kKindStatusReport);
  const auto& r = static_cast<const StatusReport&>(*m);
  EXPECT_EQ(r.reference, 42);
  EXPECT_EQ(r.from, "4412345678");
  EXPECT_EQ(r.timestamp, 2000u);
  EXPECT_EQ(r.created, 2000u);
  EXPECT_EQ(r.dischargeTime, 2010u);
  EXPECT_EQ(r.status, 0x46u);
  EXPECT_EQ(r.memoryIndexes, (std::vector<int32_t>{7}));

  EXPECT_FALSE(AssembleMessage({}));
  EXPECT_FALSE(AssembleMessage({report, report}));
  EXPECT_FALSE(AssembleMessage({Part("1", "a", -1), report}));
}

}  // namespace
}  // namespace qm
