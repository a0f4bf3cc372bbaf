#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include "platform/blocking_queue.h"
#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/key_store.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

TEST(Errors, ErrnoMapsOntoTheDriversCodes) {
  EXPECT_EQ(MapErrno(ENOENT), kErrFileNotFound);
  EXPECT_EQ(MapErrno(ENXIO), kErrFileNotFound);
  EXPECT_EQ(MapErrno(ENODEV), kErrFileNotFound);
  EXPECT_EQ(MapErrno(EBUSY), kErrAccessDenied);
  EXPECT_EQ(MapErrno(EACCES), kErrAccessDenied);
  EXPECT_EQ(MapErrno(EIO), kErrInvalidHandle);
  EXPECT_EQ(MapErrno(EBADF), kErrInvalidHandle);
  EXPECT_EQ(MapErrno(EAGAIN), kErrIoPending);
  EXPECT_EQ(MapErrno(ENOSPC), ENOSPC);
  const SysError e = SysErrorFromErrno(ENOENT);
  EXPECT_EQ(e.code, 2);
  EXPECT_EQ(e.text, "No such file or directory");
  EXPECT_EQ(ErrorStr(kErrAccessDenied), "Permission denied");
  EXPECT_FALSE(ErrorStr(kErrInvalidName).empty());
}

TEST(KeyStoreFormat, EscapesSurviveParsing) {
  const std::vector<KeyValue> values = {
      {"a=b", "x=y"}, {"ctl", std::string("\x01\t\r\n\\\x7F", 6)}, {"plain", "text \xD0\x96"}, {"", ""}};
  const auto back = ParseKeyValues(SerializeKeyValues(values));
  ASSERT_EQ(back.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(back[i].name, values[i].name);
    EXPECT_EQ(back[i].data, values[i].data);
  }
  // Garbage lines are ignored, not fatal.
  EXPECT_TRUE(ParseKeyValues("# c\nno separator\n\\x\n").empty());
}

TEST(KeyStoreFormat, SubkeyCannotLeaveTheRoot) {
  test::ScopedEnv home("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(KeyFilePath(KeyRoot::kCurrentUser, "..\\..\\etc\\x"), "/cfg/quillmoor/registry/etc/x.reg");
}

TEST(FileUtil, AtomicWriteReplacesAndKeepsMode) {
  test::TempDir dir;
  const std::string path = dir.File("f");
  ASSERT_TRUE(WriteFileAtomically(path, "one", 0640));
  ASSERT_TRUE(WriteFileAtomically(path, "two", 0600));  // an existing file keeps its mode
  EXPECT_EQ(test::ReadFile(path), "two");
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  SysError err;
  EXPECT_FALSE(WriteFileAtomically(dir.File("missing/f"), "x", 0644, &err));
  EXPECT_EQ(err.code, kErrFileNotFound);
  EXPECT_TRUE(MakeDirectories(dir.File("a/b/c")));
  EXPECT_TRUE(MakeDirectories(dir.File("a/b/c")));
  EXPECT_FALSE(MakeDirectories(path + "/sub"));
}

TEST(BlockingQueue, WakeMakesOnePopReturnNothing) {
  BlockingQueue<int> q;
  q.Wake();
  EXPECT_FALSE(q.Pop().has_value());  // a wake before the pop is not lost
  std::optional<int> got = 7;
  std::jthread waiter([&] { got = q.Pop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.Wake();
  waiter.join();
  EXPECT_FALSE(got.has_value());

  q.Push(1);
  q.Push(2);
  q.PushFront(0);
  EXPECT_EQ(q.Size(), 3u);
  EXPECT_EQ(*q.Pop(), 0);
  EXPECT_EQ(q.TakeAll(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(q.PopFor(std::chrono::milliseconds(5)).has_value());
  q.Push(3);
  q.Clear();
  EXPECT_TRUE(q.Empty());
  EXPECT_FALSE(q.Pop().has_value());
}

TEST(BlockingQueue, ConcurrentProducersLoseNothing) {
  BlockingQueue<int> q;
  constexpr int kPerThread = 5000;
  {
    std::vector<std::jthread> producers;
    for (int t = 0; t < 3; ++t) {
      producers.emplace_back([&q] {
        for (int i = 0; i < kPerThread; ++i) q.Push(i);
      });
    }
  }
  long sum = 0;
  int count = 0;
  while (auto v = q.TryPop()) {
    sum += *v;
    ++count;
  }
  EXPECT_EQ(count, 3 * kPerThread);
  EXPECT_EQ(sum, 3L * kPerThread * (kPerThread - 1) / 2);
}

}  // namespace
}  // namespace qm
