// SMS-SUBMIT encoding: byte-exact vectors, segmentation and round trips
// through the decoder.
#include "sms/pdu_encoder.h"

#include <gtest/gtest.h>

#include <string>

#include "sms/hex.h"
#include "sms/pdu_decoder.h"

namespace qm {
namespace {

SMSMessage Sms(std::string to, std::string body, uint32_t flags = 0) {
  SMSMessage m("", std::move(to), std::move(body));
  m.flags = flags;
  return m;
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// The octet at `offset` (counted in octets) of a PDU in hex.
int OctetAt(const SubmitPdu& pdu, std::size_t offset) {
  return static_cast<unsigned char>(HexToBytes(pdu.hex)[offset]);
}

// The user data of our PDUs starts after SMSC 00, first octet, MR, DA of
// "+4412345678" (7 octets), PID, DCS, VP: TP-UDL is octet 13.
constexpr std::size_t kUdlOffset = 13;

TEST(BuildSubmitPdus, HelloIsByteExact) {
  const PduSettings none;
  SubmitPdus out = BuildSubmitPdus(Sms("+44 1234 5678", "Hello"), none, 0);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.pdus.size(), 1u);
  // One day of validity is VP A7 (TS 23.040: 167 = 24 hours).
  EXPECT_EQ(out.pdus[0].hex, "0011000A9144214365870000A705C8329BFD06");
  EXPECT_EQ(out.pdus[0].tpduLength, 18);

  EXPECT_EQ(BuildSubmitPdus(Sms("+44 1234 5678", "Hello", kFlagFlash), none, 0).pdus[0].hex,
            "0011000A9144214365870010A705C8329BFD06");
  EXPECT_EQ(BuildSubmitPdus(Sms("+44 1234 5678", "Hello", kFlagStatusReport), none, 0).pdus[0].hex,
            "0031000A9144214365870000A705C8329BFD06");
}

TEST(BuildSubmitPdus, SmscAddressInPdu) {
  PduSettings settings;
  settings.smscAddress = "+44 7785 016005";
  settings.smscAddressInPdu = true;
  EXPECT_EQ(BytesToHex(EncodeSmscPart(settings)), "0791447758100650");
  EXPECT_EQ(SmscPartLength(settings), 8);
  SubmitPdus out = BuildSubmitPdus(Sms("+44 1234 5678", "Hello"), settings, 0);
  ASSERT_EQ(out.pdus.size(), 1u);
  EXPECT_EQ(out.pdus[0].hex, "0791447758100650" "11000A9144214365870000A705C8329BFD06");
  EXPECT_EQ(out.pdus[0].tpduLength, 18);  // the SMSC part is not counted

  settings.smscAddressInPdu = false;
  EXPECT_EQ(SmscPartLength(settings), 1);
  settings.smscAddressInPdu = true;
  settings.smscAddress = "+";  // nothing left to send: the modem's centre
  EXPECT_EQ(BytesToHex(EncodeSmscPart(settings)), "00");
}

TEST(BuildSubmitPdus, SevenBitBoundaryAt160) {
  const PduSettings none;
  SubmitPdus one = BuildSubmitPdus(Sms("+4412345678", std::string(160, 'a')), none, 0x42);
  ASSERT_EQ(one.pdus.size(), 1u);
  EXPECT_EQ(OctetAt(one.pdus[0], kUdlOffset), 160);
  EXPECT_EQ(one.pdus[0].tpduLength, 13 + 140);

  SubmitPdus two = BuildSubmitPdus(Sms("+4412345678", std::string(161, 'a')), none, 0x42);
  ASSERT_EQ(two.pdus.size(), 2u);
  EXPECT_EQ(OctetAt(two.pdus[0], 1), 0x51);  // TP-UDHI set
  EXPECT_EQ(OctetAt(two.pdus[0], kUdlOffset), 160);  // 153 + 7
  EXPECT_EQ(OctetAt(two.pdus[1], kUdlOffset), 15);   // 8 + 7
  EXPECT_EQ(two.pdus[0].hex.substr(2 * (kUdlOffset + 1), 12), "050003420201");
  EXPECT_EQ(two.pdus[1].hex.substr(2 * (kUdlOffset + 1), 12), "050003420202");
}

TEST(BuildSubmitPdus, Ucs2BoundaryAt70) {
  const PduSettings none;
  SubmitPdus one = BuildSubmitPdus(Sms("+4412345678", Repeat("\xC3\xA9", 70)), none, 7);
  ASSERT_EQ(one.pdus.size(), 1u);
  EXPECT_EQ(OctetAt(one.pdus[0], 11), 0x08);  // DCS UCS2
  EXPECT_EQ(OctetAt(one.pdus[0], kUdlOffset), 140);

  SubmitPdus two = BuildSubmitPdus(Sms("+4412345678", Repeat("\xC3\xA9", 71)), none, 7);
  ASSERT_EQ(two.pdus.size(), 2u);
  EXPECT_EQ(OctetAt(two.pdus[0], kUdlOffset), 134 + 6);
  EXPECT_EQ(OctetAt(two.pdus[1], kUdlOffset), 8 + 6);
}

TEST(BuildSubmitPdus, EscapePairIsNeverSplit) {
  // 153 "[" are 306 septets; a segment holds 153, which would end the first
  // segment on an escape. Each segment holds 152 instead.
  const PduSettings none;
  const SMSMessage m = Sms("+4412345678", std::string(153, '['));
  SubmitPdus out = BuildSubmitPdus(m, none, 9);
  ASSERT_EQ(out.pdus.size(), 3u);
  EXPECT_EQ(CountSegments(m, none), 3);
  const int udl[] = {152 + 7, 152 + 7, 2 + 7};
  const char* headers[] = {"050003090301", "050003090302", "050003090303"};
  std::string joined;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(OctetAt(out.pdus[i], kUdlOffset), udl[i]);
    EXPECT_EQ(out.pdus[i].hex.substr(2 * (kUdlOffset + 1), 12), headers[i]);
    // A receiver that shows each segment alone sees whole characters.
    auto part = DecodeSubmitPdu(HexToBytes(out.pdus[i].hex));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->text, std::string(i < 2 ? 76 : 1, '['));
    joined += part->text;
  }
  EXPECT_EQ(joined, m.body);
}

