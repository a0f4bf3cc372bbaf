// Escapes of free text in table fields.
#include "storage/text_escape.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace qm {
namespace {

TEST(FieldTextEscape, EveryTextRoundTripsAndLeavesNothingThatBreaksARow) {
  // The escapes other programs read: line breaks, TAB, quote, NUL, edge
  // blanks, the separator's bytes, and a "%" that would read as an escape.
  EXPECT_EQ(EscapeFieldText(std::string(" a\r\n\t\"\0b 100% ", 14)), "%20a%0D%0A%09%22%00b 100%%20");
  EXPECT_EQ(EscapeFieldText("a;b\xC2\xA6", ";"), "a%3Bb\xC2\xA6");
  EXPECT_EQ(EscapeFieldText("x\xC2\xA6y", "\xC2\xA6"), "x%C2%A6y");
  EXPECT_EQ(EscapeFieldText("see http://x.com/a%20b?q=%41"), "see http://x.com/a%2520b?q=%41");
  EXPECT_EQ(UnescapeFieldText(EscapeFieldText("100%00")), "100%00");  // no NUL appears

  // Any text, rich in what the escapes are made of, comes back as it was.
  std::mt19937 random(20261207);
  const std::string alphabet = std::string("%%%%0aA2Dd5;\"\t \r\n\\#xz", 21) + '\0' + "\xC2\xA6";
  std::vector<std::string> texts = {"q=%22x%22", "%%0A", "%2525", "%C2%A6", "%3B", "a%2", "%"};
  for (int n = 0; n < 3000; ++n) {
    std::string text;
    for (int len = static_cast<int>(random() % 12); len > 0; --len) text += alphabet[random() % alphabet.size()];
    texts.push_back(text);
  }
  for (const auto& text : texts) {
    for (const std::string_view sep : {"\t", ";", " ", "\xC2\xA6"}) {
      const std::string escaped = EscapeFieldText(text, sep);
      ASSERT_EQ(escaped.find_first_of(std::string("\r\n\t\"") + '\0'), std::string::npos) << escaped;
      ASSERT_EQ(escaped.find(sep), std::string::npos) << escaped;
      ASSERT_FALSE(escaped.starts_with(' ') || escaped.ends_with(' '));  // reading trims edge blanks
      ASSERT_EQ(UnescapeFieldText(escaped, sep), text) << escaped;
    }
  }
}

TEST(FieldTextEscape, ReadsOldFilesAndBothLetterCases) {
  // Earlier versions escaped only CR and LF, so a "%0A" typed by the user
  // reads back as a line break.
  EXPECT_EQ(UnescapeFieldText("a%0d%0Ab%0D%0ac 50%0A"), "a\r\nb\r\nc 50\n");
  EXPECT_EQ(UnescapeFieldText("x%C2%a6y", "\xC2\xA6"), "x\xC2\xA6y");
  // Half a separator's escape is left alone; so is ";" escaped for a TAB table.
  EXPECT_EQ(UnescapeFieldText("x%C2y", "\xC2\xA6"), "x%C2y");
  EXPECT_EQ(UnescapeFieldText("a%3Bb"), "a%3Bb");
}

}  // namespace
}  // namespace qm
