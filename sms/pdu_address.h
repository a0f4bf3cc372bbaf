// Telephone numbers in PDUs: cleaning a number for sending, the address field
// (length, type of address, semi-octets) and its decoding, numeric or
// alphanumeric. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sms/pdu_reader.h"

namespace qm {

// The longest address value TS 23.040 allows: 10 octets of semi-octets.
inline constexpr std::size_t kMaxAddressDigits = 20;

// The digits to send for a number: the text is cut at its first "/", a leading
// "+" goes, and for an international number (type 1) longer than three
// characters a leading "00" (not followed by another "0") or "010" goes; then
// every "(", ")", "-", "/" and blank is removed.
std::string NormaliseNumber(std::string_view text, int typeOfNumber);

// The address field: digit count, TOA 0x81 | (type << 4) (numbering plan
// ISDN), then the digits as semi-octets, first digit in the low nibble, an odd
// count padded with 0xF. A character that is not a hexadecimal digit counts as
// 0; a UTF-8 multi-byte character counts as one character.
std::string EncodeAddress(std::string_view digits, int typeOfNumber);

// Number of characters EncodeAddress counts as digits.
std::size_t CountAddressCharacters(std::string_view digits);

// Reads an address field (length in semi-octets, TOA, value) at the reader into
// `out` (UTF-8). A numeric address gives its decimal digits (nibbles 10..15 are
// skipped, no "+" is added); an alphanumeric one (TOA 0xD_) its GSM 7-bit
// characters. False, with `field` as the failure, when the field is cut short.
bool ReadAddress(PduReader& reader, std::string& out, const char* field);

}  // namespace qm
