// Decoding of SMS-SUBMIT, SMS-DELIVER and SMS-STATUS-REPORT PDUs, and the
// joining of decoded parts into a message.
#include "sms/pdu_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/utf.h"
#include "sms/pdu_inspect.h"
#include "tests/sms/scoped_time_zone.h"

namespace qm {
namespace {

// The examples of the widely copied "SMS and the PDU format" page
// (dreamfabric.com): an SMS-SUBMIT of "hellohello" to +46 70 825 1358 (VP AA),
// and an SMS-DELIVER of "hellohello" from 27838890001 via SMSC +27381000015,
// stamped 1999-03-29 15:16:59.
constexpr char kSubmitDreamfabric[] = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
constexpr char kDeliverDreamfabric[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
// A "+CDS:" report as published on amro.blogspot.com ("receiving an SMS
// status report message"), without SMSC part: MR 0 for 20121875612, stamped
// 2007-09-12 15:10:12, discharged 15:10:17, status 0 (delivered).
constexpr char kReportAmro[] = "06000B910221815716F2709021510121807090215101718000";

std::string Pdu(std::string hex) {
  std::erase(hex, ' ');
  return HexToBytes(hex);
}

// A DELIVER from +4412345678 stamped 2013-05-02 14:03:00 with the given first
// octet and DCS; `rest` is TP-UDL and the user data.
std::string Deliver(std::string_view first, std::string_view dcs, std::string_view rest) {
  return Pdu("00" + std::string(first) + "0A914421436587" + "00" + std::string(dcs) + "31502041300000" +
             std::string(rest));
}

class DecodeTest : public ::testing::Test {
 protected:
  test::ScopedTimeZone zone_{"Europe/Berlin"};
};

TEST_F(DecodeTest, PublishedExamplesAndAlphanumericSenders) {
  auto dreamfabric = DecodeReceivedPdu(HexToBytes(kDeliverDreamfabric));
  ASSERT_TRUE(dreamfabric);
  EXPECT_EQ(dreamfabric->kind, kKindSms);
  EXPECT_EQ(dreamfabric->from, "27838890001");  // no "+" is added
  EXPECT_EQ(dreamfabric->text, "hellohello");
  EXPECT_EQ(dreamfabric->time, test::MkTime(1999, 3, 29, 15, 16, 59));

  auto submit = DecodeSubmitPdu(HexToBytes(kSubmitDreamfabric));
  ASSERT_TRUE(submit);
  EXPECT_EQ(submit->from, "46708251358");
  EXPECT_EQ(submit->text, "hellohello");

  // Alphanumeric senders: "Info_SMS" is eight septets in 14 semi-octets;
  // "Vodafon" seven in 13, the spare bits of its last octet no eighth character.
  for (const auto& [pdu, from] : {std::pair{"00040ED049B7F91D9936A7000031502041300000 02C834", "Info_SMS"},
                                  std::pair{"00040DD0D637396C7EBB01000031502041300000 02C834", "Vodafon"}}) {
    auto alphanumeric = DecodeReceivedPdu(Pdu(pdu));
    ASSERT_TRUE(alphanumeric);
    EXPECT_EQ(alphanumeric->from, from);
    EXPECT_EQ(alphanumeric->text, "Hi");
  }
}

TEST_F(DecodeTest, CodingsAndUserDataHeaders) {
  const struct {
    std::string pdu;
    std::string text;
    int coding, reference, total, part;
  } cases[] = {
      // Seven septets with an escape pair fill seven octets: no padding "@".
      {Deliver("04", "00", "07 61F18637269701"), "ab[cde", 0, 0, 1, 0},
      // A message-waiting DCS (C8: store, indication active) carries 7-bit text.
      {Deliver("04", "C8", "02 C834"), "Hi", 0, 0, 1, 0},
      // 16-bit reference 0x0180 (UDHL 6, no fill bits): no stray first character.
      {Deliver("44", "00", "0D 06080401800202 C8329BFD06"), "Hello", 0, 384, 2, 1},
      // 8-bit reference 0xC8 (UDHL 5, one fill bit).
      {Deliver("44", "00", "0F 050003C80202 A061391D44BFBF01"), "Part two", 0, 200, 2, 1},
      // UDHL 9 (16-bit concatenation and a language element): 4 fill bits; the
      // 7 spare bits of the last octet are not a fourth character.
      {Deliver("44", "00", "0F 09080401800201250100 802CE701"), "Hey", 0, 384, 2, 0},
      // Sequence 0, total 0, sequence beyond total: the element is ignored.
      {Deliver("44", "00", "09 050003070200 9069"), "Hi", 0, 0, 1, 0},
      {Deliver("44", "00", "09 050003070003 9069"), "Hi", 0, 0, 1, 0},
      {Deliver("44", "00", "09 050003070203 9069"), "Hi", 0, 0, 1, 0},
      // Unknown elements are skipped, one running past the header ends the
      // walk, a concatenation element too short for its values is skipped;
      // the text behind would read as valid values.
      {Deliver("44", "08", "0F 0A 2401FF 0003070201 0009 05010169"), "\xD4\x81\xC5\xA9", 8, 7, 2, 0},
      {Deliver("44", "08", "09 04 00020102 01480069"), "\xC5\x88i", 8, 0, 1, 0},
      // A TP-UDL smaller than its header leaves no characters, not a negative count.
      {Deliver("44", "00", "02 050003010201"), "", 0, 1, 2, 0},
      // A port element makes the data 8-bit whatever the DCS says (only this
      // case is ported).
      {Deliver("44", "00", "0F 0B 05040B8423F0 00032A0302 01FF80"), "\x01\xC3\xBF\xC2\x80", 4, 0x2A, 3, 1},
      // UCS2: a lone surrogate becomes U+FFFD; an odd octet count drops the half character.
      {Deliver("04", "08", "06 041F0440D83D"), "\xD0\x9F\xD1\x80\xEF\xBF\xBD", 8, 0, 1, 0},
      {Deliver("04", "08", "03 004100"), "A", 8, 0, 1, 0},
  };
  for (const auto& c : cases) {
    auto d = DecodeReceivedPdu(c.pdu);
    ASSERT_TRUE(d) << c.text;
    EXPECT_EQ(d->text, c.text);
    EXPECT_EQ(d->coding, c.coding) << c.text;
    EXPECT_EQ(d->reference, c.reference) << c.text;
    EXPECT_EQ(d->total, c.total) << c.text;
    EXPECT_EQ(d->part, c.part) << c.text;
    EXPECT_EQ(d->ported, c.coding == 4) << c.text;
  }

  // 8-bit data (DCS 04): all 256 octet values come back from the text.
  std::string octets;
  for (int i = 0; i < 256; ++i) octets.push_back(static_cast<char>(i));
  for (std::string_view chunk : {std::string_view(octets).substr(0, 140), std::string_view(octets).substr(140)}) {
    auto data = DecodeReceivedPdu(Deliver("04", "04", "") + static_cast<char>(chunk.size()) + std::string(chunk));
    ASSERT_TRUE(data);
    EXPECT_EQ(Latin1Utf8ToBytes(data->text), chunk);
  }
}

TEST_F(DecodeTest, MalformedAndTruncatedPdusGiveNoRecord) {
  using Decoder = std::optional<DecodedPdu> (*)(std::string_view, PduDiagnostics*);
  const Decoder received = DecodeReceivedPdu;
  const Decoder submit = DecodeSubmitPdu;
  PduDiagnostics why;
  const struct {
    Decoder decode;
    std::string pdu;
    const char* failure;
  } wrong[] = {
      {received, Pdu("0007"), "TP-MTI 3 is not SMS-DELIVER"},
      {received, Pdu("0001"), "TP-MTI 1 is not SMS-DELIVER"},
      {submit, Pdu("0004"), "TP-MTI 0 is not SMS-SUBMIT"},
      {received, Pdu("0004FF911234"), "cannot read TP-OA"},  // address length 255
  };
  for (const auto& c : wrong) {
    EXPECT_FALSE(c.decode(c.pdu, &why)) << c.failure;
    EXPECT_EQ(why.failure, c.failure);
  }
  // Every proper prefix of a valid PDU fails with a reason, or gives the user
  // data it holds and says that octets are missing; none is read past its end.
  const struct {
    Decoder decode;
    std::string pdu;
  } valid[] = {
      {submit, HexToBytes(kSubmitDreamfabric)},
      {received, HexToBytes(kDeliverDreamfabric)},
      {received, Deliver("44", "00", "0D 06080401800202 C8329BFD06")},
      {received, Deliver("04", "08", "06 041F0440D83D")},
      {received, HexToBytes(std::string("07917283010010F5") + kReportAmro)},
  };
  for (const auto& c : valid) {
    why = {};
    const auto full = c.decode(c.pdu, &why);
    ASSERT_TRUE(full) << why.failure;
    EXPECT_TRUE(why.usedEveryOctet);
    for (std::size_t n = 0; n < c.pdu.size(); ++n) {
      why = {};
      if (const auto part = c.decode(c.pdu.substr(0, n), &why)) {
        EXPECT_FALSE(why.usedEveryOctet) << n;
        EXPECT_TRUE(full->text.starts_with(part->text)) << n;
      } else {
        EXPECT_FALSE(why.failure.empty()) << n;
      }
    }
  }
}

TEST_F(DecodeTest, StampYearsAndTimeZoneOctet) {
  auto stamped = [](const char* stamp) {
    auto pdu = DecodeReceivedPdu(Pdu(std::string("00040A9144214365870000") + stamp + "00"));
    return pdu ? pdu->time : 1u;
  };
  EXPECT_EQ(stamped("94101010101000"), test::MkTime(2049, 1, 1, 1, 1, 1));
  // The zone octet is ignored: the stamp is read as local time.
  EXPECT_EQ(stamped("94101010101080"), test::MkTime(2049, 1, 1, 1, 1, 1));
  // Year 50 is 1950, before the 32-bit field can hold it: unknown (0) rather
  // than 2050 or a wrapped date.
  EXPECT_EQ(stamped("05101010101000"), 0u);
}

TEST_F(DecodeTest, StatusReportWithAndWithoutSmscPart) {
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

  // A pasted report decodes whichever form it has (qmctl checks both); the
  // reading that uses every octet (TP-PI 00 counts) wins.
  std::string error;
  check(DecodeAnyPdu(bare + std::string(1, '\0'), &error));
  // A failure names the reading the message type points to: here a submit.
  EXPECT_FALSE(DecodeAnyPdu(Pdu("0011000A9144"), &error));
  EXPECT_EQ(error, "cannot read TP-DA");
  auto status = DecodeStatusReportPdu(Pdu(std::string(kReportAmro).replace(48, 2, "46")), true);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 0x46);
}

TEST(DecodeTextModeTime, ReadsLocalTimeAndIgnoresTheZone) {
  test::ScopedTimeZone zone("America/New_York");
  for (const char* stamp : {"13/05/02,14:03:00+08", "13/05/02,14:03:00-20", "\"13/05/02,14:03:00+08\"",
                            "2013/05/02,14:03:00"}) {
    EXPECT_EQ(DecodeTextModeTime(stamp), test::MkTime(2013, 5, 2, 14, 3, 0)) << stamp;
  }
  EXPECT_EQ(DecodeTextModeTime("13/05/02,14:03"), 0u);
  EXPECT_EQ(DecodeTextModeTime(""), 0u);
}

DecodedPdu Part(std::string text, int memoryIndex, uint32_t time) {
  DecodedPdu p;
  p.from = "4412345678";
  p.text = std::move(text);
  p.memoryIndex = memoryIndex;
  p.time = time;
  return p;
}

TEST(AssembleMessage, JoinsPartsOrKeepsAReportAlone) {
  auto m = AssembleMessage({Part("Hello, ", 3, 1000), Part("world", -1, 1005), Part("!", 5, 1009)});
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Kind(), kKindSms);
  EXPECT_EQ(m->body, "Hello, world!");
  EXPECT_EQ(m->from, "4412345678");
  EXPECT_EQ(m->created, 1000u);
  EXPECT_EQ(m->memoryIndexes, (std::vector<int32_t>{3, 5}));

  DecodedPdu report = Part("", 7, 2000);
  report.kind = kKindStatusReport;
  report.messageReference = 42;
  report.dischargeTime = 2010;
  report.status = 0x46;
  auto sr = AssembleMessage({report});
  ASSERT_TRUE(sr);
  ASSERT_EQ(sr->Kind(), kKindStatusReport);
  const auto& r = static_cast<const StatusReport&>(*sr);
  EXPECT_EQ(r.reference, 42);
  EXPECT_EQ(r.from, "4412345678");
  EXPECT_EQ(r.timestamp, 2000u);
  EXPECT_EQ(r.dischargeTime, 2010u);
  EXPECT_EQ(r.status, 0x46u);
  EXPECT_EQ(r.memoryIndexes, (std::vector<int32_t>{7}));

  EXPECT_FALSE(AssembleMessage({}));
  EXPECT_FALSE(AssembleMessage({report, report}));
  EXPECT_FALSE(AssembleMessage({Part("a", -1, 1000), report}));
}

}  // namespace
}  // namespace qm
