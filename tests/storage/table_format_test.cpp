// The table file format: lines, fields, and writing rows back, byte for byte.
#include "storage/table_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/text_escape.h"

namespace qm {
namespace {

using Fields = std::vector<std::string>;
const std::string kBom = "\xEF\xBB\xBF";

Fields Lines(std::string_view text) {
  Fields out;
  ForEachTableLine(text, [&](std::string_view line) { out.emplace_back(line); });
  return out;
}

// Parses one line into three fields; {"<skipped>"} for a skipped line.
Fields Parse(std::string_view line, std::string_view sep = "\t", bool keyIsFirst = true) {
  std::vector<std::string_view> views;
  if (ParseTableLine(line, sep, 3, keyIsFirst, views) == LineParse::kSkipped) return {"<skipped>"};
  return Fields(views.begin(), views.end());
}

std::string Line(const Fields& fields, std::string_view sep = "\t") {
  std::vector<std::string_view> views(fields.begin(), fields.end());
  std::string out;
  AppendTableLine(out, views, sep, true);
  return out;
}

TEST(TableFormat, FieldsQuotesBlanksAndSeparators) {
  const struct {
    std::string line;
    Fields fields;
    std::string sep = "\t";
  } cases[] = {
      {"a\tb\tc\t", {"<skipped>"}},  // a trailing separator is a fourth field
      {"  \"abc\"  \tx", {"abc", "x", ""}},
      {"a\\\"b\tc\td", {"a\\\"b", "c", "d"}},     // a backslash keeps a quote from toggling, and stays
      {"x\t\"y\tz", {"x", "y\tz", ""}},           // an unbalanced quote swallows the separators after it
      {"\"abc\tdef\"\t\"", {"abc\tdef", "\"", ""}},  // a lone quote stays
      {"a\t\"\"\tb", {"a", "", "b"}},
      {"\"x\"y\"\"\tb", {"x\"y\"", "b", ""}},  // edge quotes are removed independently
      {"\" padded \"", {" padded ", "", ""}},
      {"a\t \t b ", {"a", "", "b"}},
      {"a\t" + kBom + "b", {"a", kBom + "b", ""}},
      {"a;b\tc;d", {"a", "b\tc", "d"}, ";"},
      {"a\xC2\xA6" "b\xC2\xA6" "c", {"a", "b", "c"}, "\xC2\xA6"},
      {"a\xC2" "b", {"a\xC2" "b", "", ""}, "\xC2\xA6"},  // a lone lead byte does not split
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.line, c.sep), c.fields) << c.line;
  // The byte-order mark is dropped from the key only.
  EXPECT_EQ(Parse(kBom + "0000000a\tx", "\t", false), (Fields{kBom + "0000000a", "x", ""}));
}

TEST(TableFormat, TheStartOfALineStaysARow) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{"#c", "x", "y"}, "\"#c\"\tx\ty\r\n"},                    // not a comment
      {{"#c\"", "x", "y"}, " #c%22\tx\ty\r\n"},                  // escaped, a blank in front
      {{kBom + "k", "x", "y"}, "\"" + kBom + "k\"\tx\ty\r\n"},   // the mark stays in the key
      {{kBom + "k\\", "x", "y"}, " " + kBom + "k\\\tx\ty\r\n"},  // cannot be quoted
  };
  for (const auto& [row, line] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Line(row), line);
    const auto lines = Lines(line);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(UnescapeFieldText(Parse(lines[0])[0]), row[0]);
  }
  // With a blank separator the blank in front is a TAB.
  EXPECT_EQ(Line({"#\"", "x"}, " "), "\t#%22 x\r\n");
  // A row of one empty field is not an empty line.
  EXPECT_EQ(Line({""}), "\"\"\r\n");
  EXPECT_EQ(Parse(Lines("\"\"\r\n").at(0)), (Fields{"", "", ""}));
}

}  // namespace
}  // namespace qm
