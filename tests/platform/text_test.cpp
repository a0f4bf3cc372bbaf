#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/utf.h"

namespace qm {
namespace {

TEST(Utf, RoundTripsAcrossPlanesAndReplacesInvalidInput) {
  const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € 😀
  bool ok = false;
  const std::u16string wide = Utf8ToUtf16(text, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(wide, (std::u16string{u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);

  // Overlong, surrogate, beyond U+10FFFF, cut short, stray continuation.
  for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ(Utf8ToUtf16(bad, &ok)[0], 0xFFFD);
    EXPECT_FALSE(ok);
  }
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(SanitizeUtf8("a\xFF"), "a\xEF\xBF\xBD");

  // Counting and cutting never split a sequence.
  const std::string cyrillic = "\xD0\x96\xD0\x96\xF0\x9F\x98\x80z";  // Ж Ж 😀 z
  EXPECT_EQ(CountCodePoints(cyrillic), 4u);
  EXPECT_EQ(TruncateCodePoints(cyrillic, 3), "\xD0\x96\xD0\x96\xF0\x9F\x98\x80");
}

TEST(Utf, Latin1MappingRoundTripsEveryOctet) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string utf8 = BytesToLatin1Utf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Latin1Utf8ToBytes(utf8), all);
  EXPECT_EQ(Latin1Utf8ToBytes("\xE2\x82\xAC"), "?");
}

TEST(Utf, CaseInsensitiveComparisonsCoverCyrillicAndLatin1) {
  EXPECT_TRUE(ContainsIgnoreCase("\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2", "\xD0\xBF\xD1\x80\xD0\xB8"));
  EXPECT_TRUE(EqualsIgnoreCaseUtf8("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"));
  EXPECT_FALSE(ContainsIgnoreCase("abc", "abd"));
}

TEST(CodePage, ConvertsDeclaredCharsetsAndReplacesUndefinedBytes) {
  EXPECT_EQ(ToUtf8("\xCF\xF0\xE8", "Windows-1251"), "\xD0\x9F\xD1\x80\xD0\xB8");
  EXPECT_EQ(FromUtf8("\xD0\x9F\xD1\x80\xD0\xB8", "win1251"), "\xCF\xF0\xE8");
  EXPECT_EQ(ToUtf8("a\x81z", "windows-1252"), "a\xEF\xBF\xBDz");  // 0x81 is undefined there
  EXPECT_EQ(FromUtf8("a\xE2\x82\xAC\xD0\x96z", "iso-8859-1"), "a??z");
  EXPECT_FALSE(ToUtf8("x", "no-such-charset"));
}

}  // namespace
}  // namespace qm
