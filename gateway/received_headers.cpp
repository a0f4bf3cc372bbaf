#include "gateway/received_headers.h"

#include "modem/message_body.h"
#include "platform/utf.h"
#include "sms/pdu_decoder.h"

namespace qm {
namespace {

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view text, int otherwise = -1) {
  if (!IsNumber(text) || text.size() > 9) return otherwise;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

bool LooksLikeTime(std::string_view text) {
  return text.find('/') != std::string_view::npos && text.find(':') != std::string_view::npos;
}

// A delivered or stored message's sender and time from `first` on: the
// sender is the first field that holds something and is no time stamp.
void ReadSenderAndTime(const std::vector<HeaderField>& fields, std::size_t first, ReceivedHeader& header) {
  for (std::size_t i = first; i < fields.size(); ++i) {
    const std::string_view text = fields[i].text;
    if (LooksLikeTime(text)) {
      if (header.time == 0) header.time = DecodeTextModeTime(text);
    } else if (header.from.empty() && !text.empty() && header.time == 0) {
      header.from = std::string(text);
    }
  }
}

// A text-mode status report from its first octet at `at` on:
// <fo>,<mr>,[<ra>],[<tora>],<scts>,<dt>,<st>.
std::unique_ptr<StatusReport> ReportFrom(const std::vector<HeaderField>& fields, std::size_t at) {
  if (fields.size() < at + 7) return nullptr;
  auto report = std::make_unique<StatusReport>(std::string(fields[at + 2].text), std::string(),
                                               Number(fields[at + 1].text, 0), DecodeTextModeTime(fields[at + 5].text),
                                               static_cast<uint32_t>(Number(fields[at + 6].text, 0)));
  report->timestamp = DecodeTextModeTime(fields[at + 4].text);
  report->created = report->timestamp;
  return report;
}

int LengthAtEnd(const std::vector<HeaderField>& fields) { return fields.empty() ? -1 : Number(fields.back().text); }

}  // namespace

ReceivedHeader ParseReceivedHeader(std::string_view line) {
  ReceivedHeader header;
  const std::vector<HeaderField> fields = SplitHeaderFields(line);
  if (StartsWithIgnoreCase(line, "+CMTI:") || StartsWithIgnoreCase(line, "+CBMI:") ||
      StartsWithIgnoreCase(line, "+CDSI:")) {
    header.kind = StartsWithIgnoreCase(line, "+CDSI:") ? HeaderKind::kReportNotice : HeaderKind::kNotice;
    if (fields.size() >= 2) {
      header.storage = std::string(fields[0].text);
      header.index = Number(fields[1].text);
    }
  } else if (StartsWithIgnoreCase(line, "+CMT:") || StartsWithIgnoreCase(line, "+CBM:")) {
    header.kind = HeaderKind::kDirect;
    // PDU mode: [<alpha>],<length>; text mode: <oa>,[<alpha>],<scts>[,...].
    if (fields.size() <= 2 && !StartsWithIgnoreCase(line, "+CBM:")) {
      header.tpduLength = LengthAtEnd(fields);
    } else if (fields.size() == 1) {
      header.tpduLength = LengthAtEnd(fields);  // a PDU-mode cell broadcast
    } else {
      header.textMode = true;
      ReadSenderAndTime(fields, 0, header);
      if (fields.size() >= 10) header.dcs = Number(fields[6].text);
    }
  } else if (StartsWithIgnoreCase(line, "+CDS:")) {
    header.kind = HeaderKind::kDirectReport;
    if (fields.size() == 1) {
      header.tpduLength = LengthAtEnd(fields);
    } else {
      header.textMode = true;
      header.report = ReportFrom(fields, 0);
    }
  } else if (StartsWithIgnoreCase(line, "+CMGR:")) {
    header.kind = HeaderKind::kRead;
    if (fields.empty()) return header;
    if (!fields[0].quoted) {
      header.tpduLength = LengthAtEnd(fields);
    } else if (fields.size() >= 2 && IsNumber(fields[1].text) && !fields[1].quoted) {
      header.textMode = true;
      header.report = ReportFrom(fields, 1);
    } else {
      header.textMode = true;
      ReadSenderAndTime(fields, 1, header);
      if (fields.size() >= 11 && LooksLikeTime(fields[3].text)) header.dcs = Number(fields[7].text);
    }
  } else if (StartsWithIgnoreCase(line, "+CMGL:")) {
    header.kind = HeaderKind::kListed;
    if (fields.empty()) return header;
    header.index = Number(fields[0].text);
    if (fields.size() < 2) return header;
    if (!fields[1].quoted) {
      header.tpduLength = LengthAtEnd(fields);
    } else if (fields.size() >= 3 && IsNumber(fields[2].text) && !fields[2].quoted) {
      header.textMode = true;
      header.report = ReportFrom(fields, 2);
    } else {
      header.textMode = true;
      ReadSenderAndTime(fields, 2, header);
    }
  }
  return header;
}

std::string TextModeBody(std::string_view body, int dcs) {
  // The general data coding groups (00xx xxxx) and the message class group
  // (1111 xxxx) say the alphabet in bits 2..3; 8-bit and UCS2 bodies come
  // as hexadecimal.
  if (dcs < 0 || !(dcs < 0x40 || (dcs & 0xF0) == 0xF0)) return std::string(body);
  const int coding = (dcs & 0xF0) == 0xF0 ? (dcs & 0x04) : (dcs & 0x0C);
  const bool hex = !body.empty() && body.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
  if (!hex || body.size() % 2 != 0) return std::string(body);
  const std::string octets = HexToBytes(body);
  if (coding == 8 && octets.size() % 2 == 0) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < octets.size(); i += 2) {
      units.push_back(static_cast<char16_t>((static_cast<unsigned char>(octets[i]) << 8) |
                                            static_cast<unsigned char>(octets[i + 1])));
    }
    return Utf16ToUtf8(units);
  }
  if (coding == 4) return BytesToLatin1Utf8(octets);
  return std::string(body);
}

}  // namespace qm
