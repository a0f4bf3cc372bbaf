// SMS-SUBMIT encoding: byte-exact vectors, segmentation and round trips
// through the decoder.
#include "sms/pdu_encoder.h"

#include <gtest/gtest.h>

#include <string>

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

// TP-UDL of a PDU to "+4412345678" without SMSC address: octet 13, behind
// SMSC 00, first octet, MR, DA (7 octets), PID, DCS and VP.
int Udl(const SubmitPdu& pdu) { return static_cast<unsigned char>(HexToBytes(pdu.hex)[13]); }

TEST(BuildSubmitPdus, ByteExactVectors) {
  const PduSettings none;
  auto hex = [&](const SMSMessage& m) {
    SubmitPdus out = BuildSubmitPdus(m, none, 0);
    EXPECT_EQ(out.pdus.size(), 1u);
    EXPECT_EQ(out.pdus.at(0).tpduLength * 2 + 2, static_cast<int>(out.pdus[0].hex.size()));
    return out.pdus.at(0).hex;
  };
  // One day of validity is VP A7 (167 = 24 hours).
  EXPECT_EQ(hex(Sms("+44 1234 5678", "Hello")), "0011000A9144214365870000A705C8329BFD06");
  EXPECT_EQ(hex(Sms("+44 1234 5678", "Hello", kFlagFlash)), "0011000A9144214365870010A705C8329BFD06");
  EXPECT_EQ(hex(Sms("+44 1234 5678", "Hello", kFlagStatusReport)), "0031000A9144214365870000A705C8329BFD06");
  // Any character above 127 makes the text UCS2, even the pound sign that the
  // GSM alphabet has.
  EXPECT_EQ(hex(Sms("+44 1234 5678", "\xC2\xA3t")), "0011000A9144214365870008A70400A30074");
  // The SMS-SUBMIT example of the "SMS and the PDU format" page
  // (dreamfabric.com): an odd number of digits, valid four days (VP AA).
  SMSMessage published = Sms("+46708251358", "hellohello");
  published.expires = published.timestamp + 4 * 86400;
  EXPECT_EQ(hex(published), "0011000B916407281553F80000AA0AE8329BFD4697D9EC37");

  PduSettings smsc;
  smsc.smscAddressInPdu = true;
  smsc.smscAddress = "+44 7785 016005";
  EXPECT_EQ(BuildSubmitPdus(Sms("+44 1234 5678", "Hello"), smsc, 0).pdus.at(0).hex,
            "0791447758100650" "11000A9144214365870000A705C8329BFD06");
  smsc.smscAddress = "+";  // nothing left to send: the modem's centre
  EXPECT_EQ(BuildSubmitPdus(Sms("+44 1234 5678", "Hello"), smsc, 0).pdus.at(0).hex,
            "00" "11000A9144214365870000A705C8329BFD06");
}

TEST(BuildSubmitPdus, SegmentBoundaries) {
  const struct {
    int lengthCorrection;
    std::string body;
    std::vector<int> udl;  // of each segment, header included
  } cases[] = {
      // 160 septets fit one PDU; one more gives segments of 153 + 7 header septets.
      {0, std::string(160, 'a'), {160}},
      {0, std::string(161, 'a'), {160, 15}},
      // 70 UCS2 characters fit; one more gives segments of 67 + a 6-octet header.
      {0, Repeat("\xC3\xA9", 70), {140}},
      {0, Repeat("\xC3\xA9", 71), {140, 14}},
      // 153 "[" are 306 septets: a segment of 153 would end on an escape, so
      // each holds 152.
      {0, std::string(153, '['), {159, 159, 9}},
      // A surrogate pair at code units 66..67 moves whole to the second segment.
      {0, Repeat("\xC3\xA9", 66) + "\xF0\x9F\x98\x80" + Repeat("\xC3\xA9", 10), {138, 30}},
      // A correction of 1 leaves 138 octets (made even): 157 septets fit, 158
      // are split into runs of 138 * 8 / 7 - 7 = 150.
      {1, std::string(157, 'x'), {157}},
      {1, std::string(158, 'x'), {157, 15}},
      // A negative correction never raises the limit above 140 octets.
      {-20, std::string(161, 'x'), {160, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 8) + " x " + std::to_string(c.body.size()));
    PduSettings settings;
    settings.lengthCorrection = c.lengthCorrection;
    const SMSMessage m = Sms("+4412345678", c.body);
    SubmitPdus out = BuildSubmitPdus(m, settings, 0x42);
    ASSERT_EQ(out.pdus.size(), c.udl.size());
    EXPECT_EQ(CountSegments(m, settings), static_cast<int>(c.udl.size()));
    for (std::size_t i = 0; i < c.udl.size(); ++i) EXPECT_EQ(Udl(out.pdus[i]), c.udl[i]) << i;
  }
}

