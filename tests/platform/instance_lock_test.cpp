#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::TempDir;
using Status = InstanceLock::Status;

// The status another process gets for the lock.
int TryInChild(const std::string& folder, const std::string& name) {
  return test::RunInChild([&] { return static_cast<int>(InstanceLock::Acquire(folder, name).status()); });
}
constexpr int kAcquired = static_cast<int>(Status::kAcquired);
constexpr int kAlreadyRunning = static_cast<int>(Status::kAlreadyRunning);

TEST(InstanceLock, SecondProcessOfTheSameInstanceIsTurnedAway) {
  TempDir dir;
  {
    const InstanceLock mine = InstanceLock::Acquire(dir.path(), "lock-c254");
    ASSERT_EQ(mine.status(), Status::kAcquired);
    EXPECT_EQ(TryInChild(dir.path(), "lock-c254"), kAlreadyRunning);
    EXPECT_EQ(TryInChild(dir.path(), "lock-c257"), kAcquired);  // other instances run side by side
    EXPECT_EQ(test::ReadFile(dir.File("lock-c254.lock")), std::to_string(::getpid()) + "\n");
  }
  EXPECT_EQ(TryInChild(dir.path(), "lock-c254"), kAcquired);  // released with its owner

  // A process that ends without any clean-up releases it as well.
  EXPECT_EQ(test::RunInChild([&] {
              static InstanceLock held = InstanceLock::Acquire(dir.path(), "lock-c255");
              ::_exit(held.status() == Status::kAcquired ? 0 : 1);
              return 1;
            }),
            0);
  EXPECT_EQ(TryInChild(dir.path(), "lock-c255"), kAcquired);
}

TEST(InstanceLock, FailuresAreNotMistakenForAnotherCopy) {
  TempDir dir;
  const InstanceLock missing = InstanceLock::Acquire(dir.File("missing"), "x");
  EXPECT_EQ(missing.status(), Status::kError);
  EXPECT_EQ(missing.Error().code, 2);
  // A symlink planted under the lock name is not followed.
  ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("x.lock").c_str()), 0);
  EXPECT_EQ(InstanceLock::Acquire(dir.path(), "x").status(), Status::kError);
  EXPECT_FALSE(test::FileExists(dir.File("target")));
  // In a folder others may write to, another user could take the name first.
  ASSERT_EQ(::mkdir(dir.File("shared").c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.File("shared").c_str(), 0777), 0);
  const InstanceLock shared = InstanceLock::Acquire(dir.File("shared"), "y");
  EXPECT_EQ(shared.status(), Status::kError);
  EXPECT_EQ(shared.Error().code, 5);
  EXPECT_FALSE(test::FileExists(dir.File("shared/y.lock")));
}

}  // namespace
}  // namespace qm
