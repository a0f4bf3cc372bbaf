// Every decoder on arbitrary octets: each must give a value or nothing, and
// never read outside its input (ASan and UBSan watch).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/utf.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_inspect.h"
#include "sms/wap_push.h"

namespace {

void DecodeAll(std::string_view pdu, std::vector<qm::DecodedPdu>& parts) {
  if (auto p = qm::DecodeReceivedPdu(pdu)) parts.push_back(*p);
  if (auto p = qm::DecodeStatusReportPdu(pdu, true)) parts.push_back(*p);
  if (auto p = qm::DecodeStatusReportPdu(pdu, false)) parts.push_back(*p);
  if (auto p = qm::DecodeSubmitPdu(pdu)) parts.push_back(*p);
  std::string error;
  if (auto p = qm::DecodeAnyPdu(pdu, &error)) parts.push_back(*p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<qm::DecodedPdu> parts;
  DecodeAll(input, parts);
  DecodeAll(qm::HexToBytes(input), parts);
  (void)qm::DecodeTextModeTime(input);
  (void)qm::DecodeWapPush(input);

  // Assembly of what decoded, of each record alone, and of the input as the
  // 8-bit data of a WAP push split in two parts.
  (void)qm::AssembleMessage(parts);
  for (const qm::DecodedPdu& p : parts) (void)qm::AssembleMessage({p});
  qm::DecodedPdu first;
  qm::DecodedPdu second;
  first.ported = true;
  first.text = qm::BytesToLatin1Utf8(input.substr(0, size / 2));
  second.text = qm::BytesToLatin1Utf8(input.substr(size / 2));
  (void)qm::AssembleMessage({first, second});
  return 0;
}
