#include "base/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <thread>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(Logger, LinesAreStampedUtf8WithCrLfBelowTheThresholdDropped) {
  EXPECT_EQ(Logger::FormatPrefix(5, 3, 2026, 7, 8, 9, 45, 42), "[05-03-2026 07:08:09.045 0042] ");
  EXPECT_EQ(Logger::FormatPrefix(1, 1, 2000, 0, 0, 0, 0, 0x12345), "[01-01-2000 00:00:00.000 9029] ");  // low 16 bits

  TempDir dir;
  const std::string path = dir.File("q.log");
  test::WriteFile(path, "older\r\n");  // the log is continued, not truncated
  Logger log(path, nullptr);
  log.SetLevel(Logger::ThresholdForLevel(1));
  for (int level = 0; level <= 3; ++level) {
    log.Write(static_cast<LogLevel>(level), "\xD0\x9F\xD1\x80\xD0\xB8 " + std::to_string(level));  // Cyrillic
  }
  const std::regex lines(
      "older\r\n"
      "\\[\\d{2}-\\d{2}-\\d{4} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\d{4,5}\\] \xD0\x9F\xD1\x80\xD0\xB8 2\r\n"
      "\\[.{23} \\d{4,5}\\] \xD0\x9F\xD1\x80\xD0\xB8 3\r\n");
  const std::string text = ReadFile(path);
  EXPECT_TRUE(std::regex_match(text, lines)) << text;
  // An entry never spans two lines, and the file is the owner's alone.
  log.Write(LogLevel::kError, "The port can't be opened.\nPlease check.\r\nEnd\r");
  EXPECT_TRUE(ReadFile(path).ends_with("] The port can't be opened. Please check. End \r\n"));
  Logger fresh(dir.File("new.log"), nullptr);
  fresh.Write(LogLevel::kDetail, "x");
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("new.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Neither an unopenable file nor none at all is a failure.
  Logger nowhere("/nonexistent-folder/q.log", nullptr);
  for (int i = 0; i < 150; ++i) nowhere.Write(LogLevel::kError, "dropped");
  Logger none("", nullptr);
  none.Write(LogLevel::kDetail, "dropped");
  none.Clear();
}

TEST(Logger, EveryHundredthLineChecksTheSizeAndRotationKeepsTheCurrentLog) {
  TempDir dir;
  const std::string path = dir.File("q.log");
  test::WriteFile(path + ".1", "an older generation");
  Logger log(path, nullptr);
  for (int i = 0; i < 200; ++i) log.Write(LogLevel::kDetail, std::string(100, 'x'));  // no limit yet
  EXPECT_EQ(ReadFile(path + ".1"), "an older generation");
  log.Clear();
  log.SetMaxSizeKb(1);
  for (int i = 1; i <= 99; ++i) log.Write(LogLevel::kDetail, "line " + std::to_string(i));
  EXPECT_EQ(ReadFile(path + ".1"), "an older generation");  // over the limit, but not yet checked
  log.Write(LogLevel::kDetail, "line 100");
  const std::string rotated = ReadFile(path + ".1");
  EXPECT_NE(rotated.find("line 1\r\n"), std::string::npos);
  EXPECT_NE(rotated.find("line 100\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(path), "");
  log.Write(LogLevel::kDetail, "after");
  EXPECT_NE(ReadFile(path).find("after"), std::string::npos);
}

TEST(Logger, ClearAndConcurrentWritersNeverInterleave) {
  TempDir dir;
  const std::string path = dir.File("q.log");
  Logger log(path, nullptr);
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
  const std::regex whole("\\[.{23} \\d{4,5}\\] thread\\d(a{200}|b{200}|c{200}|d{200})");
  int lines = 0;
  for (std::size_t start = 0, end; start < text.size(); start = end + 2, ++lines) {
    end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(text.substr(start, end - start), whole)) << text.substr(start, end - start);
  }
  EXPECT_GT(lines, 0);
}

}  // namespace
}  // namespace qm
