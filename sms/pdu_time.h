// Times in PDUs: the relative validity period, the semi-octet service-centre
// time stamp and the text-mode time stamp.
//
// Received stamps are taken as local time; their time-zone octet is ignored.
// Pure functions of their input and the process time zone; any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "sms/pdu_reader.h"

namespace qm {

// TP-VP (relative format, TS 23.040 9.2.3.12.1) for a validity in seconds: the
// longest period that does not exceed the request. 0 or less gives 0 (five
// minutes, the shortest), more than 63 weeks gives 255. One day is 167.
uint8_t EncodeValidity(int64_t seconds);

// The period a relative TP-VP octet stands for, in seconds.
int64_t ValidityPeriodSeconds(uint8_t vp);

// Seconds since 1970 of a local date and time (month 1..12), with the
// daylight-saving state found from the time zone rules, as mktime with
// tm_isdst = -1 does. Fields out of range are carried over as mktime does.
// -1 when the time cannot be represented.
int64_t LocalTimeToUnix(int year, int month, int day, int hour, int minute, int second);

// The seconds of a time as the 32-bit field of a message holds them: a time
// before 1970, after 2106 or unknown (-1) gives 0.
uint32_t ToMessageTime(int64_t seconds);

// Reads a 7-octet semi-octet time stamp (TP-SCTS, TP-DT): year, month, day,
// hour, minute, second as swapped BCD (a year below 50 is 20yy), time zone
// skipped. The stamp must be followed by at least one more octet.
bool ReadSemiOctetTime(PduReader& reader, int64_t& seconds, const char* field);

}  // namespace qm
