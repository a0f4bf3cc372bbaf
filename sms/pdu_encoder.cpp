#include "sms/pdu_encoder.h"

#include <random>

#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_address.h"
#include "sms/pdu_time.h"
#include "sms/user_data_header.h"
#include "sms/wap_push.h"

namespace qm {
namespace {

constexpr int kMaxUserData = 140;

constexpr char kErrorTooManySegments[] = "Message too long: it would need more than 255 segments";
constexpr char kErrorNoRoom[] = "No room for the message text: sms.length_correction is too large";
constexpr char kErrorNoRoomForPush[] = "No room for the push data: the PDU header is too long";
constexpr char kErrorLongDestination[] = "Destination number too long: more than 20 digits";
constexpr char kErrorLongSmsc[] = "SMSC address too long: more than 20 digits";

// How an SMS is cut into segments. A single segment carries no header.
struct SmsPlan {
  int coding = kCoding7Bit;
  std::string septets;         // coding 0
  std::u16string units;        // coding 8
  bool single = true;
  std::vector<std::size_t> ends;  // end of each segment's run of units, when split
  std::string error;
};

// Cuts `count` units into runs of at most `capacity` units. A run never ends
// between the two halves of a pair (an escape septet and its partner, a
// surrogate pair); `isPairStart(i)` says whether unit i opens one.
template <typename IsPairStart>
void PlanRuns(std::size_t count, int64_t capacity, IsPairStart isPairStart, SmsPlan& plan) {
  if (capacity < 1) {
    plan.error = kErrorNoRoom;
    return;
  }
  std::size_t start = 0;
  while (start < count) {
    if (plan.ends.size() == kMaxSegments) {
      plan.error = kErrorTooManySegments;
      return;
    }
    std::size_t end = start;
    while (end < count) {
      const std::size_t unit = isPairStart(end) ? 2 : 1;
      if (static_cast<int64_t>(end - start + unit) > capacity) break;
      end += unit;
    }
    if (end == start) {
      plan.error = kErrorNoRoom;
      return;
    }
    plan.ends.push_back(end);
    start = end;
  }
}

SmsPlan PlanSms(std::string_view body, int limit) {
  SmsPlan plan;
  plan.coding = DetectCoding(body);
  if (plan.coding == kCoding7Bit) {
    plan.septets = ToGsmSeptets(body);
    const std::size_t octets = (plan.septets.size() * 7 + 7) / 8;
    if (static_cast<int64_t>(octets) <= limit) return plan;
    plan.single = false;
    const std::string& s = plan.septets;
    PlanRuns(s.size(), static_cast<int64_t>(limit) * 8 / 7 - 7,
             [&s](std::size_t i) { return s[i] == kGsmEscape && i + 1 < s.size(); }, plan);
  } else {
    plan.units = Utf8ToUtf16(body);
    if (static_cast<int64_t>(plan.units.size()) * 2 <= limit) return plan;
    plan.single = false;
    const std::u16string& u = plan.units;
    PlanRuns(u.size(), (static_cast<int64_t>(limit) - 6) / 2,
             [&u](std::size_t i) {
               return u[i] >= 0xD800 && u[i] <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF;
             },
             plan);
  }
  return plan;
}

void AppendUcs2(std::string& out, std::u16string_view units) {
  for (char16_t c : units) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
}

// Checks the numbers that go into the PDU against the address field's room.
std::string CheckAddresses(std::string_view destination, int typeOfNumber, const PduSettings& settings) {
  if (CountAddressCharacters(NormaliseNumber(destination, typeOfNumber)) > kMaxAddressDigits) {
    return kErrorLongDestination;
  }
  if (settings.smscAddressInPdu &&
      CountAddressCharacters(NormaliseNumber(settings.smscAddress, 1)) > kMaxAddressDigits) {
    return kErrorLongSmsc;
  }
  return {};
}

SubmitHeaderFields HeaderFieldsOf(const SMSMessage& message) {
  SubmitHeaderFields fields;
  fields.destination = message.to;
  fields.typeOfNumber = message.toTon;
  fields.validitySeconds = message.ValiditySeconds();
  fields.flash = (message.flags & kFlagFlash) != 0;
  fields.reportRequest = (message.flags & kFlagStatusReport) != 0;
  return fields;
}

// Header + TP-UDL + user data, as one PDU of the result.
void AddPdu(SubmitPdus& result, std::string_view header, int smscLength, int udl, std::string_view userData,
            std::string_view payload = {}) {
  std::string bytes;
  bytes.reserve(header.size() + 1 + userData.size() + payload.size());
  bytes.append(header);
  bytes.push_back(static_cast<char>(udl));
  bytes.append(userData);
  bytes.append(payload);
  SubmitPdu pdu;
  AppendHex(pdu.hex, bytes);
  pdu.tpduLength = static_cast<int>(bytes.size()) - smscLength;
  result.pdus.push_back(std::move(pdu));
}

SubmitPdus BuildSms(const SMSMessage& message, const PduSettings& settings, uint8_t reference) {
  SubmitPdus result;
  result.error = CheckAddresses(message.to, message.toTon, settings);
  if (!result.ok()) return result;
  SmsPlan plan = PlanSms(message.body, UserDataLimit(settings));
  if (!plan.error.empty()) {
    result.error = std::move(plan.error);
    return result;
  }
  SubmitHeaderFields fields = HeaderFieldsOf(message);
  fields.coding = plan.coding;
  fields.userDataHeader = !plan.single;
  const std::string header = EncodeSubmitHeader(fields, settings);
  const int smscLength = SmscPartLength(settings);

  if (plan.single) {
    if (plan.coding == kCoding7Bit) {
      AddPdu(result, header, smscLength, static_cast<int>(plan.septets.size()), PackSeptets(plan.septets));
    } else {
      std::string octets;
      AppendUcs2(octets, plan.units);
      AddPdu(result, header, smscLength, static_cast<int>(octets.size()), octets);
    }
    return result;
  }

  const auto total = static_cast<uint8_t>(plan.ends.size());
  result.pdus.reserve(plan.ends.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i < plan.ends.size(); ++i) {
    const std::size_t end = plan.ends[i];
    std::string userData;
    AppendConcatHeader(userData, reference, total, static_cast<uint8_t>(i + 1));
    int udl = 0;
    if (plan.coding == kCoding7Bit) {
      const std::string_view run = std::string_view(plan.septets).substr(start, end - start);
      userData += PackSeptetsAfterHeader(run);
      udl = static_cast<int>(run.size()) + 7;
    } else {
      AppendUcs2(userData, std::u16string_view(plan.units).substr(start, end - start));
      udl = static_cast<int>(end - start) * 2 + 6;
    }
    AddPdu(result, header, smscLength, udl, userData);
    start = end;
  }
  return result;
}

struct PushPlan {
  std::string header;
  std::string body;    // the WSP/WBXML document
  bool single = true;
  std::size_t run = 0;  // octets per segment when split
  std::size_t segments = 1;
  std::string error;
};

PushPlan PlanPush(const SMSMessage& message, const PduSettings& settings) {
  PushPlan plan;
  plan.error = CheckAddresses(message.to, message.toTon, settings);
  if (!plan.error.empty()) return plan;
  SubmitHeaderFields fields = HeaderFieldsOf(message);
  fields.userDataHeader = true;
  fields.push = true;
  plan.header = EncodeSubmitHeader(fields, settings);
  // The push keeps its own limit, which "sms.length_correction" does not touch.
  int64_t limit = kMaxUserData - static_cast<int64_t>(plan.header.size()) - 2;
  if (limit % 2 != 0) limit -= 1;
  plan.body = EncodeServiceIndication(static_cast<uint8_t>(message.id & 0xFF), message.body, message.Url());
  if (6 + static_cast<int64_t>(plan.body.size()) <= limit) return plan;
  plan.single = false;
  if (limit - 11 <= 0) {
    plan.error = kErrorNoRoomForPush;
    return plan;
  }
  plan.run = static_cast<std::size_t>(limit - 11);
  plan.segments = (plan.body.size() + plan.run - 1) / plan.run;
  if (plan.segments > kMaxSegments) plan.error = kErrorTooManySegments;
  return plan;
}

SubmitPdus BuildPush(const SMSMessage& message, const PduSettings& settings, uint8_t reference) {
  SubmitPdus result;
  PushPlan plan = PlanPush(message, settings);
  if (!plan.error.empty()) {
    result.error = std::move(plan.error);
    return result;
  }
  const int smscLength = SmscPartLength(settings);
  if (plan.single) {
    std::string userData;
    userData.push_back(0x06);
    userData.append(kWapPorts);
    AddPdu(result, plan.header, smscLength, static_cast<int>(plan.body.size()) + 7, userData, plan.body);
    return result;
  }
  const std::string_view body = plan.body;
  for (std::size_t i = 0; i < plan.segments; ++i) {
    const std::string_view run = body.substr(i * plan.run, plan.run);
    std::string userData;
    userData.push_back(0x0B);
    userData.append(kWapPorts);
    userData.push_back(static_cast<char>(kIeConcat8));
    userData.push_back(0x03);
    userData.push_back(static_cast<char>(reference));
    userData.push_back(static_cast<char>(plan.segments));
    userData.push_back(static_cast<char>(i + 1));
    AddPdu(result, plan.header, smscLength, static_cast<int>(run.size()) + 12, userData, run);
  }
  return result;
}

}  // namespace

int UserDataLimit(const PduSettings& settings) {
  int64_t limit = kMaxUserData - static_cast<int64_t>(settings.lengthCorrection);
  if (limit > kMaxUserData) limit = kMaxUserData;
  if (limit % 2 != 0) limit -= 1;
  return limit < -2 ? -2 : static_cast<int>(limit);
}

int DetectCoding(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return kCodingUcs2;
  }
  return kCoding7Bit;
}

