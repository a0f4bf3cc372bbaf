// USSD on the wire: the "AT+CUSD" request line, the "+CUSD:" reply line, and
// the decoding of a reply text by its data coding scheme and the
// "ussd.decode" setting.
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// How the request text goes into the command line.
enum class UssdRequestCoding {
  kText,    // Latin-1 octets, for a modem that takes the text as it is
  kPacked,  // GSM 7-bit septets packed into octets, upper-case hex
  kUcs2,    // UTF-16 big-endian, four upper-case hex digits per unit
};

// "AT+CUSD=<1, or 0 when hidden>,\"<request>\",15\r\n" (octets for the port).
// nullopt when the request holds a double quote, a C0 control character or
// DEL (they would end the quoted string or the command line early), or, as
// kText, a character outside Latin-1.
std::optional<std::string> UssdRequestCommand(std::string_view text, bool hidden, UssdRequestCoding coding);

// A "+CUSD: <m>[,<str>[,<dcs>]]" line.
struct UssdReply {
  int result = 0;    // <m>: 0 no further action, 1 further action, 2 released by the network, ...
  std::string text;  // <str> unquoted, still encoded as the modem sent it
  int dcs = 15;      // <dcs>; 15 when the modem leaves it out
};

// nullopt when the line has no text field or an empty one ("+CUSD: 2").
std::optional<UssdReply> ParseUssdReply(std::string_view line);

// The reply text as UTF-8. `mode` is the "ussd.decode" setting:
//   0, 5  automatic, by `dcs`: 72 or 8 (UCS2) as hex digits, or as raw
//         octet pairs when not hex; 17 hex behind a two-octet language code;
//         15, 0, 1 (GSM 7-bit) packed septets in hex after a packed request,
//         else as received; any other: hex in whole UCS2 units, else as received
//   1     the text as received
//   2     "Text (UNICODE)": character pairs, each one UCS2 unit, high octet first
//   3     "Digits (UNICODE)": four hex digits per UCS2 unit
//   4     "Digits (ASCII)": two hex digits per Latin-1 character
// In the hex forms a non-hex character counts as 0 and an incomplete last
// group is dropped. `requestWasPacked` tells whether the request went as
// kPacked: such modems answer in packed septets too.
std::string DecodeUssdReply(std::string_view text, int dcs, int mode, bool requestWasPacked);

}  // namespace qm
