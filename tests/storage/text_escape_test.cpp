// Escapes of free text in table fields.
#include "storage/text_escape.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(FieldTextEscape, RoundTripsAndLeavesNothingThatBreaksARow) {
  // The escapes other programs read: line breaks, TAB, quote, NUL, edge blanks
  // and the separator's bytes; "%" itself is not escaped.
  EXPECT_EQ(EscapeFieldText(std::string(" a\r\n\t\"\0b 100% ", 14)), "%20a%0D%0A%09%22%00b 100%%20");
  EXPECT_EQ(EscapeFieldText("a;b\xC2\xA6", ";"), "a%3Bb\xC2\xA6");
  EXPECT_EQ(EscapeFieldText("x\xC2\xA6y", "\xC2\xA6"), "x%C2%A6y");
  const std::string texts[] = {
      "a\tb", "He said \"ok", "\"hi\"", " x ", "  ", "\t", "trailing\\", "multi\r\nline\n", std::string("\0nul", 4),
      "Grüße 😀 Привет", "a;b", "100%, %41, %zz, %0", "%%0", "",
  };
  for (const auto& text : texts) {
    for (const std::string_view sep : {"\t", ";", " ", "\xC2\xA6"}) {
      SCOPED_TRACE(text + " / " + std::string(sep));
      const std::string escaped = EscapeFieldText(text, sep);
      EXPECT_EQ(escaped.find_first_of(std::string("\r\n\t\"") + '\0'), std::string::npos);
      EXPECT_EQ(escaped.find(sep), std::string::npos);
      EXPECT_FALSE(escaped.starts_with(' ') || escaped.ends_with(' '));  // reading trims edge blanks
      EXPECT_EQ(UnescapeFieldText(escaped, sep), text);
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
