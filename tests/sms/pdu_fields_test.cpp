// The building blocks of the codec: numbers, validity, time stamps, the GSM
// alphabet and septet packing, the user-data header.
#include <gtest/gtest.h>

#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_address.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_time.h"
#include "sms/user_data_header.h"
#include "tests/sms/scoped_time_zone.h"

namespace qm {
namespace {

TEST(NormaliseNumber, CleansNumbersForSending) {
  // Slash part, leading "00", brackets, blanks and dash go.
  EXPECT_EQ(NormaliseNumber("00(12) 34-5/x", 1), "12345");
  EXPECT_EQ(NormaliseNumber("+44 (0)20 7946-0000", 1), "440207946" "0000");
  EXPECT_EQ(NormaliseNumber("+0049123", 1), "0049123");  // after "+" nothing else is cut
  EXPECT_EQ(NormaliseNumber("01049301234", 1), "49301234");
  EXPECT_EQ(NormaliseNumber("000123", 1), "000123");  // "00" followed by "0" stays
  EXPECT_EQ(NormaliseNumber("001", 1), "001");        // three characters are too short
  EXPECT_EQ(NormaliseNumber("0012", 1), "12");
  EXPECT_EQ(NormaliseNumber("0049 170", 0), "0049170");  // national numbers keep their zeros
  EXPECT_EQ(NormaliseNumber("/123", 1), "");
}

TEST(EncodeAddress, SemiOctetsAndTypeOfAddress) {
  EXPECT_EQ(BytesToHex(EncodeAddress("12345", 1)), "05912143F5");
  EXPECT_EQ(BytesToHex(EncodeAddress("1234", 0)), "04812143");
  EXPECT_EQ(BytesToHex(EncodeAddress("", 0)), "0081");
  EXPECT_EQ(BytesToHex(EncodeAddress("12", 2)), "02A121");
  // Hex letters keep their value, anything else counts as 0, and a UTF-8
  // character counts once.
  EXPECT_EQ(BytesToHex(EncodeAddress("aB*\xC3\xA9", 1)), "0491BA00");
}

TEST(ReadAddress, DecimalDigitsSkipNibblesAboveNine) {
  std::string out;
  const std::string field = HexToBytes("0591A1B2F3");
  PduReader reader(field);
  ASSERT_TRUE(ReadAddress(reader, out, "TP-OA"));
  EXPECT_EQ(out, "123");
  const std::string emptyField = HexToBytes("0081");
  PduReader empty(emptyField);
  ASSERT_TRUE(ReadAddress(empty, out, "TP-OA"));
  EXPECT_EQ(out, "");
}

TEST(EncodeValidity, FollowsTheRelativeFormat) {
  EXPECT_EQ(EncodeValidity(3600), 11);          // 12 x 5 minutes
  EXPECT_EQ(EncodeValidity(86400), 167);        // 12 h + 24 x 30 minutes
  EXPECT_EQ(EncodeValidity(7 * 86400), 173);    // 7 days
  EXPECT_EQ(EncodeValidity(56 * 86400), 200);   // 8 weeks
  EXPECT_EQ(EncodeValidity(43200), 143);
  EXPECT_EQ(EncodeValidity(30 * 86400), 196);
  EXPECT_EQ(EncodeValidity(63 * 7 * 86400), 255);
  EXPECT_EQ(EncodeValidity(64 * 7 * 86400), 255);  // does not wrap to 5 minutes
  EXPECT_EQ(EncodeValidity(1), 0);
  EXPECT_EQ(EncodeValidity(0), 0);
  EXPECT_EQ(EncodeValidity(-1), 0);  // an expiry already past
  // Never more than asked for, from the shortest period up to 63 weeks.
  for (int64_t v = 300; v <= 63 * 7 * 86400; v += v / 50 + 7) {
    const uint8_t vp = EncodeValidity(v);
    EXPECT_LE(ValidityPeriodSeconds(vp), v) << v;
    if (vp < 255) {
      EXPECT_GT(ValidityPeriodSeconds(static_cast<uint8_t>(vp + 1)), v) << v;
    }
  }
}

TEST(LocalTimeToUnix, AgreesWithMktime) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "UTC", "Australia/Lord_Howe"}) {
    test::ScopedTimeZone tz(zone);
    for (int day = 0; day < 366; ++day) {
      for (int minute = 0; minute < 24 * 60; minute += 30) {
        const int h = minute / 60, m = minute % 60;
        const int64_t mine = LocalTimeToUnix(2013, 1, 1 + day, h, m, 17);
        const int64_t libc = test::MkTime(2013, 1, 1 + day, h, m, 17);
        if (mine == libc) continue;
        // Only a local time that happens twice (clocks set back) may differ,
        // and then both must name that local time.
        std::tm a{}, b{};
        const time_t ta = mine, tb = libc;
        localtime_r(&ta, &a);
        localtime_r(&tb, &b);
        EXPECT_EQ(a.tm_hour * 60 + a.tm_min, minute) << zone << " day " << day << " " << minute;
        EXPECT_EQ(b.tm_hour * 60 + b.tm_min, minute) << zone << " day " << day << " " << minute;
      }
    }
  }
  test::ScopedTimeZone utc("UTC");
  EXPECT_EQ(LocalTimeToUnix(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(LocalTimeToUnix(2013, 13, 1, 0, 0, 0), LocalTimeToUnix(2014, 1, 1, 0, 0, 0));  // carried like mktime
  EXPECT_EQ(ToMessageTime(-5), 0u);
  EXPECT_EQ(ToMessageTime(int64_t{1} << 33), 0u);
}

TEST(GsmAlphabet, SendingMapsAsciiOntoTheDefaultAlphabet) {
  EXPECT_EQ(BytesToHex(ToGsmSeptets("@$_`a")), "00021160" "61");
  EXPECT_EQ(BytesToHex(ToGsmSeptets("^{}\\[~]|")), "1B141B281B291B2F1B3C1B3D1B3E1B40");
  EXPECT_EQ(BytesToHex(ToGsmSeptets("\r\n\x01")), "0D0A01");
}

TEST(GsmAlphabet, ReceptionTableAndEscapes) {
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("0001021F245F60")), "@\xC2\xA3$\xC3\x89\xC2\xA4\xC2\xA7\xC2\xBF");
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("1B651B141B40")), "\xE2\x82\xAC^|");
  // Unknown escaped septets (the form feed included) and a trailing escape
  // yield nothing.
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("411B0A421B4143")), "ABC");
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("411B")), "A");
  // Sending then receiving gives back every printable ASCII character except
  // the grave accent, which the default alphabet lacks.
  std::string ascii;
  for (char c = ' '; c < 0x7F; ++c) {
    if (c != '`') ascii.push_back(c);
  }
  const std::string septets = ToGsmSeptets(ascii);
  EXPECT_EQ(GsmSeptetsToUtf8(UnpackSeptets(PackSeptets(septets), 0, septets.size())), ascii);
}

