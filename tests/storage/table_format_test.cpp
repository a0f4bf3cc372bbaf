// The table file format: lines, fields, and writing rows back, byte for byte.
#include "storage/table_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/text_escape.h"

namespace qm {
namespace {

using Fields = std::vector<std::string>;

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  ForEachTableLine(text, [&](std::string_view line) { out.emplace_back(line); });
  return out;
}

// Parses one line; an empty optional-like marker "<skipped>" for skipped lines.
Fields Parse(std::string_view line, std::size_t columns = 3, std::string_view sep = "\t",
             bool keyIsFirst = true) {
  std::vector<std::string_view> views;
  if (ParseTableLine(line, sep, columns, keyIsFirst, views) == LineParse::kSkipped) return {"<skipped>"};
  return Fields(views.begin(), views.end());
}

std::string Line(const Fields& fields, std::string_view sep = "\t") {
  std::vector<std::string_view> views(fields.begin(), fields.end());
  std::string out;
  AppendTableLine(out, views, sep, true);
  return out;
}

TEST(TableLines, SkipsCommentsAndEmptyLinesAndHandlesEveryLineEnd) {
  EXPECT_EQ(Lines("# header\r\n\r\na\tb\r\n\nc\td\ne\tf"),
            (std::vector<std::string>{"a\tb", "c\td", "e\tf"}));
  // Only one CR before the LF is dropped; a final CR without LF goes too.
  EXPECT_EQ(Lines("a\r\r\nb\r"), (std::vector<std::string>{"a\r", "b"}));
  // A "#" counts only as the first byte.
  EXPECT_EQ(Lines(" #x\n#y\n"), (std::vector<std::string>{" #x"}));
  EXPECT_TRUE(Lines("").empty());
}

TEST(TableLines, NulEndsTheData) {
  const std::string text = std::string("a\tb\r\nc\td") + '\0' + "e\r\nf\tg\r\n";
  EXPECT_EQ(Lines(text), (std::vector<std::string>{"a\tb", "c\td"}));
  EXPECT_EQ(EndOfData(std::string_view("ab\0c", 4)), 2u);
  EXPECT_EQ(EndOfData("abc"), 3u);
}

TEST(TableFields, PadsShortLinesAndSkipsLongOnes) {
  EXPECT_EQ(Parse("a"), (Fields{"a", "", ""}));
  EXPECT_EQ(Parse("a\tb\tc"), (Fields{"a", "b", "c"}));
  EXPECT_EQ(Parse("a\tb\tc\td"), (Fields{"<skipped>"}));
  EXPECT_EQ(Parse("a\tb\tc\t"), (Fields{"<skipped>"}));  // a trailing separator is a fourth field
  EXPECT_EQ(Parse("\t\t"), (Fields{"", "", ""}));
  EXPECT_EQ(Parse("x", 0), (Fields{"<skipped>"}));  // a table without columns holds no row
}

TEST(TableFields, QuotesTrimmingAndBackslashes) {
  EXPECT_EQ(Parse("  \"abc\"  \tx"), (Fields{"abc", "x", ""}));
  // A separator inside quotes does not split.
  EXPECT_EQ(Parse("\"a\tb\"\tc"), (Fields{"a\tb", "c", ""}));
  // A backslash keeps a quote from toggling (and stays).
  EXPECT_EQ(Parse("a\\\"b\tc\td"), (Fields{"a\\\"b", "c", "d"}));
  // An unbalanced quote swallows the separators after it.
  EXPECT_EQ(Parse("x\t\"y\tz"), (Fields{"x", "y\tz", ""}));
  // Edge quotes are removed independently; a lone quote stays; two become empty.
  EXPECT_EQ(Parse("\"abc\tdef\"\t\""), (Fields{"abc\tdef", "\"", ""}));
  EXPECT_EQ(Parse("a\t\"\"\tb"), (Fields{"a", "", "b"}));
  EXPECT_EQ(Parse("\"x\"y\"\"\tb"), (Fields{"x\"y\"", "b", ""}));
  EXPECT_EQ(Parse("\" padded \""), (Fields{" padded ", "", ""}));
  EXPECT_EQ(Parse("a\t \t b "), (Fields{"a", "", "b"}));
}

TEST(TableFields, ByteOrderMarkDroppedFromTheKeyOnly) {
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(Parse(bom + "0000000a\tx"), (Fields{"0000000a", "x", ""}));
  EXPECT_EQ(Parse(bom + "0000000a\tx", 3, "\t", false), (Fields{bom + "0000000a", "x", ""}));
  EXPECT_EQ(Parse("a\t" + bom + "b"), (Fields{"a", bom + "b", ""}));
}

TEST(TableFields, OtherSeparators) {
  EXPECT_EQ(Parse("a;b\tc;d", 3, ";"), (Fields{"a", "b\tc", "d"}));
  EXPECT_EQ(Parse("a\xC2\xA6" "b\xC2\xA6" "c", 3, "\xC2\xA6"), (Fields{"a", "b", "c"}));
  // A lone lead byte of the separator does not split.
  EXPECT_EQ(Parse("a\xC2" "b", 3, "\xC2\xA6"), (Fields{"a\xC2" "b", "", ""}));
}

TEST(TableFields, ParseReportsQuotedLines) {
  std::vector<std::string_view> f;
  EXPECT_EQ(ParseTableLine("a\tb", "\t", 2, true, f), LineParse::kPlain);
  EXPECT_EQ(ParseTableLine("a\t\"b\"", "\t", 2, true, f), LineParse::kQuoted);
}

TEST(TableWriting, PlainRowsAreWrittenAsTheyAre) {
  EXPECT_EQ(Line({"0000001a", "1700000000", "+4912345678"}), "0000001a\t1700000000\t+4912345678\r\n");
  EXPECT_EQ(Line({"a", "", ""}), "a\t\t\r\n");
  EXPECT_EQ(Line({"a\"b\"c", "x\\\"y", "50%0A"}), "a\"b\"c\tx\\\"y\t50%0A\r\n");
}

TEST(TableWriting, EveryTrickyFieldReadsBackAsWrittenOrEscaped) {
  struct Case {
    std::string value;
    FieldForm form;
  };
  const std::vector<Case> cases = {
      {"plain", FieldForm::kRaw},
      {"a\tb", FieldForm::kQuoted},
      {" edge blanks ", FieldForm::kQuoted},
      {"\ttab", FieldForm::kQuoted},
      {"#not a comment", FieldForm::kQuoted},
      {"ends with \\", FieldForm::kRaw},
      {"a\tb\\", FieldForm::kEscaped},
      {"\"", FieldForm::kEscaped},
      {"\"hi\"", FieldForm::kEscaped},
      {"He said \"ok", FieldForm::kEscaped},
      {"line\r\nbreak", FieldForm::kEscaped},
      {std::string("nul\0byte", 8), FieldForm::kEscaped},
      {"Grüße, Привет 😀", FieldForm::kRaw},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    // Any column: first (comment rule applies) and middle.
    const bool first = c.value.front() == '#';
    EXPECT_EQ(HowToWriteField(c.value, "\t", first), c.form);
    const Fields row = first ? Fields{c.value, "k", "z"} : Fields{"k", c.value, "z"};
    const std::string line = Line(row);
    std::vector<std::string> lines = Lines(line + line);
    ASSERT_EQ(lines.size(), 2u);
    const Fields back = Parse(lines[0]);
    const std::size_t col = first ? 0 : 1;
    const std::string expected = c.form == FieldForm::kEscaped ? EscapeFieldText(c.value) : c.value;
    EXPECT_EQ(back[col], expected);
    EXPECT_EQ(back[2], "z");
    EXPECT_EQ(UnescapeFieldText(back[col]), c.value);
  }
  // The comment rule matters only at the start of a line.
  EXPECT_EQ(HowToWriteField("#x", "\t", false), FieldForm::kRaw);
}

TEST(TableWriting, TheStartOfALineStaysARow) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{"#c", "x", "y"}, "\"#c\"\tx\ty\r\n"},                   // not a comment
      {{"#c\"", "x", "y"}, " #c%22\tx\ty\r\n"},                   // escaped, a blank in front
      {{bom + "k", "x", "y"}, "\"" + bom + "k\"\tx\ty\r\n"},       // the mark stays in the key
      {{bom + "k\\", "x", "y"}, " " + bom + "k\\\tx\ty\r\n"},  // cannot be quoted
  };
  for (const auto& [row, line] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Line(row), line);
    const auto lines = Lines(line);
    ASSERT_EQ(lines.size(), 1u);
    const Fields back = Parse(lines[0]);
    EXPECT_EQ(UnescapeFieldText(back[0]), row[0]);
  }
  // With a blank separator the blank in front is a TAB.
  EXPECT_EQ(Line({"#\"", "x"}, " "), "\t#%22 x\r\n");
  // A row of one empty field is not an empty line.
  EXPECT_EQ(Line({""}), "\"\"\r\n");
  EXPECT_EQ(Parse(Lines("\"\"\r\n").at(0), 1), (Fields{""}));
}

TEST(TableNumbers, HexIdsAndDecimalFields) {
  EXPECT_EQ(ReadHexId("0000000a"), 10u);
  EXPECT_EQ(ReadHexId("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadHexId("1ffffffff"), 0xFFFFFFFFu);  // saturates
  EXPECT_EQ(ReadHexId(" 0x1f"), 31u);
  EXPECT_EQ(ReadHexId("12zz"), 0x12u);
  EXPECT_EQ(ReadHexId("zz"), 0u);
  EXPECT_EQ(ReadHexId(""), 0u);
  EXPECT_EQ(ReadDecimal(" -42x"), -42);
  EXPECT_EQ(ReadDecimal("4294967295"), 4294967295LL);
  EXPECT_EQ(ReadDecimal("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(ReadDecimal("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(ReadDecimal("abc"), 0);
}

}  // namespace
}  // namespace qm
