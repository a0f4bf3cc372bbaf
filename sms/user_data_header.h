// The user-data header of TS 23.040 9.2.3.24: the concatenation and
// application-port information elements, and the septet alignment of 7-bit
// text behind a header. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Concatenation element, 8-bit reference: identifier 00, length 03.
inline constexpr uint8_t kIeConcat8 = 0x00;
// Concatenation element, 16-bit reference: identifier 08, length 04.
inline constexpr uint8_t kIeConcat16 = 0x08;
// Application ports, 16-bit addresses: identifier 05, length 04.
inline constexpr uint8_t kIePorts16 = 0x05;

// The ports element of a WAP push: destination 2948 (WAP push), source 9200.
inline constexpr char kWapPortElement[] = {0x05, 0x04, 0x0B, static_cast<char>(0x84), 0x23, static_cast<char>(0xF0)};
inline constexpr std::string_view kWapPorts(kWapPortElement, sizeof kWapPortElement);

// What a header says about the message it belongs to.
struct UserDataHeaderInfo {
  bool concatenated = false;  // a valid concatenation element was found
  int reference = 0;
  int total = 1;
  int part = 0;               // counted from 0
  bool ported = false;        // a 16-bit application-port element was found
};

// Reads the elements of a header (the octets behind UDHL) in order, stopping
// at an element that runs past the header. A concatenation element with total
// 0, sequence 0 or sequence above total is ignored (the message counts as
// single-part), as is any element this driver does not use.
UserDataHeaderInfo ParseUserDataHeader(std::string_view header);

// Zero bits that align the first septet behind a header of `udhl` octets
// (plus its length octet) to a septet boundary.
int SeptetFillBits(int udhl);

// Septets a header of `udhl` octets (plus its length octet and fill bits)
// occupies in a 7-bit TP-UDL.
int HeaderSeptets(int udhl);

// Appends UDHL 05 and the 8-bit concatenation element 00 03 ref total seq.
void AppendConcatHeader(std::string& out, uint8_t reference, uint8_t total, uint8_t sequence);

}  // namespace qm
