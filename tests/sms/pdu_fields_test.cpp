// The building blocks of the codec: numbers, validity, local times and the
// GSM alphabet.
#include <gtest/gtest.h>

#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_address.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_time.h"
#include "tests/sms/scoped_time_zone.h"

namespace qm {
namespace {

TEST(NormaliseNumber, CleansNumbersForSending) {
  // Slash part, leading "00", brackets, blanks and dash go.
  EXPECT_EQ(NormaliseNumber("0049 (170) 123-45/mobile", 1), "4917012345");
  EXPECT_EQ(NormaliseNumber("+0049123", 1), "0049123");  // after "+" nothing else is cut
  EXPECT_EQ(NormaliseNumber("01049301234", 1), "49301234");
  EXPECT_EQ(NormaliseNumber("000123", 1), "000123");  // "00" followed by "0" stays
  EXPECT_EQ(NormaliseNumber("001", 1), "001");        // three characters are too short
  EXPECT_EQ(NormaliseNumber("0049 170", 0), "0049170");  // national numbers keep their zeros
}

TEST(EncodeValidity, LongestPeriodNotAboveTheRequest) {
  EXPECT_EQ(EncodeValidity(-1), 0);  // an expiry already past: the shortest period
  // The top of each range of the relative format.
  EXPECT_EQ(EncodeValidity(43200), 143);  // 12 hours in 5-minute steps
  EXPECT_EQ(EncodeValidity(86400), 167);  // then 30-minute steps to a day
  EXPECT_EQ(EncodeValidity(30 * 86400), 196);
  EXPECT_EQ(EncodeValidity(63 * 7 * 86400), 255);
  EXPECT_EQ(EncodeValidity(64 * 7 * 86400), 255);  // does not wrap to 5 minutes
  for (int64_t v = 300; v <= 63 * 7 * 86400; v += v / 50 + 7) {
    const uint8_t vp = EncodeValidity(v);
    EXPECT_LE(ValidityPeriodSeconds(vp), v) << v;
    if (vp < 255) {
      EXPECT_GT(ValidityPeriodSeconds(static_cast<uint8_t>(vp + 1)), v) << v;
    }
  }
}

TEST(LocalTimeToUnix, AgreesWithMktimeAroundEveryChangeOfOffset) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe"}) {
    test::ScopedTimeZone tz(zone);
    int changes = 0;
    for (time_t t = 1356998400; t < 1356998400 + 366 * 86400; t += 1800) {  // 2013 (UTC)
      std::tm a{}, b{};
      const time_t earlier = t - 1800;
      localtime_r(&earlier, &a);
      localtime_r(&t, &b);
      if (a.tm_gmtoff == b.tm_gmtoff) continue;
      ++changes;
      // Local times every 10 minutes from 3 hours before to 3 hours after,
      // through the gap or the repeated hour.
      for (time_t wall = t + a.tm_gmtoff - 3 * 3600; wall <= t + b.tm_gmtoff + 3 * 3600; wall += 600) {
        std::tm f{};
        gmtime_r(&wall, &f);
        const int64_t mine = LocalTimeToUnix(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, 17);
        const int64_t libc = test::MkTime(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, 17);
        if (mine == libc) continue;
        // Only a local time that happens twice may differ, and then both must name it.
        for (const time_t named : {static_cast<time_t>(mine), static_cast<time_t>(libc)}) {
          std::tm n{};
          localtime_r(&named, &n);
          EXPECT_EQ(n.tm_hour * 60 + n.tm_min, f.tm_hour * 60 + f.tm_min) << zone << " " << wall;
        }
      }
    }
    EXPECT_EQ(changes, 2) << zone;
  }
  test::ScopedTimeZone utc("UTC");
  // Months out of range are carried like mktime does.
  EXPECT_EQ(LocalTimeToUnix(2013, 13, 1, 0, 0, 0), LocalTimeToUnix(2014, 1, 1, 0, 0, 0));
  EXPECT_EQ(LocalTimeToUnix(2013, 0, 1, 0, 0, 0), LocalTimeToUnix(2012, 12, 1, 0, 0, 0));
  EXPECT_EQ(ToMessageTime((int64_t{1} << 32) + 5), 0u);  // after 2106: unknown, not wrapped
}

TEST(GsmAlphabet, CharactersApartFromAsciiAndEscapes) {
  EXPECT_EQ(BytesToHex(ToGsmSeptets("@$_{[\f")), "0002111B281B3C1B0A");
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("0001021F245F601B65")),
            "@\xC2\xA3$\xC3\x89\xC2\xA4\xC2\xA7\xC2\xBF\xE2\x82\xAC");  // @£$É¤§¿€
  // Escape 0A is the form feed; other unknown escaped septets and a trailing
  // escape yield nothing.
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("411B0A421B4143")), "A\fBC");
  EXPECT_EQ(GsmSeptetsToUtf8(HexToBytes("411B")), "A");
  // Sending then receiving gives back the form feed and every printable ASCII
  // character except the grave accent, which the default alphabet lacks.
  std::string ascii = "\f";
  for (char c = ' '; c < 0x7F; ++c) {
    if (c != '`') ascii.push_back(c);
  }
  EXPECT_EQ(GsmSeptetsToUtf8(ToGsmSeptets(ascii)), ascii);
}

}  // namespace
}  // namespace qm
