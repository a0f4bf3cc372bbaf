// PDUs as a modem hands them over (hexadecimal, with a service-centre field
// unless said otherwise), built from their parts so that tests can say what
// they mean: a delivered message, one part of a long one, a status report.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::test {

struct PartOf {
  int reference = 0;
  int total = 1;
  int number = 1;  // counted from 1, as on the wire
};

// An SMS-DELIVER from `from` ("+49..." international, else unknown type);
// `text` (UTF-8) goes as GSM 7-bit (ASCII only) or, with `ucs2`, as UTF-16.
std::string DeliverPdu(std::string_view from, std::string_view text, bool ucs2 = false,
                       std::optional<PartOf> part = std::nullopt);

// An SMS-STATUS-REPORT for message reference `reference` sent to `recipient`.
std::string StatusReportPdu(int reference, std::string_view recipient, int status, bool withSmsc = true);

// The TPDU length a header gives for a PDU with a service-centre field.
int TpduLength(std::string_view hexPdu);

}  // namespace qm::test
