// How a line from the modem is classified and where it is routed.
//
// The first row whose prefix the line starts with (ASCII case ignored) wins;
// the empty prefix of the last row matches every line. A line that follows a
// message header is the message's body whatever it starts with; that rule
// comes before this table (see the reply parser).
#pragma once

#include <string_view>

#include "modem/async_event.h"
#include "modem/listener_queue.h"

namespace qm {

enum class LineRole {
  kReply,        // part of a command's reply, or a message for the incoming slot
  kFinal,        // ends the command in flight (OK, errors and the like)
  kModemError,   // "+CME ERROR" / "+CMS ERROR": final, built by MakeModemErrorEvent
  kUnsolicited,  // network and device news no command asked for: logged, not routed
};

struct LineClass {
  std::string_view prefix;
  EventKind kind;
  int code;
  ListenerSlot slot;
  LineRole role;
};

inline constexpr LineClass kLineClasses[] = {
    // prefix                  kind                                code slot                      role
    {"OK",                     EventKind::kOk,                     0,   ListenerSlot::kOk,        LineRole::kFinal},
    {"ERROR",                  EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"NO CARRIER",             EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"BUSY",                   EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"NO ANSWER",              EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"NO DIALTONE",            EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"COMMAND NOT SUPPORT",    EventKind::kError,                  100, ListenerSlot::kErrors,    LineRole::kFinal},
    {"+CME ",                  EventKind::kFailure,                0,   ListenerSlot::kErrors,    LineRole::kModemError},
    {"+CMS ",                  EventKind::kFailure,                0,   ListenerSlot::kErrors,    LineRole::kModemError},
    {"+CMT:",                  EventKind::kIncomingMessage,        0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CBM:",                  EventKind::kIncomingMessage,        0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CDS:",                  EventKind::kStatusReport,           0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CMTI:",                 EventKind::kIncomingIndex,          0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CBMI:",                 EventKind::kIncomingIndex,          0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CDSI:",                 EventKind::kStatusReportIndex,      0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CMGR:",                 EventKind::kInfo,                   0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"+CMGL:",                 EventKind::kInfo,                   0,   ListenerSlot::kIncoming,  LineRole::kReply},
    // The answer to "AT+CUSD=?" lists the modes in parentheses; a USSD reply
    // from the network never does.
    {"+CUSD: (",               EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kReply},
    {"+CUSD:",                 EventKind::kInfo,                   0,   ListenerSlot::kIncoming,  LineRole::kReply},
    {"RING",                   EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CRING:",                EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CLIP:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CREG:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CGREG:",                EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CEREG:",                EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+C5GREG:",               EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CGEV:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CIEV:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CIREPI:",               EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CIREPH:",               EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CTZV:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CTZE:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+CTZU:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+QIND:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+PACSP",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^RSSI:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^HCSQ:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^BOOT:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^MODE:",                 EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^SRVST:",                EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^SIMST:",                EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"^SYSSTART",              EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kUnsolicited},
    {"+",                      EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kReply},
    {">",                      EventKind::kPrompt,                 0,   ListenerSlot::kPrompt,    LineRole::kReply},
    {"",                       EventKind::kInfo,                   0,   ListenerSlot::kInfo,      LineRole::kReply},
};

// The line class of a line (the last row when no other matches).
const LineClass& ClassOfLine(std::string_view line);

}  // namespace qm
