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
  int kind;
  int code;
  int slot;
  SlotRule rule;
  bool finalResult;  // OK, ERROR and +CME/+CMS leave the body-follows flag as it is
  bool modemError;   // the event is built by MakeModemErrorEvent
};

inline constexpr LineClass kLineClasses[] = {
    // prefix    kind                     code slot            rule                    final  error
    {"OK",       kEventOk,                0,   kSlotOk,        SlotRule::kFixed,       true,  false},
    {"ERROR",    kEventError,             100, kSlotErrors,    SlotRule::kBodyOrError, true,  false},
    {"+CMT:",    kEventIncomingMessage,   0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CBM:",    kEventIncomingMessage,   0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CDS:",    kEventStatusReport,      0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CMTI:",   kEventIncomingIndex,     0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CBMI:",   kEventIncomingIndex,     0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CDSI:",   kEventStatusReportIndex, 0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CMGR:",   kEventInfo,              0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CMGL:",   kEventInfo,              0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CUSD:",   kEventInfo,              0,   kSlotIncoming,  SlotRule::kFixed,       false, false},
    {"+CME ",    kEventFailure,           0,   kSlotErrors,    SlotRule::kBodyOrError, true,  true},
    {"+CMS ",    kEventFailure,           0,   kSlotErrors,    SlotRule::kBodyOrError, true,  true},
    {"+",        kEventInfo,              0,   kSlotInfo,      SlotRule::kFixed,       false, false},
    {">",        kEventPrompt,            0,   kSlotPrompt,    SlotRule::kFixed,       false, false},
    {"",         kEventInfo,              0,   kSlotInfo,      SlotRule::kBodyOrInfo,  false, false},
};

// Headers after which the next line is a message body (a PDU or a text) that
// belongs to the incoming slot with its header.
inline constexpr std::string_view kBodyHeaders[] = {"+CMT:", "+CBM:", "+CDS:", "+CMGR:", "+CMGL:"};

}  // namespace qm