std::string EncodeUcs2(std::string_view text) {
  std::string out;
  const std::u16string units = Utf8ToUtf16(text);
  out.reserve(units.size() * 2);
  AppendUcs2(out, units);
  return out;
}

std::string EncodeSmscPart(const PduSettings& settings) {
  if (settings.smscAddressInPdu && !settings.smscAddress.empty()) {
    const std::string digits = NormaliseNumber(settings.smscAddress, 1);
    // An address that cleans down to nothing would give a part without
    // digits, which modems refuse; the modem's own centre is the better guess.
    if (!digits.empty()) {
      std::string part = EncodeAddress(digits, 1);
      part[0] = static_cast<char>(part.size() - 1);
      return part;
    }
  }
  return std::string(1, '\0');
}

int SmscPartLength(const PduSettings& settings) { return static_cast<int>(EncodeSmscPart(settings).size()); }

std::string EncodeSubmitHeader(const SubmitHeaderFields& fields, const PduSettings& settings) {
  std::string out = EncodeSmscPart(settings);
  uint8_t first = 0x11;  // SMS-SUBMIT, relative validity period
  if (fields.userDataHeader) first |= 0x40;
  if (fields.reportRequest) first |= 0x20;
  out.push_back(static_cast<char>(first));
  out.push_back(0x00);  // TP-MR: the modem assigns it
  out += EncodeAddress(NormaliseNumber(fields.destination, fields.typeOfNumber), fields.typeOfNumber);
  out.push_back(0x00);  // TP-PID
  uint8_t dcs = 0xF5;
  if (!fields.push) dcs = static_cast<uint8_t>((fields.coding & 0x0C) | (fields.flash ? 0x10 : 0x00));
  out.push_back(static_cast<char>(dcs));
  out.push_back(static_cast<char>(EncodeValidity(fields.validitySeconds)));
  return out;
}

