// Octets <-> hexadecimal text, the form in which PDUs travel to and from the
// modem. (HexToBytes is declared with the decoder in sms/pdu_decoder.h.)
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Hexadecimal, two digits per octet: upper case (how PDUs go to the modem)
// or lower case (how the built-in emulator writes them).
enum class HexCase { kUpper, kLower };
std::string BytesToHex(std::string_view bytes, HexCase letters = HexCase::kUpper);
void AppendHex(std::string& out, std::string_view bytes, HexCase letters = HexCase::kUpper);

bool IsHexDigit(char c);

// True when `text` is an even number of hexadecimal digits (either case).
bool IsHexPdu(std::string_view text);

}  // namespace qm
