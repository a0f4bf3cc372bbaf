#include "sms/user_data_header.h"

namespace qm {

UserDataHeaderInfo ParseUserDataHeader(std::string_view header) {
  UserDataHeaderInfo info;
  std::size_t pos = 0;
  while (pos + 2 <= header.size()) {
    const auto id = static_cast<uint8_t>(header[pos]);
    const auto length = static_cast<uint8_t>(header[pos + 1]);
    if (pos + 2 + length > header.size()) break;
    const std::string_view value = header.substr(pos + 2, length);
    auto octet = [&](std::size_t i) { return static_cast<int>(static_cast<uint8_t>(value[i])); };
    if (id == kIeConcat8 && length >= 3) {
      const int total = octet(1);
      const int sequence = octet(2);
      if (total >= 1 && sequence >= 1 && sequence <= total) {
        info.concatenated = true;
        info.reference = octet(0);
        info.total = total;
        info.part = sequence - 1;
      }
    } else if (id == kIeConcat16 && length >= 4) {
      const int total = octet(2);
      const int sequence = octet(3);
      if (total >= 1 && sequence >= 1 && sequence <= total) {
        info.concatenated = true;
        info.reference = octet(0) * 256 + octet(1);
        info.total = total;
        info.part = sequence - 1;
      }
    } else if (id == kIePorts16) {
      info.ported = true;
    }
    pos += 2 + length;
  }
  return info;
}

int SeptetFillBits(int udhl) { return (7 - ((udhl + 1) * 8) % 7) % 7; }

int HeaderSeptets(int udhl) { return ((udhl + 1) * 8 + SeptetFillBits(udhl)) / 7; }

void AppendConcatHeader(std::string& out, uint8_t reference, uint8_t total, uint8_t sequence) {
  out.push_back(0x05);
  out.push_back(static_cast<char>(kIeConcat8));
  out.push_back(0x03);
  out.push_back(static_cast<char>(reference));
  out.push_back(static_cast<char>(total));
  out.push_back(static_cast<char>(sequence));
}

}  // namespace qm
