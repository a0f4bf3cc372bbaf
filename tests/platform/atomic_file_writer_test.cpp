// Files are replaced whole or not at all: streamed in pieces, or written at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/file_util.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

std::size_t FilesIn(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(AtomicFileWriter, ReplacesTheFileOnlyOnCommitOrWhenWrittenAtOnce) {
  test::TempDir dir;
  const std::string path = dir.File("table.txt");
  test::WriteFile(path, "old\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  {
    AtomicFileWriter out;
    ASSERT_TRUE(out.Open(path));
    ASSERT_TRUE(out.Write("new "));
    EXPECT_EQ(test::ReadFile(path), "old\r\n");  // untouched while writing
    ASSERT_TRUE(out.Write("content\r\n"));
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(test::ReadFile(path), "new content\r\n");
  EXPECT_EQ(ModeOf(path), 0600u);  // the old file's mode kept
  {
    AtomicFileWriter abandoned;
    ASSERT_TRUE(abandoned.Open(path));
    ASSERT_TRUE(abandoned.Write("half"));
  }
  EXPECT_EQ(test::ReadFile(path), "new content\r\n");
  EXPECT_EQ(FilesIn(dir.path()), 1u);  // no temporary file left behind

  AtomicFileWriter nowhere;
  SysError err;
  EXPECT_FALSE(nowhere.Open(dir.File("missing/table.txt"), 0644, &err));
  EXPECT_EQ(err.code, kErrFileNotFound);
  EXPECT_FALSE(nowhere.Write("x"));
  EXPECT_FALSE(nowhere.Commit());

  // Written at once.
  const std::string once = dir.File("f");
  ASSERT_TRUE(WriteFileAtomically(once, "one", 0640));
  ASSERT_TRUE(WriteFileAtomically(once, "two", 0600));  // an existing file keeps its mode
  EXPECT_EQ(test::ReadFile(once), "two");
  EXPECT_EQ(ModeOf(once), 0640u);
  EXPECT_EQ(FilesIn(dir.path()), 2u);
  EXPECT_FALSE(MakeDirectories(once + "/sub"));  // a file is in the way
}

}  // namespace
}  // namespace qm
