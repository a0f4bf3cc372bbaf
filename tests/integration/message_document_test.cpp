// The XML message document: fragments, declared encodings, the request
// elements, and documents written to attack the parser.
#include "integration/message_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace qm {
namespace {

std::string Body(const MessageDocument& doc, std::size_t i) { return doc.items.at(i)->body; }

TEST(MessageDocument, ReadsEveryRequestInDocumentOrder) {
  // A fragment: no declaration, no root.
  MessageDocument doc = ParseMessageDocument("f", R"(<message msisdn="1">a &amp; b</message>
      <message msisdn="2"/>)");
  ASSERT_EQ(doc.status, DocumentStatus::kParsed);
  ASSERT_EQ(doc.items.size(), 2u);
  EXPECT_EQ(Body(doc, 0), "a & b");
  EXPECT_EQ(doc.items[1]->to, "2");
  EXPECT_EQ(Body(doc, 1), "");

  doc = ParseMessageDocument("/var/spool/in.xml", R"(<?xml version="1.0"?>
    <messages>
      <message>no recipient</message>
      <message msisdn="+491" flash="False" report="false" custom="order 5">hi</message>
      <message msisdn="+492" flash="false" report="yes"><![CDATA[hidden]]></message>
      <message msisdn="+493" url="http://wap.example/x" flash="0">push text</message>
      <ussd>*100#</ussd>
      <handle custom=""/>
      <handle custom="order 5"/>
      <!-- comment --> <unknown msisdn="9"/>
      <handle_received timestamp="1700000000"/>
      <handle_received timestamp="99999999999999999999999"/>
      <handle_received timestamp="x"/>
    </messages>)");
  ASSERT_EQ(doc.status, DocumentStatus::kParsed);
  ASSERT_EQ(doc.items.size(), 4u);
  EXPECT_EQ(doc.items[0]->Kind(), kKindSms);
  EXPECT_EQ(doc.items[0]->to, "+491");
  EXPECT_EQ(doc.items[0]->flags, uint32_t{kFlagFlash});
  EXPECT_EQ(doc.items[0]->custom, "order 5");
  EXPECT_EQ(Body(doc, 0), "hi");
  EXPECT_EQ(doc.items[1]->flags, uint32_t{kFlagStatusReport});
  EXPECT_EQ(Body(doc, 1), "");  // CDATA is not the text
  EXPECT_EQ(doc.items[2]->Kind(), kKindPush);
  EXPECT_EQ(doc.items[2]->Url(), "http://wap.example/x");
  EXPECT_EQ(doc.items[2]->flags, 0u);
  EXPECT_EQ(Body(doc, 2), "push text");
  EXPECT_EQ(doc.items[3]->Kind(), kKindUssd);
  EXPECT_EQ(Body(doc, 3), "*100#");
  ASSERT_EQ(doc.replays.size(), 4u);
  EXPECT_EQ(doc.replays[0].kind, ReplayKind::kHandle);
  EXPECT_EQ(doc.replays[0].custom, "order 5");
  EXPECT_EQ(doc.replays[1].kind, ReplayKind::kHandleReceived);
  EXPECT_EQ(doc.replays[1].timestamp, 1700000000u);
  EXPECT_EQ(doc.replays[2].timestamp, UINT64_MAX);
  EXPECT_EQ(doc.replays[3].timestamp, 0u);

  // A declared document is never wrapped: another root yields nothing.
  doc = ParseMessageDocument("r", R"(<?xml version="1.0"?><message msisdn="1">x</message>)");
  EXPECT_EQ(doc.status, DocumentStatus::kParsed);
  EXPECT_TRUE(doc.items.empty());
}

TEST(MessageDocument, DecodesOnlyADoubleQuotedEncoding) {
  const std::string cp1251Privet = "\xCF\xF0\xE8\xE2\xE5\xF2";
  const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // "Привет"
  const std::string rest = "?><messages><message msisdn=\"1\">" + cp1251Privet + "</message></messages>";
  for (const char* name : {"windows-1251", "WIN_1251", "cp1251"}) {
    const MessageDocument doc =
        ParseMessageDocument("e", std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"" + rest);
    ASSERT_EQ(doc.items.size(), 1u) << name;
    EXPECT_EQ(Body(doc, 0), privet) << name;
  }
  for (const std::string decl : {"<?xml version='1.0' encoding='windows-1251'", "<?xml encoding=windows-1251"}) {
    const MessageDocument doc = ParseMessageDocument("e", decl + rest);
    ASSERT_EQ(doc.items.size(), 1u) << decl;
    EXPECT_NE(Body(doc, 0), privet) << decl;  // read as UTF-8; the invalid bytes are replaced
    EXPECT_EQ(Body(doc, 0).find("\xEF\xBF\xBD"), 0u) << decl;
  }
  const MessageDocument koi8 = ParseMessageDocument(
      "k",
      "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><messages><message msisdn=\"1\">\xF0\xD2\xC9\xD7\xC5\xD4"
      "</message></messages>");
  ASSERT_EQ(koi8.items.size(), 1u);
  EXPECT_EQ(Body(koi8, 0), privet);
}

TEST(MessageDocument, HostileDocumentsNeitherExpandNorReadFilesNorCrash) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY l0 \"lollollollollollollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    const std::string prev = "&l" + std::to_string(i - 1) + ";";
    std::string value;
    for (int j = 0; j < 10; ++j) value += prev;
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" + value + "\">";
  }
  laughs +=
      "]><messages><message msisdn=\"1\" custom=\"&l9;\">&l9;</message><message msisdn=\"2\">a&l9;</message>"
      "</messages>";
  const auto start = std::chrono::steady_clock::now();
  const MessageDocument bomb = ParseMessageDocument("b", laughs);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  for (const auto& item : bomb.items) {
    EXPECT_LT(item->body.size() + item->custom.size(), 100u);
  }

  const MessageDocument xxe = ParseMessageDocument(
      "x",
      "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<messages><message msisdn=\"1\">&x;</message><message msisdn=\"2\">a&x;</message></messages>");
  for (const auto& item : xxe.items) EXPECT_EQ(item->body.find("root"), std::string::npos);

  const std::string good = R"(<?xml version="1.0" encoding="utf-8"?><messages><message msisdn="1">t</message>)";
  for (std::size_t cut = 0; cut <= good.size(); ++cut) {
    const MessageDocument doc = ParseMessageDocument("t", good.substr(0, cut));
    for (const auto& item : doc.items) EXPECT_EQ(item->to, "1");
  }
  const MessageDocument garbage = ParseMessageDocument("g", std::string("<?xml\0\xFF<<&&;\x01]]>", 16));
  EXPECT_TRUE(garbage.status == DocumentStatus::kNotParsed || garbage.items.empty());
}

}  // namespace
}  // namespace qm
