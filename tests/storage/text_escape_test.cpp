// Escapes of free text in table fields.
#include "storage/text_escape.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(FieldTextEscape, EscapesWhatWouldBreakTheRow) {
  EXPECT_EQ(EscapeFieldText("line1\r\nline2"), "line1%0D%0Aline2");
  EXPECT_EQ(EscapeFieldText("a\tb"), "a%09b");
  EXPECT_EQ(EscapeFieldText("He said \"ok"), "He said %22ok");
  EXPECT_EQ(EscapeFieldText(" x "), "%20x%20");
  EXPECT_EQ(EscapeFieldText("  x"), "%20 x");  // the outer blank is enough: reading trims only edges
  EXPECT_EQ(EscapeFieldText(std::string("a\0b", 3)), "a%00b");
  // A literal percent stays, even before hex digits.
  EXPECT_EQ(EscapeFieldText("100% sure, 50%0A"), "100% sure, 50%0A");
  EXPECT_EQ(EscapeFieldText("Привет"), "Привет");
  EXPECT_EQ(EscapeFieldText(""), "");
}

TEST(FieldTextEscape, OtherSeparatorsAreEscapedByTheirBytes) {
  EXPECT_EQ(EscapeFieldText("a;b\tc", ";"), "a%3Bb%09c");
  EXPECT_EQ(UnescapeFieldText("a%3bb%3Bc", ";"), "a;b;c");
  EXPECT_EQ(EscapeFieldText("x\xC2\xA6y", "\xC2\xA6"), "x%C2%A6y");
  EXPECT_EQ(UnescapeFieldText("x%C2%a6y", "\xC2\xA6"), "x\xC2\xA6y");
  // Half a separator's escape is left alone; so is ";" escaped for a TAB table.
  EXPECT_EQ(UnescapeFieldText("x%C2y", "\xC2\xA6"), "x%C2y");
  EXPECT_EQ(UnescapeFieldText("a%3Bb"), "a%3Bb");
}

TEST(FieldTextEscape, ReadsBothLetterCasesAndOldFiles) {
  EXPECT_EQ(UnescapeFieldText("a%0d%0Ab%0D%0ac"), "a\r\nb\r\nc");
  EXPECT_EQ(UnescapeFieldText("%20%22%09%00", "\t"), std::string(" \"\t\0", 4));
  // Text that held "%0A" itself reads back with a line break (the escape of
  // "%" was never part of the format).
  EXPECT_EQ(UnescapeFieldText(EscapeFieldText("50%0A")), "50\n");
  // Anything else after "%" stays, including a cut-off escape at the end.
  EXPECT_EQ(UnescapeFieldText("100%, %41, %zz, %0"), "100%, %41, %zz, %0");
}

TEST(FieldTextEscape, RoundTripsEveryTrickyText) {
  const std::string texts[] = {
      "a\tb", "He said \"ok", "\"hi\"", " x ", "\t", "\"", "trailing\\", "multi\r\nline\n",
      std::string("\0nul", 4), "Grüße 😀 Привет", "a;b", "%", "%%0", "  ",
  };
  for (const auto& text : texts) {
    for (const std::string_view sep : {"\t", ";", " ", "\xC2\xA6"}) {
      SCOPED_TRACE(text + " / " + std::string(sep));
      const std::string escaped = EscapeFieldText(text, sep);
      EXPECT_EQ(escaped.find_first_of(std::string("\r\n\t\"") + '\0'), std::string::npos);
      EXPECT_EQ(escaped.find(sep), std::string::npos);
      EXPECT_EQ(UnescapeFieldText(escaped, sep), text);
    }
  }
}

}  // namespace
}  // namespace qm
