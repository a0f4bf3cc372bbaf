// Octets <-> hexadecimal text, the form in which PDUs travel to and from the
// modem. (HexToBytes is declared with the decoder in sms/pdu_decoder.h.)
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Upper-case hexadecimal, two digits per octet.
std::string BytesToHex(std::string_view bytes);
void AppendHex(std::string& out, std::string_view bytes);

// True when `text` is an even number of hexadecimal digits (either case).
bool IsHexPdu(std::string_view text);

}  // namespace qm