TEST(BuildSubmitPdus, SurrogatePairIsNeverSplit) {
  // 66 "é", then U+1F600 (two code units) at units 66..67, then 10 "é".
  const PduSettings none;
  const std::string body = Repeat("\xC3\xA9", 66) + "\xF0\x9F\x98\x80" + Repeat("\xC3\xA9", 10);
  SubmitPdus out = BuildSubmitPdus(Sms("+4412345678", body), none, 1);
  ASSERT_EQ(out.pdus.size(), 2u);
  EXPECT_EQ(OctetAt(out.pdus[0], kUdlOffset), 66 * 2 + 6);
  EXPECT_EQ(OctetAt(out.pdus[1], kUdlOffset), 12 * 2 + 6);
  auto second = DecodeSubmitPdu(HexToBytes(out.pdus[1].hex));
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->text.starts_with("\xF0\x9F\x98\x80"));
}

TEST(BuildSubmitPdus, LengthCorrectionNarrowsTheLimit) {
  PduSettings settings;
  settings.lengthCorrection = 1;
  EXPECT_EQ(UserDataLimit(settings), 138);  // 139 made even
  // 157 septets pack into 138 octets and fit; 158 need 139 and are split
  // into runs of 138 * 8 / 7 - 7 = 150.
  EXPECT_EQ(BuildSubmitPdus(Sms("+4412345678", std::string(157, 'x')), settings, 0).pdus.size(), 1u);
  SubmitPdus two = BuildSubmitPdus(Sms("+4412345678", std::string(158, 'x')), settings, 0);
  ASSERT_EQ(two.pdus.size(), 2u);
  EXPECT_EQ(OctetAt(two.pdus[0], kUdlOffset), 150 + 7);

  settings.lengthCorrection = -20;  // never above the 140 octets of TP-UD
  EXPECT_EQ(UserDataLimit(settings), 140);
}

TEST(BuildSubmitPdus, RefusesWhatCannotBeEncoded) {
  const PduSettings none;
  // 255 segments of 153 septets are the most a message can have.
  const SMSMessage longest = Sms("+4412345678", std::string(255 * 153, 'a'));
  EXPECT_EQ(CountSegments(longest, none), 255);
  EXPECT_EQ(BuildSubmitPdus(longest, none, 0).pdus.size(), 255u);
  const SMSMessage tooLong = Sms("+4412345678", std::string(255 * 153 + 1, 'a'));
  SubmitPdus refused = BuildSubmitPdus(tooLong, none, 0);
  EXPECT_FALSE(refused.ok());
  EXPECT_TRUE(refused.pdus.empty());
  EXPECT_EQ(refused.error, "Message too long: it would need more than 255 segments");
  EXPECT_EQ(CountSegments(tooLong, none), 0);

  // A correction that leaves no room for a segment fails a long message but
  // still lets a short one through.
  PduSettings squeezed;
  squeezed.lengthCorrection = 133;
  EXPECT_EQ(BuildSubmitPdus(Sms("+4412345678", "short"), squeezed, 0).pdus.size(), 1u);
  SubmitPdus noRoom = BuildSubmitPdus(Sms("+4412345678", std::string(20, 'a')), squeezed, 0);
  EXPECT_EQ(noRoom.error, "No room for the message text: sms.length_correction is too large");
  squeezed.lengthCorrection = 132;  // room for 2 septets, not for one surrogate pair
  EXPECT_EQ(CountSegments(Sms("+4412345678", std::string(20, 'a')), squeezed), 10);
  EXPECT_FALSE(BuildSubmitPdus(Sms("+4412345678", Repeat("\xF0\x9F\x98\x80", 5)), squeezed, 0).ok());

  SubmitPdus longNumber = BuildSubmitPdus(Sms("+123456789012345678901", "x"), none, 0);
  EXPECT_EQ(longNumber.error, "Destination number too long: more than 20 digits");
  EXPECT_TRUE(BuildSubmitPdus(Sms("+12345678901234567890", "x"), none, 0).ok());
}

