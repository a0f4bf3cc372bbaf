// Decoding of SMS-SUBMIT, SMS-DELIVER and SMS-STATUS-REPORT PDUs, and the
// joining of decoded parts into a message.
#include "sms/pdu_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

// Received PDUs from ModemManager's unit tests (src/tests/test-sms-part-3gpp.c).
TEST_F(DecodeTest, ModemManagerVectors) {
  const struct { const char *hex, *from, *text; int coding, reference, total; } cases[] = {
      {// test_pdu1: escape pairs, pound, Greek capitals, section and inverted question marks.
       "07912104442961F4040B916171957291F800001120821105050A6AC8B2BC7C9A83C220F6DB7D2ECB41EDF27C1E3E97411BDE0675"
       "4FD3D1A0F9BB5D0695F1F4B29B5C2683C6E8B03C3CA697E5F34D6AE303D1D1F2F7DD0D4ABB59A0797D8C0685E7A00028EC26832A"
       "960B28EC2683BE6050780EBA97D96C17", "16175927198",
       "Here's a longer message [{with some extended characters}] thrown in, such as \xC2\xA3 and "
       "\xCE\xA9\xCE\xA0\xCE\xA8 and \xC2\xA7\xC2\xBF as well.", 0, 0, 1},
      {// test_pdu2: alphanumeric sender, UCS2 text.
       "07919730071111F10414D04937BD2C7797E9D3E614000811309291024061080442043504410442", "InternetSMS",
       "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82", 8, 0, 1},
      {// test_pdu_dcsf1: DCS F1 (class 1), sender of TOA 85, CR LF.
       "07913306091093F0040485810000F111604231805180A049B7F90D9A1AA5A01668F8769BD3E4B29B9E2EB359A03FC85D06A9C3ED70"
       "7A0EA2CBC3EE79BB4CA7CBCBA05643617DA7C76990FD4D979741EE77DD5E0ED741ED371D442E83E0E1F9BC0CD281E677D9B84C06C1"
       "DF7539E85C9097E520FB9B2E2F83C6EF369C5E064D8D52D0BC2E07DDEF77D7DC2C7799E5A0771D040FCB41F402BB0047BFDD6550B8"
       "0ECAD966", "1800",
       "Info SFR - Confidentiel, \xC3\xA0 ne jamais transmettre -\r\nVoici votre nouveau mot de passe : sw2ced "
       "pour g\xC3\xA9rer votre compte SFR sur www.sfr.fr ou par t\xC3\xA9l\xC3\xA9phone au 963", 0, 0, 1},
      {// test_pdu_udhi: TP-PID 39, 16-bit concatenation reference 0x0010, part 1 of 2.
       "07911356131313F64004850120390011609232239180A006080400100201D7327BFD6EB340E2321BF46E83EA7790F59D1E97DBE134"
       "1B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241E5656838AF03A96230982A269BCD462917C8FA4E8F"
       "CBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EBFB2D079DCB62793DBD06D9C36E50FB2D4E97D9A0B49B"
       "5E96BBCB", "1002",
       "Welkom, bel om uw Voicemail te beluisteren naar +31612001233 (PrePay: *100*1233#). Voicemail ontvangen "
       "is altijd gratis. Voor gebruik van mobiel interne", 0, 0x10, 2},
  };
  for (const auto& c : cases) {
    auto d = DecodeReceivedPdu(HexToBytes(c.hex));
    ASSERT_TRUE(d) << c.from;
    EXPECT_EQ(d->from, c.from);
    EXPECT_EQ(d->text, c.text);
    EXPECT_EQ(std::tuple(d->coding, d->reference, d->total), std::tuple(c.coding, c.reference, c.total)) << c.from;
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
  // ModemManager's test_pdu_not_stored (src/tests/test-sms-part-3gpp.c): MR 0x5A, status 0x30.
  auto mm = DecodeReceivedPdu(HexToBytes("07914356060013F1065A098136397339F7219011700463802190117004638030"));
  ASSERT_TRUE(mm);
  EXPECT_EQ(mm->kind, kKindStatusReport);
  EXPECT_EQ(mm->from, "639337937");
  EXPECT_EQ(mm->messageReference, 0x5A);
  EXPECT_EQ(mm->status, 0x30);
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

// Senders cut surrogate pairs and escape pairs between parts: the parts join
// below the text. Hand-built: concatenation header 07 of 2, part n, then data.
TEST_F(DecodeTest, AssemblyJoinsUnitsCutBetweenParts) {
  const struct { std::string first, second, eachAlone, joined; } cases[] = {
      // UCS2 "A" D83D | DE00 "B": U+1F600 when joined.
      {Deliver("44", "08", "0A 050003070201 0041D83D"), Deliver("44", "08", "0A 050003070202 DE000042"),
       "A\xEF\xBF\xBD\xEF\xBF\xBD" "B", "A\xF0\x9F\x98\x80" "B"},
      // 7-bit "A" ESC | "<" "B", behind one fill bit (41 1B -> 82 1B, 3C 42 -> 78 42).
      {Deliver("44", "00", "09 050003070201 821B"), Deliver("44", "00", "09 050003070202 7842"), "A<B", "A[B"},
  };
  for (const auto& c : cases) {
    auto first = DecodeReceivedPdu(c.first);
    auto second = DecodeReceivedPdu(c.second);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text + second->text, c.eachAlone);
    auto joined = AssembleMessage({*first, *second});
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->body, c.joined);
  }
  // Parts in different codings, or with a part missing between them, join by their texts.
  const DecodedPdu ucs2 = *DecodeReceivedPdu(cases[0].first), gsm = *DecodeReceivedPdu(cases[1].second);
  EXPECT_EQ(AssembleMessage({ucs2, gsm})->body, "A\xEF\xBF\xBD<B");
  DecodedPdu third = *DecodeReceivedPdu(cases[0].second);
  third.part = 2;
  EXPECT_EQ(AssembleMessage({ucs2, third})->body, "A\xEF\xBF\xBD\xEF\xBF\xBD" "B");
}

}  // namespace
}  // namespace qm
