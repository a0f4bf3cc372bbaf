#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::RunInChild;
using test::ScopedEnv;
using test::TempDir;
using Status = InstanceLock::Status;

constexpr int kAcquired = 10;
constexpr int kAlreadyRunning = 11;

int TryInChild(const std::string& folder, const std::string& name) {
  return RunInChild([&] {
    const InstanceLock lock = InstanceLock::Acquire(folder, name);
    return lock.status() == Status::kAcquired ? kAcquired
           : lock.status() == Status::kAlreadyRunning ? kAlreadyRunning
                                                       : 1;
  });
}

TEST(InstanceLock, SecondProcessOfTheSameInstanceIsTurnedAway) {
  TempDir dir;
  {
    const InstanceLock mine = InstanceLock::Acquire(dir.path(), "lock-c254");
    ASSERT_EQ(mine.status(), Status::kAcquired);
    EXPECT_EQ(mine.Path(), dir.File("lock-c254.lock"));
    EXPECT_EQ(TryInChild(dir.path(), "lock-c254"), kAlreadyRunning);
    EXPECT_EQ(TryInChild(dir.path(), "lock-c257"), kAcquired);  // another instance runs side by side
    EXPECT_EQ(test::ReadFile(mine.Path()), std::to_string(::getpid()) + "\n");
  }
  // Released with its owner (the file stays, the lock does not).
  EXPECT_EQ(TryInChild(dir.path(), "lock-c254"), kAcquired);

  // A process that ends without cleaning up releases it as well.
  const int rc = RunInChild([&] {
    static InstanceLock held = InstanceLock::Acquire(dir.path(), "lock-c255");
    ::_exit(held.status() == Status::kAcquired ? 0 : 1);
    return 1;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(TryInChild(dir.path(), "lock-c255"), kAcquired);
}

TEST(InstanceLock, FailuresAreReportedNotMistakenForAnotherCopy) {
  TempDir dir;
  const InstanceLock lock = InstanceLock::Acquire(dir.File("missing"), "x");
  EXPECT_EQ(lock.status(), Status::kError);
  EXPECT_EQ(lock.Error().code, 2);
  // A symlink planted under the lock name is not followed.
  ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("x.lock").c_str()), 0);
  EXPECT_EQ(InstanceLock::Acquire(dir.path(), "x").status(), Status::kError);
  EXPECT_FALSE(test::FileExists(dir.File("target")));
}

TEST(InstanceLock, FolderChoice) {
  TempDir dir;
  {
    ScopedEnv run("QMDRIVER_RUN_DIR", dir.File("run/qmdriver"));
    EXPECT_EQ(InstanceLockFolder(true), dir.File("run/qmdriver"));
    EXPECT_TRUE(test::FileExists(dir.File("run/qmdriver")));
  }
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(InstanceLockFolder(false), dir.path());
  }
  {
    // Without a runtime folder: a private folder in the temporary folder.
    ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmp("TMPDIR", dir.path());
    const std::string folder = InstanceLockFolder(false);
    EXPECT_EQ(folder, dir.File("qmdriver-" + std::to_string(::geteuid())));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A folder others can write to is refused.
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    SysError err;
    EXPECT_EQ(InstanceLockFolder(false, &err), "");
    EXPECT_EQ(err.code, 5);
  }
}

}  // namespace
}  // namespace qm
