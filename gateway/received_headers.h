// What the header lines of received messages say: "+CMT:", "+CDS:",
// "+CMTI:", "+CDSI:", "+CMGR:" and "+CMGL:", in PDU and in text mode. Pure.
//
// Text-mode layouts differ between modems (with or without the name field,
// blanks after commas, a four-digit year, no time zone), so the sender and
// the time stamp are found by what they look like rather than by position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sms/message.h"

namespace qm {

enum class HeaderKind {
  kNone,        // not a header
  kDirect,      // "+CMT:"/"+CBM:": a message follows
  kDirectReport,  // "+CDS:": a status report follows (PDU mode) or is the header (text mode)
  kNotice,      // "+CMTI:"/"+CBMI:": a message was stored
  kReportNotice,  // "+CDSI:": a status report was stored
  kRead,        // "+CMGR:": one stored entry follows
  kListed,      // "+CMGL:": one listed entry follows
};

struct ReceivedHeader {
  HeaderKind kind = HeaderKind::kNone;
  bool textMode = false;
  int index = -1;          // memory location (notices, listings)
  std::string storage;     // notices: the memory named
  int tpduLength = -1;     // PDU mode: the TPDU's length, when the header gives it
  std::string from;        // text mode: the sender
  uint32_t time = 0;       // text mode: the time stamp (0: none)
  int dcs = -1;            // text mode with the full header (AT+CSDH=1): the coding
  // Text mode: a status report is complete in its header.
  std::unique_ptr<StatusReport> report;
};

ReceivedHeader ParseReceivedHeader(std::string_view line);

// A text-mode body as text: hexadecimal UCS2 or 8-bit data when the coding
// says so, else the line as it came.
std::string TextModeBody(std::string_view body, int dcs);

}  // namespace qm
