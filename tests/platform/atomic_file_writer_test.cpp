// AtomicFileWriter: content streamed in pieces replaces a file whole or not at all.
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

TEST(AtomicFileWriter, ReplacesTheFileOnlyOnCommit) {
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
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // the old file's mode kept
  EXPECT_EQ(FilesIn(dir.path()), 1u);

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
}

}  // namespace
}  // namespace qm
