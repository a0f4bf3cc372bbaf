// How a line from the modem is classified and where it is routed.
//
// The first row whose prefix the line starts with (ASCII case ignored) wins;
// the empty prefix of the last row matches every line.
#pragma once

#include <string_view>

#include "modem/async_event.h"
#include "modem/listener_queue.h"

namespace qm {

enum class SlotRule {
  kFixed,        // always `slot`
  kBodyOrError,  // the incoming slot while a message body follows, else the error slot
  kBodyOrInfo,   // the incoming slot while a message body follows, else the info slot
};

struct LineClass {
  std::string_view prefix;
  EventKind kind;
  int code;
  ListenerSlot slot;
  SlotRule rule;
  bool finalResult;  // OK, ERROR and +CME/+CMS leave the body-follows flag as it is
  bool modemError;   // the event is built by MakeModemErrorEvent
};

inline constexpr LineClass kLineClasses[] = {
    // prefix    kind                     code slot            rule                    final  error
    {"OK",       EventKind::kOk,                0,   ListenerSlot::kOk,        SlotRule::kFixed,       true,  false},
    {"ERROR",    EventKind::kError,             100, ListenerSlot::kErrors,    SlotRule::kBodyOrError, true,  false},
    {"+CMT:",    EventKind::kIncomingMessage,   0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CBM:",    EventKind::kIncomingMessage,   0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CDS:",    EventKind::kStatusReport,      0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CMTI:",   EventKind::kIncomingIndex,     0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CBMI:",   EventKind::kIncomingIndex,     0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CDSI:",   EventKind::kStatusReportIndex, 0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CMGR:",   EventKind::kInfo,              0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CMGL:",   EventKind::kInfo,              0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CUSD:",   EventKind::kInfo,              0,   ListenerSlot::kIncoming,  SlotRule::kFixed,       false, false},
    {"+CME ",    EventKind::kFailure,           0,   ListenerSlot::kErrors,    SlotRule::kBodyOrError, true,  true},
    {"+CMS ",    EventKind::kFailure,           0,   ListenerSlot::kErrors,    SlotRule::kBodyOrError, true,  true},
    {"+",        EventKind::kInfo,              0,   ListenerSlot::kInfo,      SlotRule::kFixed,       false, false},
    {">",        EventKind::kPrompt,            0,   ListenerSlot::kPrompt,    SlotRule::kFixed,       false, false},
    {"",         EventKind::kInfo,              0,   ListenerSlot::kInfo,      SlotRule::kBodyOrInfo,  false, false},
};

// Headers after which the next line is a message body (a PDU or a text) that
// belongs to the incoming slot with its header.
inline constexpr std::string_view kBodyHeaders[] = {"+CMT:", "+CBM:", "+CDS:", "+CMGR:", "+CMGL:"};

}  // namespace qm