TEST(SeptetPacking, PacksAndUnpacksAtAnyFill) {
  EXPECT_EQ(BytesToHex(PackSeptets(ToGsmSeptets("hellohello"))), "E8329BFD4697D9EC37");
  EXPECT_EQ(PackSeptets(std::string(8, 0x7F)).size(), 7u);
  EXPECT_EQ(BytesToHex(PackSeptetsAfterHeader(ToGsmSeptets("Hi"))), "9069");
  EXPECT_EQ(PackSeptetsAfterHeader("").size(), 0u);
  const std::string septets = ToGsmSeptets("The quick brown fox");
  for (int fill = 0; fill < 7; ++fill) {
    EXPECT_EQ(UnpackSeptets(PackSeptetsWithFill(septets, fill), fill, septets.size()), septets)
        << fill;
  }
  // Only whole septets present in the data are returned.
  EXPECT_EQ(UnpackSeptets(HexToBytes("E832"), 0, 10).size(), 2u);
}

TEST(UserDataHeader, ElementsAndAlignment) {
  EXPECT_EQ(SeptetFillBits(5), 1);
  EXPECT_EQ(SeptetFillBits(6), 0);
  EXPECT_EQ(SeptetFillBits(4), 2);
  EXPECT_EQ(HeaderSeptets(5), 7);
  EXPECT_EQ(HeaderSeptets(6), 8);
  EXPECT_EQ(HeaderSeptets(11), 14);

  UserDataHeaderInfo info = ParseUserDataHeader(HexToBytes("0504" "0B8423F0" "0003" "2A0302"));
  EXPECT_TRUE(info.ported);
  EXPECT_TRUE(info.concatenated);
  EXPECT_EQ(info.reference, 0x2A);
  EXPECT_EQ(info.total, 3);
  EXPECT_EQ(info.part, 1);
  // Unknown elements are skipped; one that runs past the header ends the walk.
  info = ParseUserDataHeader(HexToBytes("2401FF" "0003070201" "0009"));
  EXPECT_EQ(info.reference, 7);
  info = ParseUserDataHeader(HexToBytes("000507"));
  EXPECT_FALSE(info.concatenated);
  // A concatenation element too short for its values is skipped.
  info = ParseUserDataHeader(HexToBytes("00020102"));
  EXPECT_FALSE(info.concatenated);
}

}  // namespace
}  // namespace qm