TEST(BuildSubmitPdus, RefusesWhatCannotBeEncoded) {
  const PduSettings none;
  // 255 segments of 153 septets are the most a message can have.
  const SMSMessage longest = Sms("+4412345678", std::string(255 * 153, 'a'));
  EXPECT_EQ(CountSegments(longest, none), 255);
  EXPECT_EQ(BuildSubmitPdus(longest, none, 0).pdus.size(), 255u);
  const SMSMessage tooLong = Sms("+4412345678", std::string(255 * 153 + 1, 'a'));
  SubmitPdus refused = BuildSubmitPdus(tooLong, none, 0);
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
  EXPECT_EQ(CountSegments(Sms("+123456789012345678901", "x"), none), 0);
  EXPECT_TRUE(BuildSubmitPdus(Sms("+12345678901234567890", "x"), none, 0).ok());

  // Kinds never sent as a PDU give nothing, and no error.
  SubmitPdus ussd = BuildSubmitPdus(USSDRequest("*100#"), none, 0);
  EXPECT_TRUE(ussd.ok());
  EXPECT_TRUE(ussd.pdus.empty());
  EXPECT_EQ(CountSegments(StatusReport("+1", "", 1, 0, 0), none), 0);
}

// Every message comes back whole from its segments, in as many segments as
// counted; lengths around each boundary for each width of character.
TEST(BuildSubmitPdus, RoundTripsThroughTheDecoder) {
  std::vector<std::string> texts = {
      "Price: 5 $ @ shop_1 {a} [b] ~c| ^d \\e\r\nnext line\fnext page",
      std::string(400, 'z') + "[" + std::string(300, ']'),
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC \xF0\x9F\x98\x80",
      Repeat("\xE4\xB8\xAD\xF0\x9F\x98\x80", 90),
  };
  for (std::string unit : {"a", "[", "\xC3\xA9", "\xF0\x9F\x98\x80"}) {
    for (int n = 0; n < 420; n += 7) texts.push_back(Repeat(unit, n) + (n % 2 ? "]" : ""));
  }
  PduSettings smsc;  // used for every other text: its part is not in tpduLength
  smsc.smscAddress = "+44 7785 016005";
  smsc.smscAddressInPdu = true;
  for (std::size_t t = 0; t < texts.size(); ++t) {
    SCOPED_TRACE(texts[t]);
    const PduSettings settings = t % 2 ? smsc : PduSettings{};
    const SMSMessage m = Sms("+4412345678", texts[t]);
    SubmitPdus out = BuildSubmitPdus(m, settings, 0xC8);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(CountSegments(m, settings), static_cast<int>(out.pdus.size()));
    std::vector<DecodedPdu> parts;
    for (const SubmitPdu& pdu : out.pdus) {
      const std::string bytes = HexToBytes(pdu.hex);
      EXPECT_EQ(pdu.tpduLength, static_cast<int>(bytes.size()) - (t % 2 ? 8 : 1));
      auto decoded = DecodeSubmitPdu(bytes);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->from, "4412345678");
      EXPECT_EQ(decoded->total, static_cast<int>(out.pdus.size()));
      EXPECT_EQ(decoded->reference, out.pdus.size() > 1 ? 0xC8 : 0);
      EXPECT_EQ(decoded->part, static_cast<int>(parts.size()));
      parts.push_back(*decoded);
    }
    auto joined = AssembleMessage(parts);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->body, texts[t]);
  }
}

}  // namespace
}  // namespace qm
