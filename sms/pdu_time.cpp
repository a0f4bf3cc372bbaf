#include "sms/pdu_time.h"

#include <cstdio>
#include <ctime>
#include <limits>

#include "sms/pdu_decoder.h"

namespace qm {
namespace {

constexpr int64_t kMinute = 60;
constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 86400;
constexpr int64_t kWeek = 7 * kDay;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// The zone's offset from UTC at `t`, in seconds.
bool OffsetAt(int64_t t, int64_t& offset) {
  if (t < std::numeric_limits<time_t>::min() || t > std::numeric_limits<time_t>::max()) return false;
  const auto tt = static_cast<time_t>(t);
  std::tm tm{};
  if (localtime_r(&tt, &tm) == nullptr) return false;
  offset = tm.tm_gmtoff;
  return true;
}

int Bcd(uint8_t octet) { return (octet & 0x0F) * 10 + (octet >> 4); }

}  // namespace

uint8_t EncodeValidity(int64_t seconds) {
  if (seconds <= 0) return 0;
  int64_t vp;
  if (seconds <= 12 * kHour) {
    vp = (seconds / (5 * kMinute) > 1 ? seconds / (5 * kMinute) : 1) - 1;
  } else if (seconds <= kDay) {
    vp = (seconds - 12 * kHour) / (30 * kMinute) + 143;
  } else if (seconds <= 30 * kDay) {
    vp = seconds / kDay + 166;
  } else {
    vp = seconds / kWeek + 192;
  }
  return static_cast<uint8_t>(vp > 255 ? 255 : vp);
}

int64_t ValidityPeriodSeconds(uint8_t vp) {
  if (vp <= 143) return (vp + 1) * 5 * kMinute;
  if (vp <= 167) return 12 * kHour + (vp - 143) * 30 * kMinute;
  if (vp <= 196) return (vp - 166) * kDay;
  return (vp - 192) * kWeek;
}

int64_t LocalTimeToUnix(int year, int month, int day, int hour, int minute, int second) {
  // mktime itself re-reads the zone file on every call when TZ is unset,
  // which costs microseconds per PDU; localtime_r does not. So: take the
  // fields as UTC, then find the instant whose local time they are.
  const int64_t months = static_cast<int64_t>(month) - 1;
  const int64_t y = static_cast<int64_t>(year) + FloorDiv(months, 12);
  const int64_t m = months - FloorDiv(months, 12) * 12 + 1;
  const int64_t asUtc = (DaysFromCivil(y, m, 1) + day - 1) * kDay + static_cast<int64_t>(hour) * kHour +
                        static_cast<int64_t>(minute) * kMinute + second;
  int64_t offset = 0;
  if (!OffsetAt(asUtc, offset)) return -1;
  const int64_t first = asUtc - offset;
  if (!OffsetAt(first, offset)) return -1;
  const int64_t second_guess = asUtc - offset;
  if (second_guess == first) return first;
  // The two guesses straddle a change of offset: either the time lies just
  // past the change, or it falls into a gap (clocks moved forward) and, like
  // mktime, is read with the offset that applied before the change. Both give
  // the second guess.
  return second_guess;
}

uint32_t ToMessageTime(int64_t seconds) {
  if (seconds < 0 || seconds > std::numeric_limits<uint32_t>::max()) return 0;
  return static_cast<uint32_t>(seconds);
}

bool ReadSemiOctetTime(PduReader& reader, int64_t& seconds, const char* field) {
  if (reader.remaining() < 8) return reader.Fail(field);
  std::string_view stamp;
  reader.Take(7, stamp, field);
  int v[6];
  for (int i = 0; i < 6; ++i) v[i] = Bcd(static_cast<uint8_t>(stamp[static_cast<std::size_t>(i)]));
  const int year = v[0] < 50 ? 2000 + v[0] : 1900 + v[0];
  seconds = LocalTimeToUnix(year, v[1], v[2], v[3], v[4], v[5]);
  return true;
}

uint32_t DecodeTextModeTime(std::string_view text) {
  if (!text.empty() && text.front() == '"') text.remove_prefix(1);
  const std::string copy(text.substr(0, 64));
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(copy.c_str(), "%d/%d/%d,%d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6) return 0;
  // Two-digit years are 20yy; a modem set to four-digit years gives the year.
  if (year < 100) year += 2000;
  return ToMessageTime(LocalTimeToUnix(year, month, day, hour, minute, second));
}

}  // namespace qm
