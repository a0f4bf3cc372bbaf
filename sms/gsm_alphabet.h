// The GSM 7-bit default alphabet (3GPP TS 23.038): the character mapping used
// for sending and for reception, and the packing of septets into octets.
//
// Septet strings hold one septet value (0..127) per char. Pure functions; any
// thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

inline constexpr char kGsmEscape = 0x1B;

// Septets of a text that goes as 7-bit (every character below 128): "@", "$"
// and "_" move to their GSM positions, "^{}\[~]|" and the form feed become an
// escape pair, every other character keeps its code. A byte of 128 or above
// (never passed for a 7-bit text) becomes "?".
std::string ToGsmSeptets(std::string_view text);

// TS 23.038 packing: septet i starts at bit 7*i; a trailing partial octet has
// its unused high bits 0.
std::string PackSeptets(std::string_view septets);

// Packing behind the six-octet concatenation header: one fill bit first, so the
// first septet goes shifted left by one and the rest follow as by PackSeptets.
std::string PackSeptetsAfterHeader(std::string_view septets);

// Packing with `fillBits` (0..6) zero bits before the first septet.
std::string PackSeptetsWithFill(std::string_view septets, int fillBits);

// Up to `maxCount` septets from `octets`, the first starting after `fillBits`
// bits. Only whole septets present in the data are returned.
std::string UnpackSeptets(std::string_view octets, int fillBits, std::size_t maxCount);

// The text (UTF-8) of received septets: the default alphabet, and behind an
// escape only "^{}\[~]|", the form feed and the euro sign; any other escaped
// septet, and an escape at the very end, yield nothing.
std::string GsmSeptetsToUtf8(std::string_view septets);

}  // namespace qm
