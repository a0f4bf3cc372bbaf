// The built-in modem emulator's canned replies. The first rule that matches
// what was written wins: an equality test compares the whole written string
// (with its "\r\n"), a prefix test its first bytes.
#pragma once

#include <iterator>
#include <string_view>

namespace qm {

enum class EmulatorMatch {
  kInitCommand,  // equals the value of "modem.init" followed by "\r\n"
  kEquals,
  kPrefix,
  kDigit,        // first byte 0-9: a PDU written after the prompt
  kAnything,
};

enum class EmulatorAction {
  kReply,        // answer with the reply text
  kSubmitted,    // after the network delay "+CMGS: <reference>", then the injection
  kNetworkReply, // answer with the reply text after the network delay
};

struct EmulatorRule {
  EmulatorMatch match;
  std::string_view text;
  std::string_view reply;
  EmulatorAction action = EmulatorAction::kReply;
};

inline constexpr EmulatorRule kEmulatorRules[] = {
    {EmulatorMatch::kInitCommand, "", "OK\r\n"},
    {EmulatorMatch::kEquals, "AT+CSMS=?\r\n", "+CSMS: (0,1,128)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CMGF=?\r\n", "+CMGF: (0-1)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CNMI=?\r\n", "+CNMI: (0-3),(0-3),(0,2,3),(0-1),(0)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CMEE=?\r\n", "+CMEE: (0-2)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CMGD=?\r\n", "+CMGD: (1-20)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CPMS?\r\n", "+CPMS: \"SM\",0,20,\"SM\",0,20,\"SM\",0,20\r\nOK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CUSD=?", "+CUSD: (0)\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CGMM\r\n", "Emulator\r\nOK\r\n"},
    {EmulatorMatch::kEquals, "AT+CSQ\r\n", "+CSQ: 31,0\r\nOK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CMEE=", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CNMI=", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CMGF=", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CPIN=", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CMGS=", ">"},
    {EmulatorMatch::kPrefix, "AT+CMGL=1", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CMGL=0", "OK\r\n"},
    {EmulatorMatch::kPrefix, "AT+CMGD=", "OK\r\n"},
    {EmulatorMatch::kDigit, "", "", EmulatorAction::kSubmitted},
    {EmulatorMatch::kPrefix, "AT+CUSD=",
     "+CUSD: 2,\"Your current balance is $ 22.10\",15\r\nOK\r\n+CMTI: \"SM\",5\r\n", EmulatorAction::kNetworkReply},
    {EmulatorMatch::kPrefix, "AT+CMGR=",
     "+CMGR: 0,,33\r\nOK\r\n"
     "07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038\r\n"},
    {EmulatorMatch::kAnything, "", "ERROR\r\n"},
};

// The rule that answers `written`; `init` is the value of "modem.init".
constexpr const EmulatorRule& ChooseEmulatorRule(std::string_view written, std::string_view init) {
  for (const EmulatorRule& rule : kEmulatorRules) {
    switch (rule.match) {
      case EmulatorMatch::kInitCommand:
        if (written.size() == init.size() + 2 && written.substr(0, init.size()) == init &&
            written.substr(init.size()) == "\r\n") {
          return rule;
        }
        break;
      case EmulatorMatch::kEquals:
        if (written == rule.text) return rule;
        break;
      case EmulatorMatch::kPrefix:
        if (written.substr(0, rule.text.size()) == rule.text) return rule;
        break;
      case EmulatorMatch::kDigit:
        if (!written.empty() && written.front() >= '0' && written.front() <= '9') return rule;
        break;
      case EmulatorMatch::kAnything:
        return rule;
    }
  }
  return kEmulatorRules[std::size(kEmulatorRules) - 1];
}

}  // namespace qm