TEST(BuildSubmitPdus, OtherKindsGiveNothing) {
  const PduSettings none;
  USSDRequest ussd("*100#");
  SubmitPdus out = BuildSubmitPdus(ussd, none, 0);
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.pdus.empty());
  EXPECT_EQ(CountSegments(StatusReport("+1", "", 1, 0, 0), none), 0);
}

TEST(BuildSubmitPdus, CountSegmentsAgreesWithWhatIsBuilt) {
  const PduSettings none;
  for (std::string unit : {"a", "[", "\xC3\xA9", "\xF0\x9F\x98\x80"}) {
    for (int n = 0; n < 420; n += 7) {
      const SMSMessage m = Sms("+4412345678", Repeat(unit, n) + (n % 2 ? "]" : ""));
      EXPECT_EQ(static_cast<std::size_t>(CountSegments(m, none)), BuildSubmitPdus(m, none, 0).pdus.size())
          << unit << " x " << n;
    }
  }
}

TEST(BuildSubmitPdus, RoundTripsThroughTheDecoder) {
  const PduSettings none;
  const std::string texts[] = {
      "",
      "Hello",
      "Price: 5 $ @ shop_1 {a} [b] ~c| ^d \\e\r\nnext line",
      std::string(400, 'z') + "[" + std::string(300, ']'),
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC \xF0\x9F\x98\x80",
      Repeat("\xE4\xB8\xAD\xF0\x9F\x98\x80", 90),
  };
  for (const std::string& text : texts) {
    const SMSMessage m = Sms("+4412345678", text);
    SubmitPdus out = BuildSubmitPdus(m, none, 0xC8);
    ASSERT_TRUE(out.ok());
    std::vector<DecodedPdu> parts;
    for (const SubmitPdu& pdu : out.pdus) {
      const std::string bytes = HexToBytes(pdu.hex);
      EXPECT_EQ(pdu.tpduLength, static_cast<int>(bytes.size()) - 1);
      auto decoded = DecodeSubmitPdu(bytes);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->from, "4412345678");
      EXPECT_EQ(decoded->total, static_cast<int>(out.pdus.size()));
      if (out.pdus.size() > 1) {
        EXPECT_EQ(decoded->reference, 0xC8);
      }
      EXPECT_EQ(decoded->part, static_cast<int>(parts.size()));
      parts.push_back(*decoded);
    }
    auto joined = AssembleMessage(parts);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->body, text);
  }
}

TEST(EncodeSubmitHeader, NumbersAndTypes) {
  const PduSettings none;
  SubmitHeaderFields fields;
  fields.destination = "0049 (170) 123-45/mobile";
  fields.typeOfNumber = 1;
  // Slash part, "00", brackets, blanks and dash removed: 4917012345.
  EXPECT_EQ(BytesToHex(EncodeSubmitHeader(fields, none)), "0011000A9194711032540000A7");
  fields.destination = "0170 1234567";
  fields.typeOfNumber = 0;
  fields.validitySeconds = 3600;
  fields.coding = kCodingUcs2;
  fields.userDataHeader = true;
  EXPECT_EQ(BytesToHex(EncodeSubmitHeader(fields, none)), "0051000B811007214365F700080B");
}

TEST(DetectCoding, AnyCharacterAbove127IsUcs2) {
  EXPECT_EQ(DetectCoding("plain `text` {}"), kCoding7Bit);
  EXPECT_EQ(DetectCoding("\xC2\xA3"), kCodingUcs2);  // the pound sign is in the GSM alphabet, still UCS2
  EXPECT_EQ(BytesToHex(EncodeUcs2("A\xC3\xA9\xF0\x9F\x98\x80")), "004100E9D83DDE00");
}

}  // namespace
}  // namespace qm
