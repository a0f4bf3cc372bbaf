// Encoding and decoding speed of the PDU codec. Decoding starts from the
// hexadecimal text the modem gives; encoding ends with the hexadecimal text
// the modem gets.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "sms/hex.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_encoder.h"

namespace {

const qm::PduSettings kSettings;

// 150 Cyrillic letters: three UCS2 segments (67 + 67 + 16).
std::string CyrillicText() {
  std::string text;
  for (int i = 0; i < 150; ++i) text += (i % 7 == 6) ? " " : "\xD0\x96";
  return text;
}

// The DELIVER a phone would receive for each of our SUBMIT PDUs to
// +4412345678: same user data, an originator and a time stamp instead of
// the destination and validity.
std::vector<std::string> AsDeliverHex(const qm::SubmitPdus& submitted, const char* dcs) {
  std::vector<std::string> out;
  for (const qm::SubmitPdu& pdu : submitted.pdus) {
    const std::string userData = pdu.hex.substr(2 * 13);  // TP-UDL onwards
    const std::string first = submitted.pdus.size() > 1 ? "44" : "04";
    out.push_back("00" + first + "0A914421436587" + "00" + dcs + "31502041300000" + userData);
  }
  return out;
}

void BM_EncodeSingle7Bit(benchmark::State& state) {
  const qm::SMSMessage message("", "+4412345678", "Your parcel 4711 arrives today between 10:00 and 12:00.");
  for (auto _ : state) {
    qm::SubmitPdus pdus = qm::BuildSubmitPdus(message, kSettings, 0);
    benchmark::DoNotOptimize(pdus);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeSingle7Bit);

void BM_DecodeSingle7Bit(benchmark::State& state) {
  const qm::SMSMessage message("", "+4412345678", "Your parcel 4711 arrives today between 10:00 and 12:00.");
  const std::string hex = AsDeliverHex(qm::BuildSubmitPdus(message, kSettings, 0), "00").front();
  for (auto _ : state) {
    auto pdu = qm::DecodeReceivedPdu(qm::HexToBytes(hex));
    benchmark::DoNotOptimize(pdu);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeSingle7Bit);

void BM_EncodeUcs2ThreeSegments(benchmark::State& state) {
  const qm::SMSMessage message("", "+4412345678", CyrillicText());
  for (auto _ : state) {
    qm::SubmitPdus pdus = qm::BuildSubmitPdus(message, kSettings, 0x5A);
    benchmark::DoNotOptimize(pdus);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeUcs2ThreeSegments);

// Decoding of the three parts and joining them into one message.
void BM_DecodeUcs2ThreeSegments(benchmark::State& state) {
  const qm::SMSMessage message("", "+4412345678", CyrillicText());
  const std::vector<std::string> hex = AsDeliverHex(qm::BuildSubmitPdus(message, kSettings, 0x5A), "08");
  if (hex.size() != 3) state.SkipWithError("expected three segments");
  for (auto _ : state) {
    std::vector<qm::DecodedPdu> parts;
    parts.reserve(hex.size());
    for (const std::string& h : hex) parts.push_back(*qm::DecodeReceivedPdu(qm::HexToBytes(h)));
    auto joined = qm::AssembleMessage(parts);
    benchmark::DoNotOptimize(joined);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeUcs2ThreeSegments);

// A status report as "+CDS:" delivers it (published example, no SMSC part).
void BM_DecodeStatusReport(benchmark::State& state) {
  const std::string hex = "06000B910221815716F2709021510121807090215101718000";
  for (auto _ : state) {
    auto report = qm::DecodeStatusReportPdu(qm::HexToBytes(hex), true);
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeStatusReport);

}  // namespace

BENCHMARK_MAIN();
