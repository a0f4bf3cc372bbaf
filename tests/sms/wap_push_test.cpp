// WAP push: the Service Indication we send, the SI and SL documents we
// receive, and whole pushes through encoder, decoder and assembly.
#include "sms/wap_push.h"

#include <gtest/gtest.h>

#include "sms/hex.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_encoder.h"

namespace qm {
namespace {

std::string Bytes(std::string hex) {
  std::erase(hex, ' ');
  return HexToBytes(hex);
}

std::string Hex(std::string_view text) { return BytesToHex(text); }

TEST(DecodeWapPush, ServiceIndicationAndServiceLoadingDocuments) {
  auto si = DecodeWapPush(EncodeServiceIndication(7, "Caf\xC3\xA9 news", "http://www.example.org/a"));
  ASSERT_TRUE(si);
  EXPECT_EQ(si->url, "http://www.example.org/a");
  EXPECT_EQ(si->text, "Caf\xC3\xA9 news");

  // <sl href="http://www." "example" ".com/"/>
  auto sl = DecodeWapPush(Bytes("01 0601B0 02066A00 85 0A 03" + Hex("example") + "00 85 01"));
  ASSERT_TRUE(sl);
  EXPECT_EQ(sl->url, "http://www.example.com/");
  EXPECT_EQ(sl->text, "");

  // A "created" attribute comes first; its date holds octets that look like
  // href tokens (0C, 0F, 0B). The href that follows is the URL.
  auto created = DecodeWapPush(Bytes("01 0601AE 02056A00 45 C6 0A C3 07 2013050C0F0B00 0C 03" + Hex("x.org") +
                                     "00 01 03" + Hex("T") + "00 01 01"));
  ASSERT_TRUE(created);
  EXPECT_EQ(created->url, "http://x.org");
  EXPECT_EQ(created->text, "T");

  // A string-table reference, an entity inside the text, a content type
  // given with a value length, WBXML 1.0 without a charset.
  auto table = DecodeWapPush(Bytes("01 06 02 01AE 00 05 04" + Hex("abc") + "00 45 C6 0B 83 00 01 03" + Hex("a") +
                                   "00 02 C12C 03" + Hex("b") + "00 01 01"));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->url, "abc");
  EXPECT_EQ(table->text, "a\xE2\x82\xAC" "b");
}

TEST(DecodeWapPush, MalformedDocumentsGiveNothing) {
  const std::string good = EncodeServiceIndication(1, "T", "http://a");
  EXPECT_TRUE(DecodeWapPush(good));
  const std::string bad[] = {
      "",
      Bytes("010605AE"),                        // headers run past the end
      Bytes("010600 02056A00 45C60C03610001"),  // no content type
      Bytes("010601B5 02056A00 45C60C0361000101"),  // another content type
      Bytes("010601AE 02056A00 45 01"),         // no indication element
      Bytes("010601AE 02056A00 45 46 03 61 00 01 01"),  // indication without href
      Bytes("010601AE 02056A00 45 C6 43 43 43 43"),     // processing instructions nested
      Bytes("010601AE 02056A00 45 C6 0B 83 05 01"),     // string-table index out of range
  };
  for (const std::string& pdu : bad) EXPECT_FALSE(DecodeWapPush(pdu)) << BytesToHex(pdu);
  // Cut anywhere before the end of the indication: nothing (the closing
  // </si> alone may be missing).
  for (std::size_t n = 0; n + 1 < good.size(); ++n) EXPECT_FALSE(DecodeWapPush(good.substr(0, n))) << n;
}

TEST(BuildSubmitPdus, SinglePushIsByteExact) {
  // "http://" in any case and "https://" become a token; other schemes stay text.
  EXPECT_EQ(BytesToHex(EncodeServiceIndication(0x2A, "Hi", "HTTP://Example.com/x")),
            "2A0601AE02056A0045C60C03" + Hex("Example.com/x") + "000103" + Hex("Hi") + "000101");
  EXPECT_EQ(BytesToHex(EncodeServiceIndication(1, "", "https://a.b")),
            "010601AE02056A0045C60E03" + Hex("a.b") + "0001030001" "01");
  EXPECT_EQ(BytesToHex(EncodeServiceIndication(1, "T", "ftp://a")),
            "010601AE02056A0045C60B03" + Hex("ftp://a") + "000103" + Hex("T") + "000101");

  const PushMessage push("", "+4412345678", "Hi", "http://a.b", 0x101);
  SubmitPdus out = BuildSubmitPdus(push, PduSettings{}, 0);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.pdus.size(), 1u);
  // First octet 51, DCS F5, TP-UDL 1E; UDHL 06 and the port element, then the
  // SI with the id's low octet as transaction id.
  EXPECT_EQ(out.pdus[0].hex, "0051000A91442143658700F5A71E060504" "0B8423F0" "010601AE02056A0045C60C03" +
                                 Hex("a.b") + "000103" + Hex("Hi") + "000101");
}

TEST(BuildSubmitPdus, SegmentedPushRoundTripsEveryOctet) {
  // Every segment's last octet must survive: an 8-bit part holds TP-UDL less
  // the header, not two octets less.
  std::string url = "https://example.com/";
  for (int i = 0; i < 280; ++i) url.push_back(static_cast<char>('a' + i % 26));
  const PushMessage push("", "+4412345678", "Read \xE2\x82\xAC news", url, 5);
  PduSettings settings;
  settings.lengthCorrection = 40;  // the push keeps its own limit
  SubmitPdus out = BuildSubmitPdus(push, settings, 0x33);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.pdus.size(), 3u);
  EXPECT_EQ(CountSegments(push, settings), 3);
  for (std::size_t i = 0; i < out.pdus.size(); ++i) {
    const std::string bytes = HexToBytes(out.pdus[i].hex);
    // Header of 13 octets: the limit is 140 - 13 - 3 = 124, runs of 113.
    EXPECT_EQ(static_cast<unsigned char>(bytes[13]), i < 2 ? 113 + 12 : bytes.size() - 14) << i;
    EXPECT_EQ(BytesToHex(bytes.substr(14, 12)), "0B05040B8423F0000333030" + std::to_string(i + 1));
  }
  std::vector<DecodedPdu> parts;
  for (const SubmitPdu& pdu : out.pdus) parts.push_back(DecodeSubmitPdu(HexToBytes(pdu.hex)).value());
  auto back = AssembleMessage(parts);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->Kind(), kKindPush);
  EXPECT_EQ(back->Url(), url);
  EXPECT_EQ(back->body, "Read \xE2\x82\xAC news");
}

}  // namespace
}  // namespace qm
