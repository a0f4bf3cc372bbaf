// Decoding of SMS-SUBMIT, SMS-DELIVER and SMS-STATUS-REPORT PDUs.
#include "sms/pdu_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "sms/pdu_inspect.h"

namespace qm {
namespace {

// Our "Hello" to +44 1234 5678, one day of validity (VP A7).
constexpr char kSubmitHello[] = "0011000A9144214365870000A705C8329BFD06";
// The SMS-SUBMIT example of the widely copied "SMS and the PDU format" page
// (dreamfabric.com): "hellohello" to +46 70 825 1358, VP AA.
constexpr char kSubmitHelloHello[] = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
// "ét" as UCS2.
constexpr char kSubmitUcs2[] = "0011000A9144214365870008A70400E90074";
// "Hi" as part 1 of 2 (reference 0x2A) behind the 8-bit concatenation header;
// one fill bit aligns the first septet.
constexpr char kSubmitConcatenated[] = "0051000A9144214365870000A70905000 32A02019069";

std::string Pdu(std::string hex) {
  std::erase(hex, ' ');
  return HexToBytes(hex);
}

TEST(HexToBytes, PairsHighNibbleFirstAnyCase) {
  EXPECT_EQ(HexToBytes("00A7ff10"), std::string("\x00\xA7\xFF\x10", 4));
  EXPECT_EQ(HexToBytes("aB"), "\xAB");
  EXPECT_EQ(HexToBytes(""), "");
  // A non-hex character counts as 0, an odd last digit is dropped.
  EXPECT_EQ(HexToBytes("G1Z"), "\x01");
  EXPECT_EQ(HexToBytes("1"), "");
}

TEST(DecodeSubmitPdu, OurHelloAndThePublishedExample) {
  auto hello = DecodeSubmitPdu(HexToBytes(kSubmitHello));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->from, "4412345678");
  EXPECT_EQ(hello->text, "Hello");
  EXPECT_EQ(hello->coding, 0);
  EXPECT_EQ(hello->total, 1);
  EXPECT_EQ(hello->part, 0);
  EXPECT_EQ(hello->reference, 0);
  EXPECT_FALSE(hello->ported);

  auto published = DecodeSubmitPdu(HexToBytes(kSubmitHelloHello));
  ASSERT_TRUE(published);
  EXPECT_EQ(published->from, "46708251358");
  EXPECT_EQ(published->text, "hellohello");
}

TEST(DecodeSubmitPdu, Ucs2AndConcatenatedSevenBit) {
  auto ucs2 = DecodeSubmitPdu(HexToBytes(kSubmitUcs2));
  ASSERT_TRUE(ucs2);
  EXPECT_EQ(ucs2->coding, 8);
  EXPECT_EQ(ucs2->text, "\xC3\xA9t");

  auto part = DecodeSubmitPdu(Pdu(kSubmitConcatenated));
  ASSERT_TRUE(part);
  EXPECT_EQ(part->text, "Hi");
  EXPECT_EQ(part->reference, 0x2A);
  EXPECT_EQ(part->total, 2);
  EXPECT_EQ(part->part, 0);
}

TEST(DecodeSubmitPdu, SmscPartIsSkipped) {
  // The same "Hello" with the service centre +44 7785 016005 in front.
  auto hello = DecodeSubmitPdu(Pdu("07914477580106F5" "11000A9144214365870000A705C8329BFD06"));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->text, "Hello");
  EXPECT_EQ(hello->from, "4412345678");
}

TEST(DecodeSubmitPdu, RefusesOtherMessageTypesAndEveryTruncation) {
  // An SMS-DELIVER (TP-MTI 0) is not a submit.
  PduDiagnostics why;
  EXPECT_FALSE(DecodeSubmitPdu(Pdu("0004"), &why));
  EXPECT_EQ(why.failure, "TP-MTI 0 is not SMS-SUBMIT");
  // Every proper prefix ends before TP-UDL has been read, or is accepted
  // with the user data it has; none is read past its end.
  const std::string full = HexToBytes(kSubmitHello);
  for (std::size_t n = 0; n < full.size(); ++n) {
    const std::string prefix = full.substr(0, n);
    auto decoded = DecodeSubmitPdu(prefix, &why);
    if (n < 14) {
      EXPECT_FALSE(decoded) << n;
      EXPECT_FALSE(why.failure.empty()) << n;
    } else {
      ASSERT_TRUE(decoded) << n;
      EXPECT_TRUE(std::string("Hello").starts_with(decoded->text)) << n;
      EXPECT_FALSE(why.usedEveryOctet) << n;
    }
  }
  ASSERT_TRUE(DecodeSubmitPdu(full, &why));
  EXPECT_TRUE(why.usedEveryOctet);
  EXPECT_FALSE(DecodeSubmitPdu(Pdu("0011000A91442143"), &why));
  EXPECT_EQ(why.failure, "cannot read TP-DA");
}

}  // namespace
}  // namespace qm