SubmitPdus BuildSubmitPdus(const SMSMessage& message, const PduSettings& settings, uint8_t concatReference) {
  switch (message.Kind()) {
    case kKindSms:
      return BuildSms(message, settings, concatReference);
    case kKindPush:
      return BuildPush(message, settings, concatReference);
    default:
      return {};
  }
}

SubmitPdus BuildSubmitPdus(const SMSMessage& message, const PduSettings& settings) {
  return BuildSubmitPdus(message, settings, NewConcatReference());
}

uint8_t NewConcatReference() {
  thread_local std::minstd_rand generator{std::random_device{}()};
  return static_cast<uint8_t>(generator() & 0xFF);
}

int CountSegments(const SMSMessage& message, const PduSettings& settings) {
  if (message.Kind() == kKindSms) {
    if (!CheckAddresses(message.to, message.toTon, settings).empty()) return 0;
    const SmsPlan plan = PlanSms(message.body, UserDataLimit(settings));
    if (!plan.error.empty()) return 0;
    return plan.single ? 1 : static_cast<int>(plan.ends.size());
  }
  if (message.Kind() == kKindPush) {
    const PushPlan plan = PlanPush(message, settings);
    return plan.error.empty() ? static_cast<int>(plan.segments) : 0;
  }
  return 0;
}

}  // namespace qm
