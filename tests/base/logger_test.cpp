#include "base/logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(LoggerFormat, PrefixAndThreadIdDigits) {
  EXPECT_EQ(Logger::FormatPrefix(5, 3, 2026, 7, 8, 9, 45, 42), "[05-03-2026 07:08:09.045 0042] ");
  EXPECT_EQ(Logger::FormatPrefix(31, 12, 1999, 23, 59, 59, 999, 0x12345), "[31-12-1999 23:59:59.999 9029] ");
  EXPECT_EQ(Logger::FormatPrefix(1, 1, 2000, 0, 0, 0, 0, 65535), "[01-01-2000 00:00:00.000 65535] ");
}

TEST(LoggerWrite, LinesAreStampedUtf8WithCrLf) {
  TempDir dir;
  const std::string path = dir.File("q.log");
  test::WriteFile(path, "older\r\n");  // the log is continued, not truncated
  Logger log(path, nullptr);
  log.Write(LogLevel::kDetail, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Cyrillic
  const std::string text = ReadFile(path);
  const std::regex line(
      "older\r\n\\[\\d{2}-\\d{2}-\\d{4} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\d{4,5}\\] "
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(LoggerWrite, ThresholdFromLevelSetting) {
  EXPECT_EQ(Logger::ThresholdForLevel(0), 0);
  EXPECT_EQ(Logger::ThresholdForLevel(1), 2);
  EXPECT_EQ(Logger::ThresholdForLevel(2), 10);
  EXPECT_EQ(Logger::ThresholdForLevel(3), -1);

  TempDir dir;
  Logger log(dir.File("q.log"), nullptr);
  log.SetLevel(Logger::ThresholdForLevel(1));
  for (int level = 0; level <= 3; ++level) log.Write(static_cast<LogLevel>(level), "level" + std::to_string(level));
  std::string text = ReadFile(dir.File("q.log"));
  EXPECT_EQ(text.find("level0"), std::string::npos);
  EXPECT_EQ(text.find("level1"), std::string::npos);
  EXPECT_NE(text.find("level2"), std::string::npos);
  EXPECT_NE(text.find("level3"), std::string::npos);

  log.SetLevel(Logger::ThresholdForLevel(2));
  log.Write(LogLevel::kPortFailure, "nothing");
  EXPECT_EQ(ReadFile(dir.File("q.log")), text);
}

TEST(LoggerRotation, EveryHundredthLineChecksTheSize) {
  TempDir dir;
  const std::string path = dir.File("q.log");
  test::WriteFile(path + ".1", "an older generation");
  Logger log(path, nullptr);
  log.SetMaxSizeKb(1);
  for (int i = 1; i <= 99; ++i) log.Write(LogLevel::kDetail, "line " + std::to_string(i));
  EXPECT_EQ(ReadFile(path + ".1"), "an older generation");  // over the limit, but not yet checked
  log.Write(LogLevel::kDetail, "line 100");
  const std::string rotated = ReadFile(path + ".1");
  EXPECT_NE(rotated.find("line 100\r\n"), std::string::npos);
  EXPECT_NE(rotated.find("line 1\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(path), "");
  log.Write(LogLevel::kDetail, "after");
  EXPECT_NE(ReadFile(path).find("after"), std::string::npos);
}

TEST(LoggerRotation, ZeroMeansNoLimit) {
  TempDir dir;
  Logger log(dir.File("q.log"), nullptr);
  for (int i = 0; i < 200; ++i) log.Write(LogLevel::kDetail, std::string(100, 'x'));
  EXPECT_FALSE(test::FileExists(dir.File("q.log.1")));
}

TEST(LoggerWrite, ClearAndConcurrentWritersNeverInterleave) {
  TempDir dir;
  const std::string path = dir.File("q.log");
  Logger log(path, nullptr);
  log.Write(LogLevel::kDetail, "before clear");
  log.Clear();
  EXPECT_EQ(ReadFile(path), "");
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&log, t] {
        for (int i = 0; i < 50; ++i) log.Write(LogLevel::kDetail, "thread" + std::to_string(t) + std::string(200, 'a' + t));
      });
    }
    writers.emplace_back([&log] {
      for (int i = 0; i < 5; ++i) log.Clear();
    });
  }
  // Every surviving line is whole.
  const std::string text = ReadFile(path);
  std::size_t start = 0;
  int lines = 0;
  while (start < text.size()) {
    const auto end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(line, std::regex("\\[.{23} \\d{4,5}\\] thread\\d(a{200}|b{200}|c{200}|d{200})")))
        << line;
    start = end + 2;
    ++lines;
  }
  EXPECT_GT(lines, 0);
}

TEST(LoggerWrite, UnopenableFileWritesNothingAndDoesNotFail) {
  Logger log("/nonexistent-folder/q.log", nullptr);
  for (int i = 0; i < 150; ++i) log.Write(LogLevel::kError, "dropped");
  Logger none("", nullptr);
  none.Write(LogLevel::kDetail, "dropped");
  none.Clear();
}

}  // namespace
}  // namespace qm
